// Walks the formula-bearing parts of a package and rewrites formulas in place.
#include "engine/workbook/References.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <system_error>

#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/SheetStream.h"
#include "platform/Paths.h"
#include "platform/Threads.h"

namespace orv::engine {

namespace {

// Content types (by suffix) of the parts in which formulas naming sheets may appear.
constexpr std::array kFormulaParts = {
    "spreadsheetml.worksheet+xml",
    "ms-excel.macrosheet+xml",
    "ms-excel.intlmacrosheet+xml",
    "spreadsheetml.dialogsheet+xml",
    "drawingml.chart+xml",
    "spreadsheetml.table+xml",
    "pivotCacheDefinition+xml",
    "drawing+xml",
    "ms-excel.controlproperties+xml",
    "spreadsheetml.sheet.main+xml",
    "sheet.macroEnabled.main+xml",
    "template.main+xml",
    "template.macroEnabled.main+xml",
};

// Elements whose text is a formula, and attributes whose value is one.
constexpr std::array kFormulaElements = {
    "f", "formula", "formula1", "formula2", "calculatedColumnFormula", "totalsRowFormula", "definedName"};
constexpr std::array kFormulaAttributes = {"location",  "textlink", "fmlaLink",
                                           "fmlaRange", "fmlaTxbx", "fmlaGroup"};

bool IsFormulaPart(const std::string& type) {
    for (const char* suffix : kFormulaParts) {
        if (ContentTypeIs(type, suffix)) return true;
    }
    return false;
}

// The longest run of the name that XML stores without escaping, folded; a part that lacks it cannot refer to
// the sheet. When the run ends the name, a reference shows it followed by what closes a sheet prefix.
struct NameFragment {
    std::string folded;
    bool endsName = false;
};

NameFragment Fragment(const std::string& name) {
    std::string best, run;
    bool bestEnds = false;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const char c = i < name.size() ? name[i] : '&';
        if (c == '&' || c == '<' || c == '>' || c == '\'' || c == '"') {
            if (run.size() > best.size()) {
                best = run;
                bestEnds = i == name.size();
            }
            run.clear();
        } else {
            run += c;
        }
    }
    return {platform::FoldCase(best), bestEnds};
}

// A formula names a sheet as Name!, 'Name'!, Name:Other! or First:Name!, and a pivot source as sheet="Name"
// (an apostrophe may stand escaped as &apos;). Anything else after the name is another word that contains it,
// such as the sheetData of every worksheet part for a sheet named Data.
bool CouldReferTo(std::string_view folded, const NameFragment& fragment) {
    for (auto at = folded.find(fragment.folded); at != std::string_view::npos;
         at = folded.find(fragment.folded, at + 1)) {
        if (!fragment.endsName) return true;
        const std::size_t next = at + fragment.folded.size();
        if (next >= folded.size()) return true;
        const char c = folded[next];
        if (c == '!' || c == '\'' || c == ':' || c == '"' || c == '&') return true;
    }
    return false;
}

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// CouldReferTo on a part as it is stored. An ASCII name is looked for ignoring ASCII case, without folding the
// whole part, unless the part holds one of the two letters outside ASCII that fold into it (dotless i and long
// s).
bool MayReferTo(std::string_view part, const NameFragment& fragment) {
    if (!IsAscii(fragment.folded) || part.find("\xC4\xB1") != std::string_view::npos ||
        part.find("\xC5\xBF") != std::string_view::npos) {
        return CouldReferTo(platform::FoldCase(part), fragment);
    }
    const std::string_view wanted = fragment.folded;
    const std::boyer_moore_horspool_searcher searcher(
        wanted.begin(), wanted.end(), [](char c) { return std::hash<char>()(AsciiUpper(c)); },
        [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); });
    for (auto it = std::search(part.begin(), part.end(), searcher); it != part.end();
         it = std::search(it + 1, part.end(), searcher)) {
        if (!fragment.endsName) return true;
        const auto next = it + static_cast<std::ptrdiff_t>(wanted.size());
        if (next == part.end()) return true;
        const char c = *next;
        if (c == '!' || c == '\'' || c == ':' || c == '"' || c == '&') return true;
    }
    return false;
}

struct Walker : pugi::xml_tree_walker {
    const ReferenceEdit* edit = nullptr;
    bool changed = false;

    bool for_each(pugi::xml_node& node) override {
        if (node.type() != pugi::node_element) return true;
        const std::string_view local = LocalName(node);
        for (const char* e : kFormulaElements) {
            if (local != e) continue;
            const char* text = node.text().get();
            if (*text == '\0') break;
            const std::string now = edit->formula(text);
            if (now != text) {
                node.text() = now.c_str();
                changed = true;
            }
            break;
        }
        for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name = LocalName(a);
            if (name == "sheet" && local == "worksheetSource" && edit->sheetAttribute) {
                if (auto now = edit->sheetAttribute(a.value())) {
                    a = now->c_str();
                    changed = true;
                }
                continue;
            }
            for (const char* f : kFormulaAttributes) {
                if (name != f || *a.value() == '\0') continue;
                // A hyperlink's location is a reference only on a <hyperlink>.
                if (name == "location" && local != "hyperlink") continue;
                const std::string now = name == "location" && edit->location ? edit->location(a.value())
                                                                             : edit->formula(a.value());
                if (now != a.value()) {
                    a = now.c_str();
                    changed = true;
                }
            }
        }
        return true;
    }
};

struct StreamedRewrite {
    bool changed = false;
    DeflatedPart bytes;
};

// A worksheet's rows rewritten as a stream of text, the rest of the part (small) as a tree: a sheet of a
// hundred megabytes never becomes a tree, and its rewritten text goes straight into the deflater. Nullopt when
// the part cannot be cut around its rows (or is not UTF-8); the whole tree is used then.
std::optional<StreamedRewrite> RewriteWorksheetRows(const std::string& part, const std::string& bytes,
                                                    const ReferenceEdit& edit, const std::string& fileName) {
    WorksheetPieces pieces;
    if (!IsUtf8Text(bytes) || !SplitWorksheet(bytes, pieces)) return std::nullopt;
    pugi::xml_document skeleton;
    ParseXml(skeleton, pieces.Skeleton(), part, fileName);
    StreamedRewrite result;
    result.changed = RewriteFormulas(skeleton, edit);
    // Checked whole before anything is written: a damaged row refuses the operation.
    const SheetDataScan scan = ScanSheetData(pieces.body, [](std::string_view) {}, part, fileName);
    // Called from the threads that write the rows side by side.
    std::atomic<bool> cellsChanged{false};
    CellRewrite cells;
    cells.formula = [&](std::string_view f) {
        std::string now = edit.formula(f);
        if (now != f) cellsChanged.store(true, std::memory_order_relaxed);
        return now;
    };
    const std::string around = SerializeXml(skeleton, WhitespaceAfterDeclaration(bytes));
    skeleton.reset();
    const std::string placeholder = "<" + pieces.qualifiedName + "/>";
    const auto at = around.find(placeholder);
    if (at == std::string::npos) return std::nullopt;
    DeflateStream out;
    out.Add(std::string_view(around).substr(0, at));
    out.Add(pieces.startTag);
    RewriteSheetData(pieces.body, scan, cells, [&](std::string_view piece) { out.Add(piece); });
    out.Add(pieces.endTag);
    out.Add(std::string_view(around).substr(at + placeholder.size()));
    // The deflated text of an unchanged part is dropped by the caller; finding out costs the pass it saves.
    result.bytes = out.Finish();
    result.changed = result.changed || cellsChanged.load();
    return result;
}

}  // namespace

std::string TableReferencesToErrors(std::string_view formula, const std::set<std::string>& tables) {
    if (tables.empty()) return std::string(formula);
    std::string out;
    bool changed = false;
    for (const auto& token : formula::Tokenize(formula)) {
        const bool candidate = (token.kind == formula::TokenKind::StructuredReference ||
                                token.kind == formula::TokenKind::Name) &&
                               token.prefixLength == 0;
        if (candidate) {
            const auto table = token.text.substr(0, token.text.find('['));
            if (!table.empty() && tables.count(platform::FoldCase(table))) {
                out += "#REF!";
                changed = true;
                continue;
            }
        }
        out += token.text;
    }
    return changed ? out : std::string(formula);
}

bool IsFormulaPartType(const std::string& contentType) { return IsFormulaPart(contentType); }

std::optional<DeflatedPart> RewriteFormulaPart(const std::string& part, std::string bytes, bool worksheet,
                                               const ReferenceEdit& edit, const std::string& fileName) {
    if (worksheet) {
        if (auto streamed = RewriteWorksheetRows(part, bytes, edit, fileName)) {
            if (!streamed->changed) return std::nullopt;
            return std::move(streamed->bytes);
        }
    }
    pugi::xml_document doc;
    ParseXml(doc, bytes, part, fileName);
    if (!RewriteFormulas(doc, edit)) return std::nullopt;
    const std::string blank = WhitespaceAfterDeclaration(bytes);
    bytes = {};
    std::string text = SerializeXml(doc, blank);
    doc.reset();
    return Deflate(text);
}

std::vector<RewrittenPart> StageReferenceRewrite(Package& package, const std::string& workbookPart,
                                                 const std::string& sheetName, const std::set<std::string>& tables,
                                                 const ReferenceEdit& edit, const std::string& skipPart) {
    ContentTypes types(package);
    const NameFragment fragment = Fragment(sheetName);
    // A table is named by its bare name or before a bracket, never in a form the sheet test would recognise.
    std::vector<NameFragment> tableFragments;
    for (const auto& table : tables) tableFragments.push_back({Fragment(table).folded, false});
    auto mayNameOne = [&](const std::string& bytes) {
        if (fragment.folded.empty() || MayReferTo(bytes, fragment)) return true;
        return std::any_of(tableFragments.begin(), tableFragments.end(), [&](const NameFragment& f) {
            return f.folded.empty() || MayReferTo(bytes, f);
        });
    };
    // The package is read on this thread (the zip reader is not shared between threads). Each large part that
    // may name the sheet is parsed, rewritten and compressed on a thread of its own, two at a time; small parts,
    // the thousands a wide workbook has, are gathered and rewritten a batch at a time over the cores, where a
    // thread each would cost more than the part.
    constexpr std::size_t kInFlight = 2;
    constexpr std::size_t kSmallPart = 256u << 10;
    constexpr std::size_t kBatchBytes = 4u << 20;
    const std::string fileName = package.displayName();
    auto rewrite = [&edit, &fileName](std::string part, std::string bytes,
                                      bool worksheet) -> std::optional<RewrittenPart> {
        auto deflated = RewriteFormulaPart(part, std::move(bytes), worksheet, edit, fileName);
        if (!deflated) return std::nullopt;
        return RewrittenPart{std::move(part), std::move(*deflated)};
    };
    std::vector<RewrittenPart> rewritten;
    // What waits for the commit waits on disk: together the rewritten parts can be nearly the whole workbook.
    const auto spool = Spool::Create(platform::ParentFolderOf(package.path()));
    auto keep = [&](std::optional<RewrittenPart> done) {
        if (!done) return;
        if (spool) spool->Keep(done->bytes);
        rewritten.push_back(std::move(*done));
    };
    std::deque<std::future<std::optional<RewrittenPart>>> running;
    auto collect = [&] {
        keep(running.front().get());
        running.pop_front();
    };
    struct Small {
        std::string part, bytes;
        bool worksheet = false;
    };
    std::vector<Small> batch;
    std::size_t batchBytes = 0;
    auto flush = [&] {
        std::vector<std::optional<RewrittenPart>> done(batch.size());
        const std::size_t shares = std::min<std::size_t>(platform::WorkerThreads(), batch.size());
        platform::SideBySide(shares, [&](std::size_t k) {
            for (std::size_t i = k; i < batch.size(); i += shares)
                done[i] = rewrite(std::move(batch[i].part), std::move(batch[i].bytes), batch[i].worksheet);
        });
        for (auto& one : done) keep(std::move(one));
        batch.clear();
        batchBytes = 0;
    };
    const auto parts = package.PartNames();
    const auto partTypes = types.TypesOf(parts);
    const std::string workbookKey = PartKey(workbookPart), skipKey = PartKey(skipPart);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (!IsFormulaPart(partTypes[i]) || PartKey(part) == workbookKey || PartKey(part) == skipKey) continue;
        // A large part finishes before the next is read: never more than two large parts' text at once.
        if (running.size() >= kInFlight) collect();
        // In UTF-8 before it is searched: a part in another encoding names the sheet in other bytes.
        std::string bytes = AsUtf8(package.Read(part), part, fileName);
        if (!mayNameOne(bytes)) continue;
        const bool worksheet = ContentTypeIs(partTypes[i], "spreadsheetml.worksheet+xml");
        if (bytes.size() < kSmallPart) {
            batchBytes += bytes.size();
            batch.push_back({part, std::move(bytes), worksheet});
            if (batchBytes >= kBatchBytes) flush();
            continue;
        }
        // Held apart from the task, so that the part is still there to rewrite here when no thread can start.
        auto text = std::make_shared<std::string>(std::move(bytes));
        try {
            running.push_back(std::async(std::launch::async, [&rewrite, part, text, worksheet] {
                return rewrite(part, std::move(*text), worksheet);
            }));
        } catch (const std::system_error&) {
            keep(rewrite(part, std::move(*text), worksheet));
        }
    }
    while (!running.empty()) collect();
    if (!batch.empty()) flush();
    return rewritten;
}

void CommitRewrites(Package& package, std::vector<RewrittenPart> parts) {
    for (auto& part : parts) {
        if (package.Has(part.name)) package.WriteDeflated(part.name, std::move(part.bytes));
    }
}

bool RewriteFormulas(pugi::xml_node root, const ReferenceEdit& edit) {
    Walker walker;
    walker.edit = &edit;
    root.traverse(walker);
    return walker.changed;
}

int RewriteReferences(Package& package, const std::vector<std::string>& parts, const ReferenceEdit& edit) {
    int changed = 0;
    for (const auto& part : parts) {
        if (!package.Has(part)) continue;
        if (RewriteFormulas(package.Xml(part), edit)) {
            package.MarkChanged(part);
            ++changed;
        }
    }
    return changed;
}

}  // namespace orv::engine
