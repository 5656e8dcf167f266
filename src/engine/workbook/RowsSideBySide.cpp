// Large rows on several cores: the scan cut into one piece per core, the scan that follows a part as it is
// inflated, and the rewrite of the pieces side by side.
#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/workbook/RowWalker.h"
#include "engine/workbook/SheetStream.h"
#include "platform/Threads.h"

namespace orv::engine {

using namespace rows;

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
    const unsigned cores = platform::WorkerThreads();
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
            platform::SideBySide(scans.size(), [&](std::size_t i) {
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

std::optional<ArrivingScan> ScanArrivingSheetData(std::string_view text,
                                                  const std::function<std::size_t(std::size_t)>& arrived) {
    const unsigned cores = platform::WorkerThreads();
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
        platform::SideBySide(outs.size(),
                             [&](std::size_t i) { RowWalker(Piece(body, cuts, i), ahead, outs[i]).Write(); });
    } catch (const MalformedRows& e) {
        throw EngineError("The rows of a copied sheet could not be rewritten (" + e.what + ").");
    }
}

}  // namespace orv::engine
