// The rows of a worksheet as a stream of tags and text: the part cut around them, their cells read one by one.
// The walker that checks and rewrites them is RowWalker.h; large rows on several cores, RowsSideBySide.cpp.
#include "engine/workbook/SheetStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/EngineError.h"
#include "engine/formula/CellReference.h"
#include "engine/package/Package.h"
#include "engine/package/Xml.h"
#include "engine/package/Zip.h"
#include "engine/workbook/RowScanner.h"
#include "engine/workbook/SharedFormulas.h"
#include "engine/workbook/SheetNames.h"
#include "platform/Threads.h"

namespace orv::engine {

using namespace rows;


std::string WorksheetPieces::Skeleton() const {
    return std::string(head) + "<" + qualifiedName + "/>" + std::string(tail);
}

namespace rows {

// The rows' start tag: sets the head, start tag and qualified name of `pieces`; false when there is none. Found
// alike in the whole part and in a beginning of it that holds the tag.
bool SplitWorksheetStart(std::string_view xml, WorksheetPieces& pieces) {
    const std::size_t start = FindTag(xml, 0, "sheetData", false);
    if (start == std::string_view::npos) return false;
    // The start tag ends at the first '>' outside quotes.
    std::size_t i = start + 1;
    char quote = 0;
    for (; i < xml.size(); ++i) {
        if (quote) {
            if (xml[i] == quote) quote = 0;
        } else if (xml[i] == '"' || xml[i] == '\'') {
            quote = xml[i];
        } else if (xml[i] == '>') {
            break;
        }
    }
    if (i >= xml.size()) return false;
    const std::size_t startEnd = i + 1;
    std::size_t nameEnd = start + 1;
    while (nameEnd < xml.size() && !IsSpace(xml[nameEnd]) && xml[nameEnd] != '>' && xml[nameEnd] != '/')
        ++nameEnd;
    pieces.qualifiedName = std::string(xml.substr(start + 1, nameEnd - start - 1));
    pieces.head = xml.substr(0, start);
    pieces.startTag = xml.substr(start, startEnd - start);
    return true;
}

}  // namespace rows

bool SplitWorksheet(std::string_view xml, WorksheetPieces& pieces) {
    if (!SplitWorksheetStart(xml, pieces)) return false;
    const std::size_t startEnd = pieces.head.size() + pieces.startTag.size();
    if (pieces.startTag.ends_with("/>")) {
        pieces.body = pieces.endTag = {};
        pieces.tail = xml.substr(startEnd);
        return true;
    }
    // The end tag is looked for from the end: the rows can be most of a large part, and only a few small
    // elements follow them. A tail holding comments, CDATA or processing instructions could hide a look-alike;
    // then the rows are walked from the start.
    std::size_t close = xml.rfind("</" + pieces.qualifiedName);
    if (close != std::string_view::npos && close >= startEnd) {
        const std::string_view after = xml.substr(close);
        std::size_t n = 2 + pieces.qualifiedName.size();
        while (n < after.size() && IsSpace(after[n])) ++n;
        const bool plain = after.find("-->") == std::string_view::npos &&
                           after.find("]]>") == std::string_view::npos && after.find("?>") == std::string_view::npos;
        if (n >= after.size() || after[n] != '>' || !plain) close = FindTag(xml, startEnd, "sheetData", true);
    } else {
        close = FindTag(xml, startEnd, "sheetData", true);
    }
    if (close == std::string_view::npos) return false;
    const auto closeEnd = xml.find('>', close);
    if (closeEnd == std::string_view::npos) return false;
    pieces.body = xml.substr(startEnd, close - startEnd);
    pieces.endTag = xml.substr(close, closeEnd + 1 - close);
    pieces.tail = xml.substr(closeEnd + 1);
    return true;
}

std::string AsUtf8(std::string text, const std::string& part, const std::string& fileName) {
    if (IsUtf8Text(text)) return text;
    pugi::xml_document doc;
    ParseXml(doc, text, part, fileName);
    return SerializeXml(doc, WhitespaceAfterDeclaration(text));
}

std::string ReadAsUtf8(Package& package, const std::string& part) {
    return AsUtf8(package.Read(part), part, package.displayName());
}

void ForEachCell(std::string_view body, const std::function<void(const CellValue&)>& cell,
                 const std::string& partName, const std::string& fileName) {
    try {
        Scanner scanner(body);
        Token t;
        std::vector<std::string_view> stack;  // local names
        std::vector<std::string_view> names;  // qualified names, for matching end tags
        std::vector<Attribute> attrs;
        CellValue current;
        // Inline strings show the text of their runs, not of their phonetic guides.
        auto inShownText = [&] {
            if (stack.size() < 4 || stack[2] != "is" || stack.back() != "t") return false;
            return std::find(stack.begin(), stack.end(), "rPh") == stack.end();
        };
        while (scanner.Next(t, &attrs)) {
            switch (t.kind) {
                case TokenKind::Text:
                    if (stack.size() == 3 && stack[1] == "c" && stack[2] == "v") {
                        AppendDecoded(current.value, t.text, t.cdata);
                    } else if (inShownText()) {
                        AppendDecoded(current.value, t.text, t.cdata);
                    }
                    break;
                case TokenKind::End:
                    if (names.empty() || names.back() != t.name)
                        throw MalformedRows{"an end tag that does not match its start tag", t.begin};
                    names.pop_back();
                    stack.pop_back();
                    if (stack.size() == 1 && Local(t.name) == "c") cell(current);
                    break;
                case TokenKind::Start:
                case TokenKind::Empty: {
                    const std::string_view local = Local(t.name);
                    if (stack.size() == 1 && local == "c" && stack[0] == "row") {
                        current = CellValue{};
                        current.type = Find(attrs, "t");
                        ParseCellReference(Find(attrs, "r"), current.row, current.column);
                        if (t.kind == TokenKind::Empty) cell(current);
                    } else if (stack.size() == 2 && local == "v" && stack[1] == "c") {
                        current.hasValue = true;
                    }
                    if (t.kind == TokenKind::Start) {
                        if (stack.size() >= kMaxDepth)
                            throw MalformedRows{"elements nested too deep", t.begin};
                        stack.push_back(local);
                        names.push_back(t.name);
                    }
                    break;
                }
                case TokenKind::Other:
                    break;
            }
        }
        if (!stack.empty()) throw MalformedRows{"an element that is never closed", body.size()};
    } catch (const MalformedRows& e) {
        throw NotWellFormed(e, partName, fileName);
    }
}

void ForEachCellOfPart(Package& package, const std::string& part, const std::function<void(const CellValue&)>& cell) {
    const std::string fileName = package.displayName();
    // The rows go to ForEachCell in runs cut after a row's end tag. Anything unusual (another encoding, a cut
    // that does not hold because the tag stood in a comment or CDATA) sends the part down the whole-text road,
    // which skips the cells already reported: both roads report the cells in document order.
    int reported = 0;
    auto whole = [&] {
        const std::string text = ReadAsUtf8(package, part);
        WorksheetPieces pieces;
        if (!SplitWorksheet(text, pieces)) return;
        int seen = 0;
        ForEachCell(
            pieces.body,
            [&](const CellValue& c) {
                if (++seen > reported) cell(c);
            },
            part, fileName);
    };
    struct Unusual {};
    std::string buffer;
    std::string rowEnd;  // "</row>" with the part's prefix, once the rows began
    bool ended = false;
    auto runRows = [&](std::size_t length) {
        std::vector<CellValue> run;
        // A run is reported only once it parsed whole, so that a failed cut reports nothing twice.
        ForEachCell(
            std::string_view(buffer).substr(0, length), [&](const CellValue& c) { run.push_back(c); }, part,
            fileName);
        for (const auto& c : run) {
            ++reported;
            cell(c);
        }
        buffer.erase(0, length);
    };
    try {
        package.ReadInPieces(part, [&](std::string_view piece) {
            if (ended) return;
            if (rowEnd.empty() && buffer.empty() && !IsUtf8Text(piece)) throw Unusual{};
            buffer.append(piece);
            if (rowEnd.empty()) {
                const std::size_t start = FindTag(buffer, 0, "sheetData", false);
                if (start == std::string::npos) return;
                const std::size_t close = buffer.find('>', start);
                if (close == std::string::npos) return;
                if (buffer[close - 1] == '/') {
                    ended = true;
                    return;
                }
                const std::string name =
                    buffer.substr(start + 1, buffer.find_first_of(" \t\r\n/>", start) - start - 1);
                rowEnd = "</" + name.substr(0, name.size() - std::string_view("sheetData").size()) + "row>";
                buffer.erase(0, close + 1);
            }
            const std::size_t last = buffer.rfind(rowEnd);
            if (last != std::string::npos) runRows(last + rowEnd.size());
        });
        if (!ended) {
            if (rowEnd.empty()) throw Unusual{};
            const std::size_t close = FindTag(buffer, 0, "sheetData", true);
            if (close == std::string::npos) throw Unusual{};
            runRows(close);
        }
    } catch (const Unusual&) {
        whole();
    } catch (const EngineError&) {
        // The whole text fails as well when the part is really damaged, with its own description.
        whole();
    }
}

void FirstUses::Note(int value) {
    // Indices name styles and strings: a few million at most, kept as bits; anything beyond is a damaged file.
    constexpr std::size_t kNear = 1u << 24;
    if (value >= 0 && static_cast<std::size_t>(value) < kNear) {
        const auto at = static_cast<std::size_t>(value);
        if (at >= m_seen.size()) m_seen.resize(std::min(kNear, std::max(at + 1, m_seen.size() * 2)), false);
        if (m_seen[at]) return;
        m_seen[at] = true;
    } else if (!m_seenFar.insert(value).second) {
        return;
    }
    m_order.push_back(value);
}

void FirstUses::NoteAll(const FirstUses& later) {
    for (int value : later.m_order) Note(value);
}

void RewriteSheetData(std::string_view body, const SheetDataScan& scan, const CellRewrite& rewrite,
                      const std::function<void(std::string_view)>& out) {
    RewriteSheetDataSideBySide(body, scan, rewrite, {out});
}

}  // namespace orv::engine
