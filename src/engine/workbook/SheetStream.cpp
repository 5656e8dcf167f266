// The rows of a worksheet as a stream of tags and text: one walker checks them, collects their formulas and,
// on its second pass, writes them back with styles, shared strings and formulas rewritten.
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

#include "engine/formula/CellReference.h"
#include "engine/system/EngineError.h"
#include "engine/package/Package.h"
#include "engine/workbook/SharedFormulas.h"
#include "engine/workbook/SheetNames.h"
#include "engine/system/Threads.h"
#include "engine/package/Xml.h"
#include "engine/package/Zip.h"

namespace orv::engine {

namespace {

// As deep as the tree parser allows; rows nest three levels, so anything near it is hostile.
constexpr std::size_t kMaxDepth = 1000;

struct MalformedRows {
    std::string what;
    std::size_t offset;
};

EngineError NotWellFormed(const MalformedRows& e, const std::string& partName, const std::string& fileName) {
    return EngineError("The part \"" + partName + "\" of \"" + fileName + "\" is not well-formed XML (" + e.what +
                       " in its rows, at byte " + std::to_string(e.offset) +
                       " of them). Open the file in the spreadsheet application to repair it.");
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Names are a few characters long: a plain loop beats a call into the C library for each of them.
std::string_view Local(std::string_view qualified) {
    for (std::size_t i = 0; i < qualified.size(); ++i) {
        if (qualified[i] == ':') return qualified.substr(i + 1);
    }
    return qualified;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// The characters that end a run inside a start tag: its end, a stray '<', or a quote opening a value.
struct TagStops {
    bool stop[256] = {};
    constexpr TagStops() {
        for (unsigned char c : {'>', '<', '"', '\''}) stop[c] = true;
    }
};
constexpr TagStops kTagStops;

struct Attribute {
    std::string_view name;
    std::string_view value;          // raw, between the quotes
    std::size_t begin = 0, end = 0;  // the whole name="value" within the attribute text
};

enum class TokenKind { Start, Empty, End, Text, Other };

// Only the fields of the token's kind are set: name and attrs for tags, text and cdata for text.
struct Token {
    TokenKind kind = TokenKind::Other;
    std::size_t begin = 0, end = 0;
    std::string_view name;   // start, empty and end tags
    std::string_view attrs;  // start and empty tags: between the name and > or />
    std::string_view text;   // text and CDATA content, raw
    bool cdata = false;
};

class Scanner {
  public:
    explicit Scanner(std::string_view s) : m_s(s) {}

    // The next token; a start tag's attributes go to `attrs` when it is given (checked either way).
    bool Next(Token& t, std::vector<Attribute>* attrs = nullptr) {
        const std::size_t size = m_s.size();
        if (m_pos >= size) return false;
        const char* s = m_s.data();
        t.begin = m_pos;
        if (s[m_pos] != '<') {
            const void* lt = std::memchr(s + m_pos, '<', size - m_pos);
            m_pos = lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - s) : size;
            t.kind = TokenKind::Text;
            t.cdata = false;
            t.text = View(t.begin, m_pos - t.begin);
            t.end = m_pos;
            return true;
        }
        const char second = m_pos + 1 < size ? s[m_pos + 1] : '\0';
        if (second == '/') {
            // End tags are a few characters long: a plain loop beats a call into the C library.
            std::size_t gt = m_pos + 2;
            while (gt < size && s[gt] != '>') ++gt;
            if (gt >= size) throw MalformedRows{"an unterminated end tag", m_pos};
            std::string_view name = View(m_pos + 2, gt - m_pos - 2);
            while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
            if (name.empty()) throw MalformedRows{"an end tag without a name", m_pos};
            t.kind = TokenKind::End;
            t.name = name;
            m_pos = gt + 1;
        } else if (second == '!') {
            t.kind = TokenKind::Other;
            if (Starts("<!--")) {
                Skip("-->", "an unterminated comment");
            } else if (Starts("<![CDATA[")) {
                const std::size_t start = m_pos + 9;
                Skip("]]>", "an unterminated CDATA section");
                t.kind = TokenKind::Text;
                t.cdata = true;
                t.text = View(start, m_pos - 3 - start);
            } else {
                throw MalformedRows{"a declaration inside the rows", m_pos};
            }
        } else if (second == '?') {
            t.kind = TokenKind::Other;
            Skip("?>", "an unterminated processing instruction");
        } else {
            StartTag(t, attrs);
        }
        t.end = m_pos;
        return true;
    }

    // Goes on from `pos`, which a caller found to be the start of a token.
    void Seek(std::size_t pos) { m_pos = pos; }

  private:
    // A view of text the scanner has already bounded: no check, no exception.
    std::string_view View(std::size_t from, std::size_t n) const { return {m_s.data() + from, n}; }

    bool Starts(const char* prefix) const { return m_s.compare(m_pos, std::strlen(prefix), prefix) == 0; }

    void Skip(const char* terminator, const char* what) {
        const auto at = m_s.find(terminator, m_pos + 2);
        if (at == std::string_view::npos) throw MalformedRows{what, m_pos};
        m_pos = at + std::strlen(terminator);
    }

    // A start tag and its attributes, each name="value" (or 'value'): a '>' inside a value does not end the
    // tag, a '<' anywhere is an error.
    void StartTag(Token& t, std::vector<Attribute>* attrs) {
        const char* s = m_s.data();
        const std::size_t size = m_s.size();
        std::size_t i = m_pos + 1;
        while (i < size && !IsSpace(s[i]) && s[i] != '>' && s[i] != '/' && s[i] != '<') ++i;
        t.name = View(m_pos + 1, i - m_pos - 1);
        if (t.name.empty()) throw MalformedRows{"a tag without a name", m_pos};
        const std::size_t base = i;
        if (attrs) attrs->clear();
        for (;;) {
            while (i < size && IsSpace(s[i])) ++i;
            if (i >= size || s[i] == '<') throw MalformedRows{"an unterminated tag", m_pos};
            if (s[i] == '>' || (s[i] == '/' && i + 1 < size && s[i + 1] == '>')) break;
            Attribute a;
            a.begin = i - base;
            while (i < size && !IsSpace(s[i]) && !kTagStops.stop[static_cast<unsigned char>(s[i])] && s[i] != '=' &&
                   s[i] != '/')
                ++i;
            a.name = View(base + a.begin, i - base - a.begin);
            while (i < size && IsSpace(s[i])) ++i;
            if (a.name.empty() || i >= size || s[i] != '=')
                throw MalformedRows{"an attribute without a value", base + a.begin};
            ++i;
            while (i < size && IsSpace(s[i])) ++i;
            if (i >= size || (s[i] != '"' && s[i] != '\''))
                throw MalformedRows{"an attribute value without quotes", base + a.begin};
            const char quote = s[i];
            std::size_t close = i + 1;
            while (close < size && s[close] != quote && s[close] != '<') ++close;
            if (close >= size || s[close] == '<') {
                // Either the value never ends, or it holds a '<'.
                if (close >= size || m_s.find(quote, close) == std::string_view::npos)
                    throw MalformedRows{"an unterminated attribute value", i};
                throw MalformedRows{"a '<' inside an attribute value", i};
            }
            a.value = View(i + 1, close - i - 1);
            i = close + 1;
            a.end = i - base;
            if (attrs) attrs->push_back(a);
        }
        const bool empty = s[i] == '/';
        t.kind = empty ? TokenKind::Empty : TokenKind::Start;
        t.attrs = View(base, i - base);
        m_pos = i + (empty ? 2 : 1);
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
};

std::string_view Find(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (SameName(a.name, name)) return a.value;
    }
    return {};
}

const Attribute* FindAttribute(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (SameName(a.name, name)) return &a;
    }
    return nullptr;
}

bool Has(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (SameName(a.name, name)) return true;
    }
    return false;
}

// A cell's style or shared-string index written as a number is written again, or -1 for any other text.
int SmallNumber(std::string_view text) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return -1;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Character data as a parser reports it: the five entities and character references resolved, line ends
// normalised. Unknown entities stay as written, as the tree parser leaves them.
void AppendDecoded(std::string& out, std::string_view raw, bool cdata) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            continue;
        }
        if (c != '&' || cdata) {
            out += c;
            continue;
        }
        const auto semi = raw.find(';', i);
        const std::string_view entity =
            semi == std::string_view::npos ? std::string_view{} : raw.substr(i + 1, semi - i - 1);
        char32_t code = 0;
        bool known = true;
        if (entity == "amp")
            code = '&';
        else if (entity == "lt")
            code = '<';
        else if (entity == "gt")
            code = '>';
        else if (entity == "quot")
            code = '"';
        else if (entity == "apos")
            code = '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            known = !digits.empty() && digits.size() <= 8;
            for (char d : digits) {
                int v = -1;
                if (d >= '0' && d <= '9')
                    v = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F')
                    v = d - 'A' + 10;
                if (v < 0)
                    known = false;
                else
                    code = code * (hex ? 16 : 10) + static_cast<char32_t>(v);
            }
            if (code > 0x10FFFF) known = false;
        } else {
            known = false;
        }
        if (!known) {
            out += c;
            continue;
        }
        AppendUtf8(out, code);
        i = semi;
    }
}

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}


// A cell's style or shared-string index as the rewrite reads it.
int AsIndex(std::string_view text) {
    const int written = SmallNumber(text);
    return written >= 0 ? written : std::atoi(std::string(text).c_str());
}

// A shared formula group's master as the rewrite writes it.
struct Master {
    int row = 0, column = 0;
    std::string rewritten;
    bool unshare = false;
};
using Masters = std::map<std::string, Master>;

// Answers mapped ahead, read by several threads at once.
class MappedAhead {
  public:
    explicit MappedAhead(std::size_t nearLimit) : m_nearLimit(nearLimit) {}
    void Set(int from, int to) {
        if (from >= 0 && static_cast<std::size_t>(from) < m_nearLimit) {
            const auto at = static_cast<std::size_t>(from);
            if (at >= m_near.size()) m_near.resize(at + 1, -1);
            m_near[at] = to;
        } else {
            m_far[from] = to;
        }
    }
    std::optional<int> Find(int from) const {
        if (from >= 0 && static_cast<std::size_t>(from) < m_near.size() && m_near[static_cast<std::size_t>(from)] >= 0)
            return m_near[static_cast<std::size_t>(from)];
        if (auto it = m_far.find(from); it != m_far.end()) return it->second;
        return std::nullopt;
    }

  private:
    std::size_t m_nearLimit;
    std::vector<int> m_near;  // -1 for none
    std::map<int, int> m_far;
};

// What the walkers of every piece read while they rewrite: the styles and shared strings mapped in the order one
// pass asks for them, so that the target's tables grow alike however many pieces are written (a value the scan
// did not note is mapped when asked, one at a time), and the shared groups' masters rewritten.
class RewriteAhead {
  public:
    RewriteAhead(const SheetDataScan& scan, const CellRewrite& rewrite) : rewrite(rewrite) {
        if (rewrite.style) {
            for (int xf : scan.styles.order()) m_styles.Set(xf, rewrite.style(xf));
        }
        if (rewrite.sharedString) {
            for (int index : scan.sharedStrings.order()) m_strings.Set(index, rewrite.sharedString(index));
        }
        for (const auto& [si, master] : scan.masters) {
            Master m{master.row, master.column, rewrite.formula ? rewrite.formula(master.formula) : master.formula,
                     false};
            m.unshare = rewrite.unshare && rewrite.unshare(m.rewritten);
            m_masters.emplace(si, std::move(m));
        }
    }

    int Style(int xf) { return Answer(m_styles, rewrite.style, xf); }
    int SharedString(int index) { return Answer(m_strings, rewrite.sharedString, index); }
    const Masters& masters() const { return m_masters; }

    const CellRewrite& rewrite;

  private:
    int Answer(const MappedAhead& ahead, const std::function<int(int)>& map, int from) {
        if (const auto mapped = ahead.Find(from)) return *mapped;
        std::lock_guard lock(m_late);
        return map(from);
    }

    MappedAhead m_styles{1u << 16}, m_strings{1u << 24};
    Masters m_masters;
    std::mutex m_late;
};

// One pass over the rows: checks them and collects formulas (scanning), or writes them rewritten.
class RowWalker {
  public:
    // A scan.
    explicit RowWalker(std::string_view body) : m_body(body), m_scanner(body) {}
    // A rewrite.
    RowWalker(std::string_view body, RewriteAhead& ahead, const std::function<void(std::string_view)>& out)
        : m_body(body), m_scanner(body), m_rewrite(&ahead.rewrite), m_out(&out), m_ahead(&ahead) {}

    void Scan(const std::function<void(std::string_view)>& formula, SheetDataScan& scan) {
        m_formula = &formula;
        m_scan = &scan;
        Walk();
    }

    void Write() {
        Walk();
        Emit(m_body.size());
        Flush();
    }

  private:

    // The elements the rows hold that the walk looks at.
    enum class Known : std::uint8_t { Other, Row, Cell, Formula, Value };
    static Known Classify(std::string_view local) {
        if (local.size() == 1) {
            return local[0] == 'c' ? Known::Cell : local[0] == 'f' ? Known::Formula : local[0] == 'v' ? Known::Value
                                                                                                      : Known::Other;
        }
        return local.size() == 3 && local[0] == 'r' && local[1] == 'o' && local[2] == 'w' ? Known::Row : Known::Other;
    }
    struct Open {
        std::string_view name;  // qualified, for matching its end tag
        Known kind;
    };

    void Walk() {
        Token t;
        while (m_scanner.Next(t, &m_attrs)) {
            if (t.kind == TokenKind::End) {
                if (m_stack.empty() || !SameName(m_stack.back().name, t.name))
                    throw MalformedRows{"an end tag that does not match its start tag", t.begin};
                m_stack.pop_back();
                continue;
            }
            if (t.kind != TokenKind::Start && t.kind != TokenKind::Empty) continue;
            const Known kind = Classify(Local(t.name));
            const std::size_t depth = m_stack.size();
            const Known parent = depth ? m_stack.back().kind : Known::Other;
            if (depth == 0 && kind == Known::Row) {
                RestyleTag(t, false);
            } else if (depth == 1 && kind == Known::Cell && parent == Known::Row) {
                m_cellType = Find(m_attrs, "t");
                m_cellReference = Find(m_attrs, "r");
                RestyleTag(t, true);
            } else if (depth == 2 && parent == Known::Cell && kind == Known::Formula) {
                Formula(t);
                continue;
            } else if (depth == 2 && parent == Known::Cell && kind == Known::Value) {
                if (m_cellType.size() == 1 && m_cellType[0] == 's') {
                    SharedStringValue(t);
                    continue;
                }
                // Any other value stays as it is: a plain one is passed over with its end tag, in one step
                // instead of three (most cells of a large sheet are numbers).
                std::size_t endTag = 0, end = 0;
                if (PlainText(t, endTag, end)) continue;
            }
            if (t.kind == TokenKind::Start) {
                if (m_stack.size() >= kMaxDepth) throw MalformedRows{"elements nested too deep", t.begin};
                m_stack.push_back({t.name, kind});
            }
        }
        if (!m_stack.empty()) throw MalformedRows{"an element that is never closed", m_body.size()};
    }

    // The text of the element `start` opened when it is plain (characters a parser reports as they stand, then
    // its own end tag, written tight), with its end tag consumed: where that tag begins in `endTag`, where it ends
    // in `end`. Nearly every value of a sheet is plain; the rest go through ElementText's general road.
    std::optional<std::string_view> PlainText(const Token& start, std::size_t& endTag, std::size_t& end) {
        if (start.kind != TokenKind::Start) return std::nullopt;
        const std::size_t from = start.end;
        const char* data = m_body.data();
        const std::size_t size = m_body.size();
        // Values are short: one plain loop finds the text's end and anything that keeps it from being plain.
        std::size_t at = from;
        while (at < size && data[at] != '<') {
            if (data[at] == '&' || data[at] == '\r') return std::nullopt;
            ++at;
        }
        const std::size_t close = at + 2 + start.name.size();
        if (close >= size || data[at + 1] != '/' || data[close] != '>' ||
            !SameName(std::string_view(data + at + 2, start.name.size()), start.name))
            return std::nullopt;
        const std::string_view text(data + from, at - from);
        endTag = at;
        end = close + 1;
        m_scanner.Seek(end);
        return text;
    }

    // The decoded text of the element `start` opened, up to its end tag, which is consumed; `end` is where
    // that tag ends.
    std::string ElementText(const Token& start, std::size_t& end) {
        std::string text;
        end = start.end;
        if (start.kind == TokenKind::Empty) return text;
        std::size_t endTag = 0;
        if (const auto plain = PlainText(start, endTag, end)) return std::string(*plain);
        Token t;
        int depth = 0;
        while (m_scanner.Next(t)) {
            if (t.kind == TokenKind::Text) {
                AppendDecoded(text, t.text, t.cdata);
            } else if (t.kind == TokenKind::Start) {
                if (++depth >= static_cast<int>(kMaxDepth))
                    throw MalformedRows{"elements nested too deep", t.begin};
            } else if (t.kind == TokenKind::End) {
                if (depth-- == 0) {
                    if (t.name != start.name)
                        throw MalformedRows{"an end tag that does not match its start tag", t.begin};
                    end = t.end;
                    return text;
                }
            }
        }
        throw MalformedRows{"an element that is never closed", start.begin};
    }

    // The output is gathered into runs of a few hundred KB: a sheet changes a few bytes of nearly every cell,
    // and handing over each piece on its own costs more than copying it.
    void Emit(std::size_t upTo) {
        if (upTo > m_copied) Put(m_body.substr(m_copied, upTo - m_copied));
        m_copied = upTo;
    }
    void Replace(std::size_t begin, std::size_t end, std::string_view with) {
        Emit(begin);
        Put(with);
        m_copied = end;
    }
    void Put(std::string_view bytes) {
        static constexpr std::size_t kRun = 256 * 1024;
        if (m_pending.size() + bytes.size() > kRun) Flush();
        if (bytes.size() >= kRun) {
            (*m_out)(bytes);
            return;
        }
        if (m_pending.capacity() < kRun) m_pending.reserve(kRun);
        m_pending.append(bytes);
    }
    void Flush() {
        if (!m_pending.empty()) (*m_out)(m_pending);
        m_pending.clear();
    }

    // A start tag with its s attribute mapped. A cell without one has the first format, which may map to
    // another: it gets the attribute, or it would take the look of the target's first format.
    void RestyleTag(const Token& t, bool cell) {
        const Attribute* s = FindAttribute(m_attrs, "s");
        if (!s && !cell) return;
        const int from = s ? AsIndex(s->value) : 0;
        if (!m_out) {
            // The scan notes what the rewrite will ask, in the order it will ask it.
            m_scan->styles.Note(from);
            return;
        }
        if (!m_rewrite->style) return;
        const int to = m_ahead->Style(from);
        const std::size_t base = t.begin + 1 + t.name.size();
        if (!s) {
            if (to != 0) Replace(base, base, " s=\"" + std::to_string(to) + "\"");
            return;
        }
        if (to == SmallNumber(s->value)) return;
        const std::string mapped = std::to_string(to);
        if (mapped == s->value) return;
        const std::size_t valueBegin = base + s->end - 1 - s->value.size();
        Replace(valueBegin, valueBegin + s->value.size(), mapped);
    }

    void SharedStringValue(const Token& t) {
        std::size_t end = 0;
        std::size_t endTag = 0;
        if (const auto plain = PlainText(t, endTag, end)) {
            if (!m_out) {
                NoteSharedString(*plain);
            } else if (m_rewrite->sharedString && !plain->empty()) {
                const int written = SmallNumber(*plain);
                const int to = m_ahead->SharedString(AsIndex(*plain));
                if (to != written) Replace(t.end, endTag, std::to_string(to));
            }
            return;
        }
        const std::string text = ElementText(t, end);
        if (!m_out) {
            NoteSharedString(text);
            return;
        }
        if (!m_rewrite->sharedString || text.empty()) return;
        const std::string mapped = std::to_string(m_ahead->SharedString(AsIndex(text)));
        const std::string_view tag = m_body.substr(t.begin, t.end - t.begin);
        Replace(t.begin, end, std::string(tag) + mapped + "</" + std::string(t.name) + ">");
    }

    void NoteSharedString(std::string_view text) {
        if (!text.empty()) m_scan->sharedStrings.Note(AsIndex(text));
        long long index = 0;
        const bool number = !text.empty() && text.size() <= 12 &&
                            text.find_first_not_of("0123456789") == std::string_view::npos;
        if (number) {
            for (char c : text) index = index * 10 + (c - '0');
        } else {
            index = std::numeric_limits<long long>::max();
        }
        if (index <= m_scan->highestSharedString) return;
        m_scan->highestSharedString = index;
        ParseCellReference(m_cellReference, m_scan->sharedStringRow, m_scan->sharedStringColumn);
    }

    void Formula(const Token& t) {
        std::size_t end = 0;
        const std::string text = ElementText(t, end);
        const bool shared = Find(m_attrs, "t") == "shared";
        const std::string si(Find(m_attrs, "si"));
        if (!m_out) {
            if (!text.empty()) (*m_formula)(text);
            if (shared && Has(m_attrs, "ref") && !text.empty()) {
                SharedMaster& master = m_scan->masters[si];
                ParseCellReference(m_cellReference, master.row, master.column);
                master.formula = text;
            }
            return;
        }
        const Masters& masters = m_ahead->masters();
        const auto master = shared ? masters.find(si) : masters.end();
        if (master != masters.end() && master->second.unshare) {
            // The group is written out: this cell gets its own formula and leaves the group.
            std::string formula;
            if (text.empty()) {
                int row = 0, column = 0;
                ParseCellReference(m_cellReference, row, column);
                formula = ShiftFormula(master->second.rewritten, row - master->second.row, column - master->second.column);
            } else {
                formula = Has(m_attrs, "ref") ? master->second.rewritten : Rewritten(text);
            }
            const std::string_view attrText = t.attrs;
            std::string tag = "<" + std::string(t.name);
            for (const auto& a : m_attrs) {
                if (a.name == "t" || a.name == "ref" || a.name == "si") continue;
                tag += ' ';
                tag += attrText.substr(a.begin, a.end - a.begin);
            }
            Replace(t.begin, end, tag + ">" + Escaped(formula) + "</" + std::string(t.name) + ">");
            return;
        }
        if (text.empty() || !m_rewrite->formula) return;
        const std::string formula = Rewritten(text);
        if (formula == text) return;
        const std::string_view tag = m_body.substr(t.begin, t.end - t.begin);
        Replace(t.begin, end, std::string(tag) + Escaped(formula) + "</" + std::string(t.name) + ">");
    }

    std::string Rewritten(const std::string& text) const {
        return m_rewrite->formula ? m_rewrite->formula(text) : text;
    }

    std::string_view m_body;
    Scanner m_scanner;
    const CellRewrite* m_rewrite = nullptr;
    const std::function<void(std::string_view)>* m_out = nullptr;
    const std::function<void(std::string_view)>* m_formula = nullptr;
    SheetDataScan* m_scan = nullptr;
    RewriteAhead* m_ahead = nullptr;
    std::vector<Open> m_stack;
    std::vector<Attribute> m_attrs;
    std::string_view m_cellType;
    std::string_view m_cellReference;  // the current cell's r, read only where a formula or a message needs it
    std::size_t m_copied = 0;
    std::string m_pending;
};

// The offset of the next tag named `local` (any prefix) at or after `from`, outside comments, CDATA and
// processing instructions; npos when there is none. `end` selects end tags.
std::size_t FindTag(std::string_view xml, std::size_t from, std::string_view local, bool end) {
    for (std::size_t i = xml.find('<', from); i != std::string_view::npos; i = xml.find('<', i + 1)) {
        if (xml.compare(i, 4, "<!--") == 0) {
            i = xml.find("-->", i + 4);
        } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
            i = xml.find("]]>", i + 9);
        } else if (xml.compare(i, 2, "<?") == 0) {
            i = xml.find("?>", i + 2);
        } else {
            std::size_t n = i + 1;
            if (end != (n < xml.size() && xml[n] == '/')) continue;
            if (end) ++n;
            std::size_t stop = n;
            while (stop < xml.size() && !IsSpace(xml[stop]) && xml[stop] != '>' && xml[stop] != '/') ++stop;
            if (Local(xml.substr(n, stop - n)) == local) return i;
            continue;
        }
        if (i == std::string_view::npos) return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::string WorksheetPieces::Skeleton() const {
    return std::string(head) + "<" + qualifiedName + "/>" + std::string(tail);
}

namespace {

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

}  // namespace

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

namespace {


// Just after the first row end tag at or after `from` in `xml`; npos when there is none.
std::size_t RowEndAfter(std::string_view xml, std::size_t from) {
    const std::size_t tag = FindTag(xml, from, "row", true);
    if (tag == std::string_view::npos) return tag;
    const auto gt = xml.find('>', tag);
    return gt == std::string_view::npos ? gt : gt + 1;
}

// Where to cut large rows into one piece per core: just after the end of a row found past each share. A cut
// that is not really between two rows (the end tag stood in a comment) makes a piece fail its scan, and the
// rows are then scanned whole.
std::vector<std::size_t> CandidateCuts(std::string_view body) {
    std::vector<std::size_t> cuts;
    const unsigned cores = WorkerThreads();
    if (body.size() < kRowsOnSeveralCoresFrom || cores < 2) return cuts;
    for (unsigned i = 1; i < cores; ++i) {
        const std::size_t from = std::max(cuts.empty() ? 0 : cuts.back(), body.size() / cores * i);
        const std::size_t cut = RowEndAfter(body, from);
        if (cut == std::string_view::npos || cut >= body.size()) break;
        cuts.push_back(cut);
    }
    return cuts;
}

std::string_view Piece(std::string_view body, const std::vector<std::size_t>& cuts, std::size_t i) {
    const std::size_t from = i == 0 ? 0 : cuts[i - 1];
    const std::size_t to = i == cuts.size() ? body.size() : cuts[i];
    return body.substr(from, to - from);
}

// What a later piece's scan adds to an earlier one's, as one scan over both would have it.
void Merge(SheetDataScan& scan, SheetDataScan& later) {
    for (auto& [si, master] : later.masters) scan.masters[si] = std::move(master);
    if (later.highestSharedString > scan.highestSharedString) {
        scan.highestSharedString = later.highestSharedString;
        scan.sharedStringRow = later.sharedStringRow;
        scan.sharedStringColumn = later.sharedStringColumn;
    }
    scan.styles.NoteAll(later.styles);
    scan.sharedStrings.NoteAll(later.sharedStrings);
}


}  // namespace

SheetDataScan ScanSheetData(std::string_view body, const std::function<void(std::string_view)>& formula,
                            const std::string& partName, const std::string& fileName) {
    // Large rows are scanned one piece per core; a piece that fails sends the rows to one scan of them whole,
    // which finds the fault (and says where it lies) or proves the cut wrong.
    if (const auto cuts = CandidateCuts(body); !cuts.empty()) {
        std::vector<SheetDataScan> scans(cuts.size() + 1);
        std::vector<std::vector<std::string>> formulas(scans.size());
        bool sound = true;
        try {
            SideBySide(scans.size(), [&](std::size_t i) {
                const std::function<void(std::string_view)> keep = [&](std::string_view f) {
                    formulas[i].emplace_back(f);
                };
                RowWalker(Piece(body, cuts, i)).Scan(keep, scans[i]);
            });
        } catch (const MalformedRows&) {
            sound = false;
        }
        if (sound) {
            SheetDataScan scan = std::move(scans.front());
            for (std::size_t i = 1; i < scans.size(); ++i) Merge(scan, scans[i]);
            scan.cuts = cuts;
            for (auto& list : formulas) {
                for (const auto& f : list) formula(f);
                std::vector<std::string>().swap(list);
            }
            return scan;
        }
    }
    SheetDataScan scan;
    try {
        RowWalker(body).Scan(formula, scan);
    } catch (const MalformedRows& e) {
        throw NotWellFormed(e, partName, fileName);
    }
    return scan;
}

void RewriteSheetData(std::string_view body, const SheetDataScan& scan, const CellRewrite& rewrite,
                      const std::function<void(std::string_view)>& out) {
    RewriteSheetDataSideBySide(body, scan, rewrite, {out});
}

std::optional<ArrivingScan> ScanArrivingSheetData(std::string_view text,
                                                  const std::function<std::size_t(std::size_t)>& arrived) {
    const unsigned cores = WorkerThreads();
    if (cores < 2 || text.size() < kRowsOnSeveralCoresFrom) return std::nullopt;
    constexpr std::size_t kHead = 1u << 20;     // where the rows must start
    constexpr std::size_t kStretch = 4u << 20;  // rows walked at a time behind the read
    constexpr std::size_t kLookAhead = 1u << 20;
    // Waits for `n` bytes; false when the read ended before them.
    auto have = [&](std::size_t n) {
        n = std::min(n, text.size());
        return arrived(n) >= n;
    };
    // The rows' start tag, whole, in the first megabyte; a self-closing one has no rows to speak of.
    if (!have(kHead)) return std::nullopt;
    const std::string_view head = text.substr(0, std::min(kHead, text.size()));
    WorksheetPieces start;
    if (!SplitWorksheetStart(head, start) || start.startTag.empty() || start.startTag.ends_with("/>"))
        return std::nullopt;
    const std::size_t begin = start.head.size() + start.startTag.size();
    // The first row end at or after `from` among the bytes there; npos when there is none yet.
    auto rowEndAfter = [&](std::size_t from, std::size_t there) { return RowEndAfter(text.substr(0, there), from); };
    // The caller walks the rows up to about seven tenths of the part close behind the read; another thread
    // walks the rest once the read is done. Both find the same hand-over point: the first row end after it.
    const std::size_t handOver = begin + (text.size() - begin) / 10 * 7;
    struct Stretch {
        SheetDataScan scan;
        std::vector<std::string> formulas;
        bool sound = false;
    };
    Stretch last;
    std::size_t lastBegin = 0, lastEnd = 0;
    std::thread rest;
    try {
        rest = std::thread([&] {
            try {
                if (!have(text.size())) return;
                WorksheetPieces whole;
                if (!SplitWorksheet(text, whole) || whole.body.data() != text.data() + begin) return;
                const std::size_t end = begin + whole.body.size();
                const std::size_t from = rowEndAfter(handOver, text.size());
                if (from == std::string_view::npos || from <= begin || from >= end) return;
                const std::function<void(std::string_view)> keep = [&](std::string_view f) {
                    last.formulas.emplace_back(f);
                };
                RowWalker(text.substr(from, end - from)).Scan(keep, last.scan);
                lastBegin = from;
                lastEnd = end;
                last.sound = true;
            } catch (...) {
                // Left to the usual scan, which meets the same fault and says what it is.
            }
        });
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    ArrivingScan out;
    std::vector<std::size_t> boundaries;  // where stretches begin, checked as ScanSheetData's cuts are
    bool sound = true;
    try {
        for (std::size_t pos = begin; sound;) {
            const bool final = pos + kStretch >= handOver;
            const std::size_t target = final ? handOver : pos + kStretch;
            std::size_t cut = std::string_view::npos;
            for (std::size_t there = target + kLookAhead; cut == std::string_view::npos; there += kLookAhead) {
                const bool all = !have(there);
                cut = rowEndAfter(target, std::min(there, text.size()));
                if (cut == std::string_view::npos && (all || there >= text.size())) break;
            }
            // None, or the hand-over point lies inside the stretch before (a row or comment longer than a
            // stretch): the rows are left to the usual scan.
            if (cut == std::string_view::npos || cut <= pos) {
                sound = false;
                break;
            }
            SheetDataScan stretch;
            const std::function<void(std::string_view)> keep = [&](std::string_view f) {
                out.formulas.emplace_back(f);
            };
            RowWalker(text.substr(pos, cut - pos)).Scan(keep, stretch);
            Merge(out.scan, stretch);
            boundaries.push_back(cut);
            pos = cut;
            if (final) break;
        }
    } catch (const MalformedRows&) {
        sound = false;
    } catch (...) {
        rest.join();
        throw;
    }
    rest.join();
    // The two walks meet where the rest begins, and together cover the rows.
    if (!sound || !last.sound || boundaries.empty() || boundaries.back() != lastBegin) return std::nullopt;
    Merge(out.scan, last.scan);
    for (auto& f : last.formulas) out.formulas.push_back(std::move(f));
    out.bodyBegin = begin;
    out.bodyEnd = lastEnd;
    // The rewrite's cuts: of the stretches' starts, those nearest an equal share per core.
    const std::size_t length = lastEnd - begin;
    for (unsigned i = 1; i < cores; ++i) {
        const std::size_t ideal = begin + length / cores * i;
        std::size_t best = 0;
        for (std::size_t b : boundaries) {
            if (b <= begin + (out.scan.cuts.empty() ? 0 : out.scan.cuts.back())) continue;
            if (best == 0 || (b > ideal ? b - ideal : ideal - b) < (best > ideal ? best - ideal : ideal - best))
                best = b;
        }
        if (best == 0 || best >= lastEnd) break;
        out.scan.cuts.push_back(best - begin);
    }
    return out;
}

void RewriteSheetDataSideBySide(std::string_view body, const SheetDataScan& scan, const CellRewrite& rewrite,
                                const std::vector<std::function<void(std::string_view)>>& outs) {
    RewriteAhead ahead(scan, rewrite);
    const std::vector<std::size_t> none;
    const auto& cuts = outs.size() == scan.cuts.size() + 1 ? scan.cuts : none;
    if (cuts.empty() && outs.size() != 1)
        throw EngineError("The rows of a copied sheet could not be rewritten (they were cut in a different way).");
    try {
        SideBySide(outs.size(), [&](std::size_t i) { RowWalker(Piece(body, cuts, i), ahead, outs[i]).Write(); });
    } catch (const MalformedRows& e) {
        throw EngineError("The rows of a copied sheet could not be rewritten (" + e.what + ").");
    }
}

}  // namespace orv::engine
