// Drives the engine over one workbook file the way the object model does, checking what each save wrote.
#include "WorkbookExercise.h"

#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"
#include "engine/EngineError.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"

namespace orv::fuzz {

namespace {

using engine::EngineError;
using engine::WorkbookDocument;

// Small limits keep one input from taking the fuzzer's memory.
engine::InflateLimits Limits() {
    engine::InflateLimits limits;
    limits.maxEntryBytes = 32u << 20;
    return limits;
}

// A saved file must open again and list exactly what the engine held when it saved.
void CheckSaved(const WorkbookDocument& saved, const std::string& path) {
    std::unique_ptr<WorkbookDocument> again;
    try {
        again = WorkbookDocument::Open(path, Limits());
    } catch (const EngineError& e) {
        std::fprintf(stderr, "a saved workbook does not open again: %s\n", e.what());
        std::abort();
    }
    if (again->SheetNames() != saved.SheetNames()) {
        std::fprintf(stderr, "a saved workbook lists other sheets than were saved\n");
        std::abort();
    }
}

const std::string& GoodWorkbook() {
    static const std::string bytes = ZipOf({
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
         "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
         "</Types>"},
        {"_rels/.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
         "Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
         "<sheets><sheet name=\"Target\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
         "Target=\"worksheets/sheet1.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
         "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>"},
    });
    return bytes;
}

}  // namespace

void ExerciseWorkbook(const std::string& path) {
    std::unique_ptr<WorkbookDocument> doc;
    if (!Try([&] { doc = WorkbookDocument::Open(path, Limits()); })) return;
    auto& package = doc->package();
    for (const auto& part : package.PartNames()) Try([&] { package.Read(part); });

    const int count = static_cast<int>(doc->sheets().size());
    if (count > 0) {
        Try([&] { doc->Rename(0, "Fuzzed 'one'"); });
        Try([&] { doc->Move(0, count - 1); });
        Try([&] { doc->Delete(count - 1); });
    }
    const std::string savedPath = ScratchPath("saved.xlsx");
    if (Try([&] { doc->SaveTo(savedPath); })) CheckSaved(*doc, savedPath);

    // A copy into a good workbook must leave it a good workbook, or be refused.
    std::unique_ptr<WorkbookDocument> source;
    if (!Try([&] { source = WorkbookDocument::Open(path, Limits()); }) || source->sheets().empty()) return;
    const auto& good = GoodWorkbook();
    const std::string targetPath =
        WriteScratch("target.xlsx", reinterpret_cast<const std::uint8_t*>(good.data()), good.size());
    auto target = WorkbookDocument::Open(targetPath, Limits());
    if (Try([&] { engine::CopySheet(*source, 0, *target, 0); }) && Try([&] { target->Save(); })) {
        CheckSaved(*target, targetPath);
    }
    // The same for a group: its sheets' references to each other are rewritten together.
    std::vector<int> group;
    for (int i = 0; i < static_cast<int>(source->sheets().size()) && i < 4; ++i) group.push_back(i);
    if (group.size() < 2) return;
    const std::string groupPath =
        WriteScratch("group.xlsx", reinterpret_cast<const std::uint8_t*>(good.data()), good.size());
    auto groupTarget = WorkbookDocument::Open(groupPath, Limits());
    if (Try([&] { engine::CopySheets(*source, group, *groupTarget, 0); }) && Try([&] { groupTarget->Save(); }))
        CheckSaved(*groupTarget, groupPath);
}

}  // namespace orv::fuzz
