// The checks and mends after a sheet was copied between two documents of the office, against the office's
// known defects: formulas turned into links to the source file, workbook-scoped names and cell styles that
// the target defines differently from the source. Only this folder sees UNO types.
#pragma once

#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orv::libreoffice::uno_checks {

using Document = css::uno::Reference<css::sheet::XSpreadsheetDocument>;

std::string ToUtf8(const rtl::OUString& text);
rtl::OUString FromUtf8(const std::string& text);

// The workbook-scoped names of a document with their definitions, e.g. {"Rate", "$Calc.$A$1"}.
std::map<std::string, std::string> WorkbookNames(const Document& document);

struct NameMends {
    std::vector<std::string> mended;    // names the copy now defines itself, as the source did
    std::vector<std::string> unmended;  // descriptions of names whose source meaning could not be kept
};

// For the copy at `copyIndex` of sheet `sourceIndex` of `source`: every workbook-scoped name its formulas use
// that the target defined differently before the copy (`targetNamesBefore`) gets a sheet-scoped name on the
// copy with the source's definition (references to the copied sheet follow it), and the formulas using it are
// compiled again. A definition that refers to other sheets of the source cannot be carried over and is
// reported instead.
NameMends MendNames(const Document& target, int copyIndex, const Document& source, int sourceIndex,
                    const std::map<std::string, std::string>& targetNamesBefore);

// The cells (address, formula) of sheet `index` whose formulas refer to another file, directly or through a
// name.
std::vector<std::pair<std::string, std::string>> ExternalFormulas(const Document& document, int index);
// Replaces those formulas by their current results; returns how many.
int FreezeExternalFormulas(const Document& document, int index);

// After sheets of `source` were imported together: every formula of sheet `index` that the import turned into
// a link to one of `copies` (source sheet name -> copy name) in the source file names that copy in this
// document again; returns how many formulas changed.
int RelinkToCopies(const Document& document, int index, const Document& source,
                   const std::vector<std::pair<std::string, std::string>>& copies);

// The cells (address, source formula) of the copy at `copyIndex` of sheet `sourceIndex` of `source` whose
// formulas hold more #REF! than the source's: references the office could not carry over (links to other
// workbooks, among others). Each such cell is given the value the source cell shows.
std::vector<std::pair<std::string, std::string>> KeepValuesOfLostReferences(const Document& target, int copyIndex,
                                                                           const Document& source,
                                                                           int sourceIndex);

// The code of sheet `index`'s own module (found by the sheet's code name among the document's macros): its
// lines without the attribute and option lines the office adds, "" when the sheet has no code.
std::string SheetCode(const Document& document, int index);

// The cell styles used on the copy at `copyIndex` that the target defines differently from `source`.
std::vector<std::string> DifferingCellStyles(const Document& target, int copyIndex, const Document& source);

}  // namespace orv::libreoffice::uno_checks
