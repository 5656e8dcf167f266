// Fuzz target: the XML of a workbook rather than its zip. The input is up to four texts separated by NUL
// bytes: the workbook part, its relationships, the content types and the first worksheet; they are packed into
// a well-formed zip with the package relationships, so that the fuzzer spends its time in the parsers of the
// workbook and of relationships instead of in the zip layer.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "WorkbookExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orv::fuzz;
    auto pieces = SplitAtNul(data, size, 4);
    pieces.resize(4);
    const std::string zip = ZipOf({
        {"[Content_Types].xml", pieces[2]},
        {"_rels/.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
         "Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", pieces[0]},
        {"xl/_rels/workbook.xml.rels", pieces[1]},
        {"xl/worksheets/sheet1.xml", pieces[3]},
        {"xl/worksheets/sheet2.xml",
         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/></worksheet>"},
    });
    ExerciseWorkbook(WriteScratch("input.xlsx", reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size()));
    return 0;
}
