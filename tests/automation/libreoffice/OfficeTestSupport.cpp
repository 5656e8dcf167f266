// Generates and reads back workbooks for the session tests through converting soffice runs.
#include "OfficeTestSupport.h"

#include "SofficeOracle.h"

#include <cstdlib>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>

namespace orv::libreoffice::test {

namespace fs = std::filesystem;

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

bool IsNumber(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}


}  // namespace

std::string Fods(const std::vector<SheetSpec>& sheets, const WorkbookExtras& extras) {
    std::ostringstream out;
    out << R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:styles>
@STYLES@ </office:styles>
 <office:automatic-styles>
  <style:style style:name="ta1" style:family="table"><style:table-properties table:display="true"/></style:style>
  <style:style style:name="ta2" style:family="table"><style:table-properties table:display="false"/></style:style>
 </office:automatic-styles>
 <office:body><office:spreadsheet>
)";
    for (const auto& sheet : sheets) {
        out << "  <table:table table:name=\"" << Escape(sheet.name) << "\" table:style-name=\""
            << (sheet.hidden ? "ta2" : "ta1") << "\"><table:table-row>";
        for (const auto& cell : sheet.cells) {
            out << "<table:table-cell";
            if (!cell.style.empty()) out << " table:style-name=\"" << Escape(cell.style) << "\"";
            if (!cell.formula.empty()) out << " table:formula=\"" << Escape(cell.formula) << "\"";
            if (IsNumber(cell.value)) {
                out << " office:value-type=\"float\" office:value=\"" << cell.value << "\"><text:p>"
                    << cell.value << "</text:p></table:table-cell>";
            } else {
                out << " office:value-type=\"string\"><text:p>" << Escape(cell.value)
                    << "</text:p></table:table-cell>";
            }
        }
        out << "</table:table-row></table:table>\n";
    }
    if (!extras.names.empty()) {
        out << "  <table:named-expressions>";
        for (const auto& [name, range] : extras.names) {
            out << "<table:named-range table:name=\"" << Escape(name) << "\" table:base-cell-address=\""
                << range << "\" table:cell-range-address=\"" << range << "\"/>";
        }
        out << "</table:named-expressions>\n";
    }
    out << " </office:spreadsheet></office:body>\n</office:document>\n";
    std::string styles;
    for (const auto& [name, colour] : extras.cellStyles) {
        styles += "  <style:style style:name=\"" + Escape(name) +
                  "\" style:family=\"table-cell\"><style:table-cell-properties fo:background-color=\"" +
                  colour + "\"/></style:style>\n";
    }
    std::string text = out.str();
    text.replace(text.find("@STYLES@"), 8, styles);
    return text;
}

std::string Convert(const std::vector<fs::path>& sources, const std::string& format, const fs::path& outDir) {
    return orv::testing::SofficeConvert(sources, format, outDir, ORVANDEL_TEST_SOFFICE);
}

std::vector<ReadSheet> ReadBack(const fs::path& workbook, const fs::path& scratch) {
    const fs::path out = scratch / ("readback-" + workbook.filename().string());
    fs::remove_all(out);
    if (!Convert({workbook}, "fods", out).empty()) return {};
    return ReadFods(out / workbook.filename().replace_extension("fods"));
}

std::map<std::string, std::vector<ReadSheet>> ReadBackAll(const std::vector<fs::path>& workbooks,
                                                          const fs::path& scratch) {
    const fs::path out = scratch / "readback-all";
    fs::remove_all(out);
    std::map<std::string, std::vector<ReadSheet>> read;
    if (!Convert(workbooks, "fods", out).empty()) return read;
    for (const auto& workbook : workbooks)
        read[workbook.filename().string()] = ReadFods(out / fs::path(workbook.filename()).replace_extension("fods"));
    return read;
}

std::vector<ReadSheet> ReadFods(const fs::path& fods) {
    pugi::xml_document doc;
    if (!doc.load_file(fods.c_str())) return {};
    std::vector<std::string> hiddenStyles;
    for (const auto& style :
         doc.select_nodes("//style:style[style:table-properties/@table:display='false']")) {
        hiddenStyles.push_back(style.node().attribute("style:name").value());
    }
    std::vector<ReadSheet> sheets;
    for (const auto& found : doc.select_nodes("//table:table")) {
        const auto table = found.node();
        ReadSheet sheet;
        sheet.name = table.attribute("table:name").value();
        for (const auto& hidden : hiddenStyles)
            sheet.hidden |= hidden == table.attribute("table:style-name").value();
        const auto row = table.select_node(".//table:table-row").node();
        for (const auto& cell : row.children("table:table-cell")) {
            const int repeat =
                std::max(1, std::min(8, cell.attribute("table:number-columns-repeated").as_int(1)));
            const std::string text = cell.child("text:p").text().get();
            const char* value = cell.attribute("office:value").value();
            for (int i = 0; i < repeat; ++i) {
                sheet.values.push_back(*value ? value : text);
                sheet.formulas.push_back(cell.attribute("table:formula").value());
            }
        }
        while (!sheet.values.empty() && sheet.values.back().empty() && sheet.formulas.back().empty()) {
            sheet.values.pop_back();
            sheet.formulas.pop_back();
        }
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

std::vector<std::string> NamesOf(const std::vector<ReadSheet>& sheets) {
    std::vector<std::string> names;
    for (const auto& sheet : sheets) names.push_back(sheet.name);
    return names;
}

ReadSheet SheetNamed(const std::vector<ReadSheet>& sheets, const std::string& name) {
    for (const auto& sheet : sheets) {
        if (sheet.name == name) return sheet;
    }
    return ReadSheet{"<missing>", false, {}, {}};
}

}  // namespace orv::libreoffice::test
