// A sheet's code travels with it: the module comes along into macro-enabled workbooks under a free code name,
// a deletion takes it away, a target that cannot hold macros is reported, a signature that no longer fits is
// removed and said, and damaged projects are refused before anything changes. The compression the module
// streams use is checked on its own too.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "TestSupport.h"
#include "compound/CompoundFile.h"
#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/transfer/MacroReferences.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/vba/Compression.h"
#include "engine/vba/Project.h"
#include "engine/workbook/Workbook.h"
#include "engine/workbook/WorkbookCode.h"

namespace orv::engine::test {
namespace {

std::string Random(std::size_t size, unsigned seed, int alphabet) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text) c = static_cast<char>('a' + random() % static_cast<unsigned>(alphabet));
    return text;
}

TEST(VbaCompression, WhatIsCompressedComesBackWhole) {
    const std::string code = "Attribute VB_Name = \"Sheet1\"\r\nSub Go()\r\n    MsgBox \"Hi\"\r\nEnd Sub\r\n";
    std::string longCode;
    while (longCode.size() < 20000) longCode += code;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"one byte", "a"},
        {"a run", std::string(5000, 'x')},
        {"code over several chunks", longCode},
        {"just under a chunk", longCode.substr(0, 4095)},
        {"a chunk exactly", longCode.substr(0, 4096)},
        {"just over a chunk", longCode.substr(0, 4097)},
        // Bytes that do not compress are stored as raw chunks, a short last one padded.
        {"random bytes", Random(9000, 7, 256)},
        {"random letters", Random(12000, 3, 4)},
    };
    for (const auto& [label, data] : cases) {
        const std::string packed = vba::Compress(data);
        const std::string back = vba::Decompress(packed);
        if (label == "random bytes") {
            // The padding of a raw last chunk comes back as zeros after the data.
            ASSERT_GE(back.size(), data.size()) << label;
            EXPECT_EQ(back.substr(0, data.size()), data) << label;
            EXPECT_EQ(back.find_first_not_of('\0', data.size()), std::string::npos) << label;
        } else {
            EXPECT_EQ(back, data) << label;
        }
        if (label == "a run" || label == "code over several chunks") {
            EXPECT_LT(packed.size(), data.size() / 4) << label;
        }
    }
}

TEST(VbaCompression, DamagedContainersAreRefused) {
    const std::string good = vba::Compress(std::string(300, 'a') + "bcd");
    std::string badSignature = good;
    badSignature[0] = 2;
    std::string badChunk = good;
    badChunk[2] = static_cast<char>((static_cast<unsigned char>(badChunk[2]) & 0x8F) | 0x50);
    // A copy token first in a chunk has nothing behind it to copy.
    const std::string tokenFirst = std::string("\x01\x02\xB0\x01\x00\x00", 6);
    const std::string rawShort = std::string("\x01\xFF\x3F", 3) + std::string(100, 'a');
    for (const auto& [label, container] : std::vector<std::pair<std::string, std::string>>{
             {"empty", ""},
             {"no signature", badSignature},
             {"chunk signature", badChunk},
             {"cut header", good.substr(0, 2)},
             {"cut token", vba::Compress(std::string(300, 'a')).substr(0, vba::Compress(std::string(300, 'a')).size() - 1)},
             {"token before the chunk", tokenFirst},
             {"short raw chunk", rawShort}}) {
        EXPECT_THROW(vba::Decompress(container), EngineError) << label;
    }
    EXPECT_THROW(vba::Decompress(vba::Compress(std::string(20000, 'z')), 8192), EngineError) << "limit";
}

TEST(SheetCode, ControlsInAnotherWorkbookNameTheSourceWorkbooksMacro) {
    const std::pair<std::string, std::string> cases[] = {
        {"[0]!omit_Click", "[2]!omit_Click"}, {"Module1.Go", "[2]!Module1.Go"}, {"Go", "[2]!Go"},
        {"", ""}, {"[1]!Other", "[1]!Other"}, {"'b.xlsm'!Go", "'b.xlsm'!Go"},
    };
    for (const auto& [macro, expected] : cases) EXPECT_EQ(MacroOfSource(macro, 2), expected) << macro;
}

// The bytes of a part of the package at `path`, or "" when there is none.
std::string PartOrEmpty(const std::string& path, const std::string& part) {
    auto package = Package::Open(path);
    return package->Has(part) ? package->Read(part) : "";
}

vba::Project ProjectOf(const std::string& path) {
    return vba::Project::Read(PartText(path, "xl/vbaProject.bin"), path);
}

// The code of a module without the line that names it, which a copy changes.
std::vector<std::string> CodeLines(const vba::Project& project, const std::string& module) {
    const vba::Module* m = project.Find(module);
    if (!m) return {"(no module " + module + ")"};
    std::vector<std::string> lines;
    const std::string source = project.Source(*m);
    for (std::size_t start = 0; start < source.size();) {
        std::size_t end = source.find("\r\n", start);
        if (end == std::string::npos) end = source.size();
        std::string line = source.substr(start, end - start);
        if (!line.starts_with("Attribute VB_Name")) lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

std::string CodeNameOf(const std::string& path, const std::string& sheet) {
    auto doc = WorkbookDocument::Open(path);
    for (const auto& s : doc->sheets()) {
        if (s.name == sheet) return SheetCodeName(doc->package(), s.part);
    }
    return "(no sheet " + sheet + ")";
}

// Every code name a sheet records names a document module, and every document module but the workbook's
// belongs to a sheet.
void ExpectSheetsAndModulesMatch(const std::string& path, const std::string& label) {
    auto doc = WorkbookDocument::Open(path);
    WorkbookCode code(*doc);
    if (!code.hasProject()) return;
    std::set<std::string> sheetCodes;
    for (const auto& s : doc->sheets()) {
        if (s.part.empty()) continue;
        const std::string name = SheetCodeName(doc->package(), s.part);
        if (name.empty()) continue;
        EXPECT_TRUE(sheetCodes.insert(name).second) << label << ": code name " << name << " twice";
        const vba::Module* m = code.project().Find(name);
        EXPECT_TRUE(m && m->document) << label << ": sheet " << s.name << " names no module " << name;
    }
    for (const auto& m : code.project().modules()) {
        if (m.document && m.name != code.workbookCodeName()) {
            EXPECT_TRUE(sheetCodes.count(m.name)) << label << ": module " << m.name << " has no sheet";
        }
    }
}

struct CodeCopy {
    const char* source;
    const char* sheet;
    const char* target;
    const char* module;    // the source sheet's module
    const char* codeName;  // the copy's
};

TEST(SheetCode, ACopyCarriesItsModuleUnderAFreeCodeName) {
    const CodeCopy cases[] = {
        // The target has a Sheet1 already: the copy's code name gets a digit, as the application gives one.
        {"form-controls-hidden-vba.xlsm", "MV Calculator", "ole-attachments-cyrillic.xlsm", "Sheet1", "Sheet11"},
        {"chartsheets-213-names-vba.xlsm", "General", "form-controls-hidden-vba.xlsm", "General", "General"},
        // A chart sheet's module travels as a worksheet's does.
        {"sheet-types-macro-dialog-chart.xlsm", "Chart1", "ole-attachments-cyrillic.xlsm", "Chart1", "Chart1"},
        // A target without a project gets one.
        {"ole-attachments-cyrillic.xlsm", "Page 1", "pivot-charts.xlsm", "Sheet2", "Sheet2"},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.sheet) + " into " + c.target;
        TempDir dir;
        const std::string target = CopyTo(Fixture(c.target), dir, c.target);
        const std::string before = PartOrEmpty(target, "xl/vbaProject.bin");
        auto src = WorkbookDocument::Open(Fixture(c.source));
        auto dst = WorkbookDocument::Open(target);
        int index = 0;
        while (src->sheets()[static_cast<std::size_t>(index)].name != c.sheet) ++index;
        const auto copied = CopySheet(*src, index, *dst, 0);
        EXPECT_EQ(copied.codeLeftBehind, "") << label;
        EXPECT_EQ(dst->TakeNotices(), std::vector<std::string>{}) << label;
        dst->Save();
        EXPECT_FALSE(src->changed()) << label;

        EXPECT_EQ(CodeNameOf(target, copied.name), c.codeName) << label;
        const auto project = ProjectOf(target);
        const auto from = ProjectOf(Fixture(c.source));
        EXPECT_EQ(CodeLines(project, c.codeName), CodeLines(from, c.module)) << label;
        const std::string source = project.Source(*project.Find(c.codeName));
        EXPECT_TRUE(source.starts_with("Attribute VB_Name = \"" + std::string(c.codeName) + "\"")) << label;
        ExpectSheetsAndModulesMatch(target, label);
        EXPECT_EQ(Problems(target), std::vector<std::string>{}) << label;
        // Buttons and controls run the source workbook's macros, through the link to it.
        if (std::string(c.sheet) == "MV Calculator") {
            // The target has no macros of its own to name.
            auto package = Package::Open(target);
            for (const auto& part : package->PartNames()) {
                const std::string text = package->Read(part);
                EXPECT_EQ(text.find("macro=\"[0]!"), std::string::npos) << label << ": " << part;
                EXPECT_EQ(text.find("FmlaMacro>[0]!"), std::string::npos) << label << ": " << part;
            }
            const std::string sheetPart = [&] {
                auto doc = WorkbookDocument::Open(target);
                return doc->sheets()[0 + 1].part;
            }();
            EXPECT_NE(package->Read(sheetPart).find("macro=\"[1]!omit_Click\""), std::string::npos) << label;
            EXPECT_NE(package->Read("xl/externalLinks/_rels/externalLink1.xml.rels").find("form-controls-hidden-vba.xlsm"),
                      std::string::npos)
                << label;
        }

        // Compiled again from source when opened; every other stream of the project kept as it was.
        const std::string after = PartText(target, "xl/vbaProject.bin");
        const auto written = compound::ReadTree({after.begin(), after.end()});
        const auto& vbaAfter = *written.Child("VBA");
        EXPECT_EQ(vbaAfter.Child("_VBA_PROJECT")->data,
                  (std::vector<std::uint8_t>{0xCC, 0x61, 0xFF, 0xFF, 0x00, 0x01, 0x00}))
            << label;
        if (before.empty()) {
            EXPECT_NE(PartText(target, "xl/workbook.xml").find("codeName=\"ThisWorkbook\""), std::string::npos)
                << label;
            EXPECT_TRUE(project.Find("ThisWorkbook")) << label;
            continue;
        }
        const auto tree = compound::ReadTree({before.begin(), before.end()});
        for (const auto& entry : tree.Child("VBA")->children) {
            if (entry.name == "dir" || entry.name == "_VBA_PROJECT") continue;
            const auto* kept = vbaAfter.Child(entry.name);
            ASSERT_TRUE(kept) << label << ": lost " << entry.name;
            EXPECT_EQ(kept->data, entry.data) << label << ": " << entry.name;
        }
        const auto original = ProjectOf(Fixture(c.target));
        for (const auto& m : original.modules())
            EXPECT_EQ(CodeLines(project, m.name), CodeLines(original, m.name)) << label;
    }
}

TEST(SheetCode, AGroupCarriesEveryModuleAndADeletionTakesOneAway) {
    TempDir dir;
    const std::string target = CopyTo(Fixture("chartsheets-213-names-vba.xlsm"), dir, "same.xlsm");
    const std::string other = CopyTo(Fixture("ole-attachments-cyrillic.xlsm"), dir, "other.xlsm");
    {
        // The group into a workbook holding the same code names: each copy gets a digit.
        auto src = WorkbookDocument::Open(Fixture("chartsheets-213-names-vba.xlsm"));
        auto dst = WorkbookDocument::Open(target);
        const auto copies = CopySheets(*src, {1, 2, 3}, *dst, 0);
        dst->Save();
        const auto project = ProjectOf(target);
        const auto from = ProjectOf(Fixture("chartsheets-213-names-vba.xlsm"));
        for (const auto& copy : copies) {
            const std::string codeName = CodeNameOf(target, copy.name);
            EXPECT_TRUE(codeName.ends_with("1")) << copy.name << ": " << codeName;
            EXPECT_EQ(CodeLines(project, codeName), CodeLines(from, codeName.substr(0, codeName.size() - 1)));
        }
        ExpectSheetsAndModulesMatch(target, "group");
    }
    {
        // A rename keeps the code name, and so the module.
        auto doc = WorkbookDocument::Open(target);
        const std::string codeName = SheetCodeName(doc->package(), doc->sheets()[1].part);
        doc->Rename(1, "Renamed");
        doc->Save();
        EXPECT_EQ(CodeNameOf(target, "Renamed"), codeName);
        ExpectSheetsAndModulesMatch(target, "rename");
    }
    {
        auto doc = WorkbookDocument::Open(target);
        const std::string codeName = SheetCodeName(doc->package(), doc->sheets()[1].part);
        doc->Delete(1);
        doc->Save();
        EXPECT_FALSE(ProjectOf(target).Find(codeName)) << codeName;
        EXPECT_EQ(PartText(target, "xl/vbaProject.bin").find(codeName + "=0, 0"), std::string::npos);
        ExpectSheetsAndModulesMatch(target, "delete");
        EXPECT_EQ(Problems(target), std::vector<std::string>{});
    }
    {
        // A sheet without code changes no project.
        const std::string before = PartText(other, "xl/vbaProject.bin");
        auto doc = WorkbookDocument::Open(other);
        WritePackage(dir.File("plain.xlsx"), RichWorkbookParts());
        auto plain = WorkbookDocument::Open(dir.File("plain.xlsx"));
        CopySheet(*plain, 0, *doc, 0);
        doc->Save();
        EXPECT_EQ(PartText(other, "xl/vbaProject.bin"), before);
    }
}

TEST(SheetCode, ATargetThatCannotHoldMacrosGetsTheCopyWithoutItsCode) {
    TempDir dir;
    const std::string target = dir.File("plain.xlsx");
    WritePackage(target, RichWorkbookParts());
    auto src = WorkbookDocument::Open(Fixture("form-controls-hidden-vba.xlsm"));
    auto dst = WorkbookDocument::Open(target);
    const auto copied = CopySheet(*src, 3, *dst, 0);
    EXPECT_NE(copied.codeLeftBehind.find("\"MV Calculator\""), std::string::npos) << copied.codeLeftBehind;
    EXPECT_NE(copied.codeLeftBehind.find("cannot hold macros"), std::string::npos) << copied.codeLeftBehind;
    dst->Save();
    EXPECT_EQ(CodeNameOf(target, copied.name), "");
    EXPECT_EQ(PartOrEmpty(target, "xl/vbaProject.bin"), "");
    EXPECT_EQ(Problems(target), std::vector<std::string>{});
}

// `path` with its project's signature parts: the relationships from the project and the parts they lead to.
void Sign(const std::string& path) {
    auto package = Package::Open(path);
    Parts parts;
    for (const auto& name : package->PartNames()) {
        std::string bytes = package->Read(name);
        if (name == "[Content_Types].xml") {
            bytes.insert(bytes.find("</Types>"),
                         "<Override PartName=\"/xl/vbaProjectSignature.bin\" "
                         "ContentType=\"application/vnd.ms-office.vbaProjectSignature\"/>");
        }
        parts.emplace_back(name, bytes);
    }
    parts.emplace_back("xl/_rels/vbaProject.bin.rels",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                       "Id=\"rId1\" Type=\"http://schemas.microsoft.com/office/2006/relationships/"
                       "vbaProjectSignature\" Target=\"vbaProjectSignature.bin\"/></Relationships>");
    parts.emplace_back("xl/vbaProjectSignature.bin", std::string(64, '\x5A'));
    package.reset();
    WritePackage(path, parts);
}

TEST(SheetCode, ASignatureThatNoLongerFitsIsRemovedAndSaid) {
    TempDir dir;
    const std::string target = CopyTo(Fixture("ole-attachments-cyrillic.xlsm"), dir, "signed.xlsm");
    Sign(target);
    {
        auto src = WorkbookDocument::Open(Fixture("form-controls-hidden-vba.xlsm"));
        auto dst = WorkbookDocument::Open(target);
        CopySheet(*src, 3, *dst, 0);
        const auto notices = dst->TakeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("signature was removed"), std::string::npos) << notices[0];
        dst->Save();
    }
    EXPECT_EQ(PartOrEmpty(target, "xl/vbaProjectSignature.bin"), "");
    EXPECT_EQ(PartOrEmpty(target, "xl/_rels/vbaProject.bin.rels"), "");
    EXPECT_EQ(Problems(target), std::vector<std::string>{});
    EXPECT_EQ(Orphans(target), std::vector<std::string>{});

    // A deletion changes the project too.
    Sign(target);
    auto doc = WorkbookDocument::Open(target);
    doc->Delete(1);
    EXPECT_EQ(doc->TakeNotices().size(), 1u);
}

// The project `bytes` with `change` made to its tree.
std::string Changed(const std::string& bytes, const std::function<void(compound::Entry&)>& change) {
    auto tree = compound::ReadTree({bytes.begin(), bytes.end()});
    change(tree);
    const auto written = compound::Write(tree);
    return {written.begin(), written.end()};
}

TEST(SheetCode, DamagedProjectsAreRefusedBeforeAnythingChanges) {
    const std::string source = Fixture("form-controls-hidden-vba.xlsm");
    const std::string project = PartText(source, "xl/vbaProject.bin");
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(project[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(project[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(project[at + 2])) << 16;
    };
    auto le = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), 0};
    };
    // The directory's first sector names itself as the next one; the root says its mini stream is huge.
    const std::uint32_t directory = u32(0x30);
    ASSERT_LT(directory, 128u);
    std::string looped = project;
    looped.replace((u32(0x4C) + 1) * 512 + 4 * directory, 4, le(directory));
    std::string huge = project;
    huge.replace((directory + 1) * 512 + 0x78, 4, le(0x7FFFFF00));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"truncated", project.substr(0, project.size() / 2)},
        {"looping chain", looped},
        {"module stream missing",
         Changed(project, [](compound::Entry& root) { root.Child("VBA")->Remove("Sheet1"); })},
        {"directory not compressed",
         Changed(project, [](compound::Entry& root) { root.Child("VBA")->Child("dir")->data.assign(40, 7); })},
        {"module source damaged",
         Changed(project,
                 [](compound::Entry& root) {
                     auto& data = root.Child("VBA")->Child("Sheet1")->data;
                     data.resize(data.size() - 40);
                     data.push_back(0xFF);
                 })},
        {"sizes beyond the file", huge},
    };
    for (const auto& [label, bytes] : cases) {
        TempDir dir;
        auto package = Package::Open(source);
        Parts parts;
        for (const auto& name : package->PartNames())
            parts.emplace_back(name, name == "xl/vbaProject.bin" ? bytes : package->Read(name));
        package.reset();
        const std::string damaged = dir.File("damaged.xlsm");
        WritePackage(damaged, parts);
        const std::string target = CopyTo(Fixture("ole-attachments-cyrillic.xlsm"), dir, "target.xlsm");
        auto src = WorkbookDocument::Open(damaged);
        auto dst = WorkbookDocument::Open(target);
        try {
            CopySheet(*src, 3, *dst, 0);
            ADD_FAILURE() << label << ": copied";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find("damaged.xlsm"), std::string::npos) << label << ": " << e.what();
        }
        EXPECT_FALSE(dst->changed()) << label;
        // A deletion reads the project but not the source of the module it removes.
        if (label == "module source damaged") continue;
        auto doc = WorkbookDocument::Open(damaged);
        EXPECT_THROW(doc->Delete(3), EngineError) << label;
        EXPECT_FALSE(doc->changed()) << label;
    }
}

}  // namespace
}  // namespace orv::engine::test
