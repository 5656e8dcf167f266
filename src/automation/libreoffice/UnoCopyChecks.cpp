// Checks and mends after copying a sheet between documents: external links, names, cell styles.
#include "automation/libreoffice/UnoCopyChecks.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellFormatRangesSupplier.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XNamedRange.hpp>
#include <com/sun/star/sheet/XNamedRanges.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/CellAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <regex>
#include <set>

namespace orv::libreoffice::uno_checks {

using namespace css;
using rtl::OUString;

namespace {

// An external reference in the office's formula syntax: 'file:///folder/book.xls'#$Sheet.A1
const std::regex& ExternalPattern() {
    static const std::regex pattern(R"('[A-Za-z][A-Za-z0-9+.-]*:[^']*'#)");
    return pattern;
}

std::string CellName(sal_Int32 column, sal_Int32 row) {
    std::string letters;
    for (sal_Int32 c = column + 1; c > 0; c = (c - 1) / 26) {
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    }
    return letters + std::to_string(row + 1);
}

uno::Reference<sheet::XSpreadsheet> SheetAt(const Document& document, int index) {
    uno::Reference<container::XIndexAccess> sheets(document->getSheets(), uno::UNO_QUERY_THROW);
    return uno::Reference<sheet::XSpreadsheet>(sheets->getByIndex(index), uno::UNO_QUERY_THROW);
}

std::string SheetName(const Document& document, int index) {
    return ToUtf8(
        uno::Reference<container::XNamed>(SheetAt(document, index), uno::UNO_QUERY_THROW)->getName());
}

uno::Reference<sheet::XNamedRanges> NamesOf(const uno::Reference<uno::XInterface>& holder) {
    uno::Reference<beans::XPropertySet> properties(holder, uno::UNO_QUERY_THROW);
    return uno::Reference<sheet::XNamedRanges>(properties->getPropertyValue("NamedRanges"),
                                               uno::UNO_QUERY_THROW);
}

std::map<std::string, std::string> Definitions(const uno::Reference<sheet::XNamedRanges>& names) {
    std::map<std::string, std::string> result;
    for (const auto& name : names->getElementNames()) {
        uno::Reference<sheet::XNamedRange> range(names->getByName(name), uno::UNO_QUERY_THROW);
        result[ToUtf8(name)] = ToUtf8(range->getContent());
    }
    return result;
}

// True when `formula` uses `name` as a name (not as part of a longer name, a function or a sheet reference).
bool UsesName(const std::string& formula, const std::string& name) {
    std::string escaped;
    for (char c : name) {
        if (std::string(".\\$^*+?()[]{}|").find(c) != std::string::npos) escaped += '\\';
        escaped += c;
    }
    const std::regex pattern("(^|[^A-Za-z0-9_.$'])" + escaped + "([^A-Za-z0-9_.(']|$)", std::regex::icase);
    return std::regex_search(formula, pattern);
}

template <typename F>
void ForEachFormula(const Document& document, int index, F&& visit) {
    uno::Reference<sheet::XCellRangesQuery> query(SheetAt(document, index), uno::UNO_QUERY_THROW);
    auto ranges = query->queryContentCells(sheet::CellFlags::FORMULA);
    uno::Reference<container::XEnumerationAccess> cells(ranges->getCells(), uno::UNO_QUERY_THROW);
    auto each = cells->createEnumeration();
    while (each->hasMoreElements()) {
        uno::Reference<table::XCell> cell(each->nextElement(), uno::UNO_QUERY_THROW);
        visit(cell, ToUtf8(cell->getFormula()));
    }
}

// The ways a definition may name a sheet: $Name. or $'Name'. (with doubled apostrophes), with or without $.
std::vector<std::string> SheetReferenceForms(const std::string& sheet) {
    std::string quoted;
    for (char c : sheet) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return {"$'" + quoted + "'.", "'" + quoted + "'.", "$" + sheet + ".", sheet + "."};
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace

std::string ToUtf8(const OUString& text) {
    const rtl::OString bytes = rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8);
    return std::string(bytes.getStr(), static_cast<std::size_t>(bytes.getLength()));
}

OUString FromUtf8(const std::string& text) {
    return OUString(text.data(), static_cast<sal_Int32>(text.size()), RTL_TEXTENCODING_UTF8);
}

std::map<std::string, std::string> WorkbookNames(const Document& document) {
    return Definitions(NamesOf(document));
}

NameMends MendNames(const Document& target, int copyIndex, const Document& source, int sourceIndex,
                    const std::map<std::string, std::string>& targetNamesBefore) {
    NameMends mends;
    std::vector<std::pair<uno::Reference<table::XCell>, std::string>> formulas;
    ForEachFormula(target, copyIndex,
                   [&](const uno::Reference<table::XCell>& cell, const std::string& formula) {
                       formulas.emplace_back(cell, formula);
                   });
    if (formulas.empty()) return mends;
    const std::string sourceSheet = SheetName(source, sourceIndex);
    const std::string copySheet = SheetName(target, copyIndex);
    uno::Reference<container::XIndexAccess> sourceSheets(source->getSheets(), uno::UNO_QUERY_THROW);
    auto local = NamesOf(SheetAt(target, copyIndex));

    for (const auto& [name, definition] : WorkbookNames(source)) {
        const auto before = targetNamesBefore.find(name);
        if (before == targetNamesBefore.end() || before->second == definition ||
            local->hasByName(FromUtf8(name))) {
            continue;
        }
        bool used = false;
        for (const auto& [cell, formula] : formulas) used = used || UsesName(formula, name);
        if (!used) continue;
        // The definition may follow the copied sheet; a reference to any other sheet of the source cannot.
        bool otherSheet = std::regex_search(definition, ExternalPattern());
        for (sal_Int32 i = 0; i < sourceSheets->getCount() && !otherSheet; ++i) {
            if (i == sourceIndex) continue;
            for (const auto& form : SheetReferenceForms(SheetName(source, i))) {
                otherSheet = otherSheet || definition.find(form) != std::string::npos;
            }
        }
        if (otherSheet) {
            mends.unmended.push_back("the name \"" + name + "\" means " + before->second +
                                     " in the target but " + definition + " in the source");
            continue;
        }
        std::string carried = definition;
        const auto copyForms = SheetReferenceForms(copySheet);
        const auto sourceForms = SheetReferenceForms(sourceSheet);
        for (std::size_t f = 0; f < sourceForms.size(); ++f)
            carried = ReplaceAll(carried, sourceForms[f], copyForms[0]);
        table::CellAddress base(static_cast<sal_Int16>(copyIndex), 0, 0);
        local->addNewByName(FromUtf8(name), FromUtf8(carried), base, 0);
        mends.mended.push_back(name);
    }
    // Formulas keep the name they were compiled with: compile them again so that the sheet's own name wins.
    for (const auto& [cell, formula] : formulas) {
        for (const auto& name : mends.mended) {
            if (UsesName(formula, name)) {
                cell->setFormula(cell->getFormula());
                break;
            }
        }
    }
    return mends;
}

std::vector<std::pair<std::string, std::string>> ExternalFormulas(const Document& document, int index) {
    // Names whose definitions point into other files make the formulas using them external too.
    std::vector<std::string> externalNames;
    auto definitions = WorkbookNames(document);
    for (const auto& [name, definition] : Definitions(NamesOf(SheetAt(document, index))))
        definitions[name] = definition;
    for (const auto& [name, definition] : definitions) {
        if (std::regex_search(definition, ExternalPattern())) externalNames.push_back(name);
    }
    std::vector<std::pair<std::string, std::string>> found;
    ForEachFormula(
        document, index, [&](const uno::Reference<table::XCell>& cell, const std::string& formula) {
            bool external = std::regex_search(formula, ExternalPattern());
            for (const auto& name : externalNames) external = external || UsesName(formula, name);
            if (!external) return;
            const auto address =
                uno::Reference<sheet::XCellAddressable>(cell, uno::UNO_QUERY_THROW)->getCellAddress();
            found.emplace_back(CellName(address.Column, address.Row), formula);
        });
    return found;
}

namespace {

// Gives `cell` the result `shown` holds: a number stays a number; text and error results keep what the cell
// shows.
void SetToResultOf(const uno::Reference<table::XCell>& cell, const uno::Reference<table::XCell>& shown) {
    sal_Int32 result = 0;
    uno::Reference<beans::XPropertySet>(shown, uno::UNO_QUERY_THROW)->getPropertyValue("FormulaResultType2") >>=
        result;
    if (result == sheet::FormulaResult::VALUE) {
        cell->setValue(shown->getValue());
    } else {
        const OUString text = uno::Reference<text::XText>(shown, uno::UNO_QUERY_THROW)->getString();
        uno::Reference<text::XText>(cell, uno::UNO_QUERY_THROW)->setString(text);
    }
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

}  // namespace

int FreezeExternalFormulas(const Document& document, int index) {
    const auto external = ExternalFormulas(document, index);
    uno::Reference<table::XCellRange> range(SheetAt(document, index), uno::UNO_QUERY_THROW);
    for (const auto& [address, formula] : external) {
        uno::Reference<table::XCell> cell(
            range->getCellRangeByName(FromUtf8(address))->getCellByPosition(0, 0));
        SetToResultOf(cell, cell);
    }
    return static_cast<int>(external.size());
}

int RelinkToCopies(const Document& document, int index, const Document& source,
                   const std::vector<std::pair<std::string, std::string>>& copies) {
    const std::string url = ToUtf8(uno::Reference<frame::XModel>(source, uno::UNO_QUERY_THROW)->getURL());
    if (url.empty()) return 0;
    // How the import writes a reference into the source file: 'file:///…/a.xls'#$Sheet. or #$'My Sheet'.
    std::string link = "'";
    for (char c : url) link += c == '\'' ? std::string("''") : std::string(1, c);
    link += "'#";
    std::vector<std::pair<std::string, std::string>> forms;
    for (const auto& [from, to] : copies) {
        std::string quoted;
        for (char c : to) quoted += c == '\'' ? std::string("''") : std::string(1, c);
        for (const auto& form : SheetReferenceForms(from)) {
            if (form.front() == '$') forms.emplace_back(link + form, "$'" + quoted + "'.");
        }
    }
    std::vector<std::pair<uno::Reference<table::XCell>, std::string>> changed;
    ForEachFormula(document, index, [&](const uno::Reference<table::XCell>& cell, const std::string& formula) {
        if (formula.find(link) == std::string::npos) return;
        std::string relinked = formula;
        for (const auto& [from, to] : forms) relinked = ReplaceAll(std::move(relinked), from, to);
        if (relinked != formula) changed.emplace_back(cell, std::move(relinked));
    });
    for (const auto& [cell, formula] : changed) cell->setFormula(FromUtf8(formula));
    return static_cast<int>(changed.size());
}

std::vector<std::pair<std::string, std::string>> KeepValuesOfLostReferences(const Document& target, int copyIndex,
                                                                           const Document& source,
                                                                           int sourceIndex) {
    // Both sheets' formulas in one call each: a sheet may hold many thousands of them.
    const auto sourceSheet = SheetAt(source, sourceIndex);
    uno::Reference<sheet::XUsedAreaCursor> cursor(sourceSheet->createCursor(), uno::UNO_QUERY_THROW);
    cursor->gotoStartOfUsedArea(false);
    cursor->gotoEndOfUsedArea(true);
    const auto area = uno::Reference<sheet::XCellRangeAddressable>(cursor, uno::UNO_QUERY_THROW)->getRangeAddress();
    auto formulasOf = [&](const uno::Reference<sheet::XSpreadsheet>& sheet) {
        uno::Reference<table::XCellRange> range = sheet->getCellRangeByPosition(
            area.StartColumn, area.StartRow, area.EndColumn, area.EndRow);
        return uno::Reference<sheet::XCellRangeFormula>(range, uno::UNO_QUERY_THROW)->getFormulaArray();
    };
    const auto before = formulasOf(sourceSheet);
    const auto after = formulasOf(SheetAt(target, copyIndex));
    const std::string targetFile = ToUtf8(uno::Reference<frame::XModel>(target, uno::UNO_QUERY_THROW)->getURL());
    const std::string targetName = targetFile.substr(targetFile.find_last_of('/') + 1);

    std::vector<std::pair<std::string, std::string>> found;
    for (sal_Int32 row = 0; row < before.getLength() && row < after.getLength(); ++row) {
        for (sal_Int32 column = 0; column < before[row].getLength() && column < after[row].getLength(); ++column) {
            const std::string original = ToUtf8(before[row][column]);
            if (original.empty() || original.front() != '=') continue;
            const std::string copied = ToUtf8(after[row][column]);
            if (copied == original) continue;
            // A #REF! the source already holds is the source's own; one more is a reference lost on the way.
            bool lost = Occurrences(copied, "#REF!") > Occurrences(original, "#REF!");
            // A link to another workbook stays one (unless it leads into the target itself, where it becomes a
            // reference within the file).
            std::smatch link;
            for (auto from = original.cbegin();
                 !lost && std::regex_search(from, original.cend(), link, ExternalPattern()); from = link[0].second) {
                const std::string file = link.str();
                const bool intoTarget = !targetName.empty() && file.find(targetName) != std::string::npos;
                lost = !intoTarget && Occurrences(copied, file) < Occurrences(original, file);
            }
            if (lost) found.emplace_back(CellName(area.StartColumn + column, area.StartRow + row), original);
        }
    }
    uno::Reference<table::XCellRange> sourceCells(sourceSheet, uno::UNO_QUERY_THROW);
    uno::Reference<table::XCellRange> copyCells(SheetAt(target, copyIndex), uno::UNO_QUERY_THROW);
    for (const auto& [address, formula] : found) {
        const auto at = FromUtf8(address);
        SetToResultOf(copyCells->getCellRangeByName(at)->getCellByPosition(0, 0),
                      sourceCells->getCellRangeByName(at)->getCellByPosition(0, 0));
    }
    return found;
}

std::string SheetCode(const Document& document, int index) {
    OUString codeName;
    uno::Reference<beans::XPropertySet>(SheetAt(document, index), uno::UNO_QUERY_THROW)
            ->getPropertyValue("CodeName") >>= codeName;
    uno::Reference<beans::XPropertySet> properties(document, uno::UNO_QUERY_THROW);
    uno::Reference<script::XLibraryContainer> libraries;
    properties->getPropertyValue("BasicLibraries") >>= libraries;
    if (codeName.isEmpty() || !libraries.is()) return "";
    // A document's macros from another format live in this library, each sheet's under its code name.
    const OUString library = "VBAProject";
    if (!libraries->hasByName(library)) return "";
    libraries->loadLibrary(library);
    uno::Reference<container::XNameAccess> modules(libraries->getByName(library), uno::UNO_QUERY_THROW);
    if (!modules->hasByName(codeName)) return "";
    OUString source;
    modules->getByName(codeName) >>= source;
    std::string code;
    std::string text = ToUtf8(source);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line.starts_with("Rem Attribute") ||
            line.starts_with("Attribute ") || line.starts_with("Option VBASupport"))
            continue;
        code += line + "\n";
    }
    return code;
}

std::vector<std::string> DifferingCellStyles(const Document& target, int copyIndex, const Document& source) {
    std::set<std::string> used;
    uno::Reference<sheet::XCellFormatRangesSupplier> supplier(SheetAt(target, copyIndex),
                                                              uno::UNO_QUERY_THROW);
    auto ranges = supplier->getCellFormatRanges();
    for (sal_Int32 i = 0; i < ranges->getCount(); ++i) {
        uno::Reference<beans::XPropertySet> range(ranges->getByIndex(i), uno::UNO_QUERY_THROW);
        OUString style;
        range->getPropertyValue("CellStyle") >>= style;
        if (style != "Default" && !style.isEmpty()) used.insert(ToUtf8(style));
    }
    auto styles = [](const Document& document) {
        uno::Reference<style::XStyleFamiliesSupplier> families(document, uno::UNO_QUERY_THROW);
        return uno::Reference<container::XNameAccess>(families->getStyleFamilies()->getByName("CellStyles"),
                                                      uno::UNO_QUERY_THROW);
    };
    auto formatString = [](const Document& document, const uno::Reference<beans::XPropertySet>& style) {
        sal_Int32 key = 0;
        style->getPropertyValue("NumberFormat") >>= key;
        uno::Reference<util::XNumberFormatsSupplier> formats(document, uno::UNO_QUERY_THROW);
        OUString text;
        formats->getNumberFormats()->getByKey(key)->getPropertyValue("FormatString") >>= text;
        return text;
    };
    const auto targetStyles = styles(target);
    const auto sourceStyles = styles(source);
    std::vector<std::string> differing;
    for (const auto& name : used) {
        const OUString key = FromUtf8(name);
        if (!sourceStyles->hasByName(key) || !targetStyles->hasByName(key)) continue;
        uno::Reference<beans::XPropertySet> mine(targetStyles->getByName(key), uno::UNO_QUERY_THROW);
        uno::Reference<beans::XPropertySet> theirs(sourceStyles->getByName(key), uno::UNO_QUERY_THROW);
        bool same = formatString(target, mine) == formatString(source, theirs);
        for (const char* property : {"CharFontName", "CharHeight", "CharWeight", "CharPosture", "CharColor",
                                     "CellBackColor", "HoriJustify", "IsTextWrapped"}) {
            same = same && mine->getPropertyValue(OUString::createFromAscii(property)) ==
                               theirs->getPropertyValue(OUString::createFromAscii(property));
        }
        if (!same) differing.push_back(name);
    }
    return differing;
}

}  // namespace orv::libreoffice::uno_checks
