// A new workbook made in memory: the fewest parts a workbook can have, so that what the copies bring is all it
// holds once its first sheet gives way to them.
#include <string_view>

#include "engine/EngineError.h"
#include "engine/package/ContentTypes.h"
#include "engine/workbook/Workbook.h"
#include "platform/Paths.h"
#include "platform/TextCase.h"

namespace orv::engine {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// The main part's content type for a file of that extension (case folded); "" for one the engine does not
// write.
std::string_view MainType(std::string_view extension) {
    if (extension == ".XLSX") return "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    if (extension == ".XLTX") return "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml";
    if (extension == ".XLSM") return "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
    if (extension == ".XLTM") return "application/vnd.ms-excel.template.macroEnabled.main+xml";
    return "";
}

std::string Xml(std::string_view body) { return std::string(kDeclaration) + std::string(body); }

}  // namespace

std::unique_ptr<WorkbookDocument> WorkbookDocument::Create(const std::string& path) {
    const std::string name = platform::FileNameOf(path);
    const auto dot = name.rfind('.');
    const std::string_view main = MainType(dot == std::string::npos ? "" : platform::FoldCase(name.substr(dot)));
    if (main.empty()) {
        throw EngineError("\"" + name +
                          "\" cannot be made by the built-in workbook engine: it writes .xlsx, .xlsm, .xltx and .xltm "
                          "workbooks.");
    }
    auto package = Package::Create(path);
    const std::string ns = "xmlns=\"" + std::string(kMain) + "\"";
    package->Write(kContentTypesPart,
                   Xml("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                       "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                       "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + std::string(main) + "\"/>"
                       "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
                       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                       "<Override PartName=\"/xl/styles.xml\" "
                       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                       "</Types>"));
    package->Write("_rels/.rels",
                   Xml("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" "
                       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                       "Target=\"xl/workbook.xml\"/></Relationships>"));
    package->Write("xl/workbook.xml",
                   Xml("<workbook " + ns +
                       " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                       "<bookViews><workbookView/></bookViews>"
                       "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"));
    package->Write("xl/_rels/workbook.xml.rels",
                   Xml("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" "
                       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                       "Target=\"worksheets/sheet1.xml\"/>"
                       "<Relationship Id=\"rId2\" "
                       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
                       "Target=\"styles.xml\"/></Relationships>"));
    package->Write("xl/worksheets/sheet1.xml", Xml("<worksheet " + ns + "><sheetData/></worksheet>"));
    package->Write("xl/styles.xml",
                   Xml("<styleSheet " + ns +
                       "><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
                       "</fonts><fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill>"
                       "<patternFill patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border><left/>"
                       "<right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count=\"1\"><xf "
                       "numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs><cellXfs "
                       "count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
                       "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
                       "</cellStyles><dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>"));
    std::unique_ptr<WorkbookDocument> doc(new WorkbookDocument(std::move(package)));
    doc->Load();
    doc->m_fresh = true;
    doc->m_citable.emplace();
    return doc;
}

}  // namespace orv::engine
