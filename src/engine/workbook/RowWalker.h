// The walker of a worksheet's rows: one pass checks them and collects their formulas, the other writes them back
// with styles, shared strings and formulas rewritten. Internal to the row stream.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formula/CellReference.h"
#include "engine/workbook/RowScanner.h"
#include "engine/workbook/SharedFormulas.h"
#include "engine/workbook/SheetStream.h"

namespace orv::engine::rows {

// The rows' start tag: sets the head, start tag and qualified name of `pieces`; false when there is none. Found
// alike in the whole part and in a beginning of it that holds the tag.
bool SplitWorksheetStart(std::string_view xml, WorksheetPieces& pieces);

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
                if (m_stack.back().kind == Known::Cell && m_stack.size() == 2) EndCell();
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
                m_cellFormula = m_cellValue = false;
                RestyleTag(t, true);
            } else if (depth == 2 && parent == Known::Cell && kind == Known::Formula) {
                Formula(t);
                continue;
            } else if (depth == 2 && parent == Known::Cell && kind == Known::Value) {
                m_cellValue = true;
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

    // The end of a cell: one whose formula was left out without a value to keep is reported.
    void EndCell() {
        if (m_out && m_cellFormula && !m_cellValue && m_rewrite->noValue) m_rewrite->noValue(m_cellReference);
    }

    void Formula(const Token& t) {
        std::size_t end = 0;
        const std::string text = ElementText(t, end);
        if (m_out && m_rewrite->dropFormulas) {
            m_cellFormula = true;
            Replace(t.begin, end, {});
            return;
        }
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
    bool m_cellFormula = false, m_cellValue = false;  // the current cell's, where formulas are left out
    std::size_t m_copied = 0;
    std::string m_pending;
};

}  // namespace orv::engine::rows
