// A worksheet part's cells rewritten as a stream of text, without building its tree: a large sheet is copied
// with the memory of its text, and every byte the copy does not need to change is written as it stood.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orv::engine {

// A worksheet part cut around its <sheetData>: everything else is small and handled as a tree; the cells are
// streamed.
struct WorksheetPieces {
    std::string_view head;      // up to <sheetData
    std::string_view startTag;  // <sheetData ...> (or <sheetData/> when it holds no rows)
    std::string_view body;      // the rows
    std::string_view endTag;    // </sheetData> ("" when self-closing)
    std::string_view tail;      // after </sheetData>
    std::string qualifiedName;  // "sheetData" with the part's prefix, if any

    // The part with the rows left out, `<sheetData/>` standing for them.
    std::string Skeleton() const;
};

// Cuts `xml` (UTF-8) around its sheetData element; false when the part has none outside comments.
bool SplitWorksheet(std::string_view xml, WorksheetPieces& pieces);

class Package;

// The part's text in UTF-8, whatever encoding it is stored in (see IsUtf8Text). Throws EngineError when it
// cannot be read.
std::string ReadAsUtf8(Package& package, const std::string& part);
// `text`, a part's bytes, in UTF-8 (the same bytes when IsUtf8Text says they already are).
std::string AsUtf8(std::string text, const std::string& part, const std::string& fileName);

// A cell of the rows, as ForEachCell reports it.
struct CellValue {
    int row = 0;
    int column = 0;
    std::string_view type;  // its t attribute ("" for a number)
    bool hasValue = false;  // it has a <v>
    std::string value;      // the <v> decoded, or the text an inline string shows
};

// Calls `cell` with every cell of `body` (the rows). Throws EngineError naming `partName` and `fileName` when
// the rows are not well-formed.
void ForEachCell(std::string_view body, const std::function<void(const CellValue&)>& cell,
                 const std::string& partName, const std::string& fileName);

// ForEachCell over the rows of worksheet `part` read from the package in pieces, whole rows at a time, so that a
// large sheet is never held whole. Throws EngineError as ForEachCell does.
void ForEachCellOfPart(Package& package, const std::string& part, const std::function<void(const CellValue&)>& cell);

// A shared formula group's master, as the rows of a sheet hold it.
struct SharedMaster {
    int row = 0;
    int column = 0;
    std::string formula;  // decoded
};

// Numbers in the order they first came, each once.
class FirstUses {
  public:
    void Note(int value);
    void NoteAll(const FirstUses& later);
    const std::vector<int>& order() const { return m_order; }

  private:
    std::vector<int> m_order;
    std::vector<bool> m_seen;  // for the small numbers, which nearly all are
    std::set<int> m_seenFar;
};

// What a first pass over the rows learned.
struct SheetDataScan {
    std::map<std::string, SharedMaster> masters;  // by si
    // The highest shared-string index a cell names (-1 for none), and the first cell that names it; a value
    // that is not an index counts as past every table.
    long long highestSharedString = -1;
    int sharedStringRow = 0, sharedStringColumn = 0;
    // The style and shared-string indices a rewrite asks to map, in the order it first asks: mapped in that
    // order ahead of a rewrite on several cores, the target's tables grow as they do in one pass.
    FirstUses styles, sharedStrings;
    // Offsets into the rows just after the end of a row, cutting them into pieces of about equal size that are
    // rewritten side by side; none for rows too small to be worth it.
    std::vector<std::size_t> cuts;
};

// Checks that `body` (the rows) is well-formed XML and calls `formula` with the decoded text of every cell
// formula. Throws EngineError naming `partName` and `fileName` when it is not.
SheetDataScan ScanSheetData(std::string_view body, const std::function<void(std::string_view)>& formula,
                            const std::string& partName, const std::string& fileName);

// Rows of this size and more are scanned and rewritten on several cores, and scanned as their part is read.
inline constexpr std::size_t kRowsOnSeveralCoresFrom = 8u << 20;

// The rows of a worksheet part scanned while the part was still being read.
struct ArrivingScan {
    SheetDataScan scan;  // its cuts relative to the rows
    std::vector<std::string> formulas;  // each cell formula's text, in order
    std::size_t bodyBegin = 0, bodyEnd = 0;  // where the rows lie in the part
};

// Scans the rows of the worksheet part `text` (in UTF-8) while its bytes arrive: `arrived(n)` waits until the
// first n bytes are there, or the read has ended, and says how many are. Most rows are walked on the caller's
// thread close behind the read, a stretch at a time, the rest on another thread once the read is done; each
// stretch from just after a row's end, as ScanSheetData's pieces are. Nothing where the rows must be scanned
// the usual way once the part is read: a small part, a read that ends early, a stretch that fails (a scan of the
// rows whole then judges them), rows that do not start in the first megabyte. The result agrees with
// ScanSheetData's over the rows SplitWorksheet finds, which the caller checks by bodyBegin and bodyEnd.
std::optional<ArrivingScan> ScanArrivingSheetData(std::string_view text,
                                                  const std::function<std::size_t(std::size_t)>& arrived);

// How the copy changes its cells; an unset function leaves that kind of value alone.
struct CellRewrite {
    std::function<int(int)> style;                                  // s of <row> and <c>
    std::function<int(int)> sharedString;                           // the <v> of t="s" cells
    std::function<std::string(std::string_view)> formula;           // the text of <f>
    std::function<bool(std::string_view rewrittenMaster)> unshare;  // write this shared group cell by cell
    // Formulas are left out, each cell keeping the value it holds; `noValue` hears of every cell that had a
    // formula and no value, and is left empty (called from several threads at once).
    bool dropFormulas = false;
    std::function<void(std::string_view cell)> noValue;
};

// Writes `body` (scanned by ScanSheetData) to `out` with `rewrite` applied, in pieces; never fails on a body
// that scanned.
void RewriteSheetData(std::string_view body, const SheetDataScan& scan, const CellRewrite& rewrite,
                      const std::function<void(std::string_view)>& out);
// The same on several cores: the rows cut where `scan.cuts` says, piece i written to `outs[i]` on a thread of
// its own (the first on the caller's). `rewrite`'s functions are called on the caller's thread only, except the
// formula functions, which must be safe to call from several threads at once.
void RewriteSheetDataSideBySide(std::string_view body, const SheetDataScan& scan, const CellRewrite& rewrite,
                                const std::vector<std::function<void(std::string_view)>>& outs);

}  // namespace orv::engine
