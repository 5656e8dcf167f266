// Reading a copied worksheet's part as text with its rows scanned, and writing it back rewritten in pieces.
#include "engine/transfer/StreamedSheet.h"

#include <functional>
#include <memory>
#include <optional>

#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/package/Xml.h"
#include "engine/workbook/References.h"

namespace orv::engine {

void StreamedSheet::Load(Package& package, const std::string& part, std::vector<std::string>& formulas,
                         bool cellFormulas) {
    std::vector<std::string> unused;
    std::vector<std::string>& cells = cellFormulas ? formulas : unused;
    const std::size_t firstCell = cells.size();
    // A large part's rows are scanned as it is read; the rest of the reading is as for any part.
    std::optional<ArrivingScan> early;
    if (auto arriving = package.ReadArriving(part, kRowsOnSeveralCoresFrom)) {
        const bool utf8 = IsUtf8Text(arriving->text().substr(0, arriving->WaitFor(512)));
        if (utf8)
            early =
                ScanArrivingSheetData(arriving->text(), [&](std::size_t n) { return arriving->WaitFor(n); });
        text = arriving->Finish();
        asStored = utf8;
        if (!utf8) text = AsUtf8(std::move(text), part, package.displayName());
    } else {
        text = package.Read(part);
        asStored = IsUtf8Text(std::string_view(text).substr(0, 512));
        if (!asStored) text = AsUtf8(std::move(text), part, package.displayName());
    }
    split = SplitWorksheet(text, pieces);
    ParseXml(skeleton, split ? pieces.Skeleton() : text, part, package.displayName());
    if (asStored) skeletonAsRead = SerializeXml(skeleton, WhitespaceAfterDeclaration(text));
    if (split && early && early->bodyBegin == static_cast<std::size_t>(pieces.body.data() - text.data()) &&
        early->bodyEnd == early->bodyBegin + pieces.body.size()) {
        scan = std::move(early->scan);
        for (auto& f : early->formulas) cells.push_back(std::move(f));
    } else if (split) {
        scan = ScanSheetData(
            pieces.body, [&](std::string_view f) { cells.emplace_back(f); }, part, package.displayName());
    }
    if (asStored && cellFormulas) this->cellFormulas.assign(cells.begin() + firstCell, cells.end());
    ReferenceEdit probe;
    probe.formula = [&](std::string_view f) {
        formulas.emplace_back(f);
        return std::string(f);
    };
    RewriteFormulas(skeleton, probe);
}

bool StreamedSheet::LeavesAsStored(const CellRewrite& cells) const {
    if (!asStored || cells.dropFormulas) return false;
    bool same = true;
    for (const int s : scan.styles.order()) same = (!cells.style || cells.style(s) == s) && same;
    for (const int s : scan.sharedStrings.order()) same = (!cells.sharedString || cells.sharedString(s) == s) && same;
    if (!same) return false;
    for (const auto& f : cellFormulas) {
        if ((cells.formula && cells.formula(f) != f) || (cells.unshare && cells.unshare(f))) return false;
    }
    return SerializeXml(skeleton, WhitespaceAfterDeclaration(text)) == skeletonAsRead;
}

DeflatedPart StreamedSheet::Write(const CellRewrite& cells) const {
    DeflateStream out(spoolFolder);
    const std::string around = SerializeXml(skeleton, WhitespaceAfterDeclaration(text));
    const std::string placeholder = "<" + pieces.qualifiedName + "/>";
    if (!split) {
        out.Add(around);
        return out.Finish();
    }
    const auto at = around.find(placeholder);
    if (at == std::string::npos)
        throw EngineError("The copied sheet's cells could not be put back in place.");
    out.Add(std::string_view(around).substr(0, at));
    out.Add(pieces.startTag);
    // Large rows are rewritten a piece per core, each into a stream of its own, joined at the end.
    std::vector<std::unique_ptr<DeflateStream>> more;
    std::vector<std::function<void(std::string_view)>> sinks{[&](std::string_view piece) { out.Add(piece); }};
    for (std::size_t i = 0; i < scan.cuts.size(); ++i) {
        auto& stream = *more.emplace_back(std::make_unique<DeflateStream>(spoolFolder));
        sinks.emplace_back([&stream](std::string_view piece) { stream.Add(piece); });
    }
    RewriteSheetDataSideBySide(pieces.body, scan, cells, sinks);
    DeflateStream& last = more.empty() ? out : *more.back();
    last.Add(pieces.endTag);
    last.Add(std::string_view(around).substr(at + placeholder.size()));
    if (more.empty()) return out.Finish();
    std::vector<DeflatedPart> parts;
    parts.push_back(out.Finish(false));
    for (std::size_t i = 0; i < more.size(); ++i) parts.push_back(more[i]->Finish(i + 1 == more.size()));
    return JoinDeflated(std::move(parts), spoolFolder);
}

}  // namespace orv::engine
