// Every operation on every real workbook copied into the fixtures: the result passes the structural checker,
// breaks nothing a strict reader had accepted, adds no orphaned part, and keeps every part the operation had
// no reason to touch byte-identical.
#include <gtest/gtest.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/Zip.h"
#include "engine/workbook/References.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

class CorpusTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        original = Fixture(GetParam());
        baselineProblems = Problems(original);
        const auto orphans = Orphans(original);
        baselineOrphans.insert(orphans.begin(), orphans.end());
        strictBaseline.push_back(StrictlyRead(original));
    }

    // Runs `op` on a fresh copy, saves, and checks the result; returns the copy's path.
    std::string Check(
        const std::string& label, const std::function<void(WorkbookDocument&)>& op,
        const std::function<bool(const std::string& part, const std::string& text)>& mayChange) {
        const auto path = CopyTo(original, dir, label + "-" + GetParam());
        auto doc = WorkbookDocument::Open(path);
        op(*doc);
        try {
            doc->Save();
        } catch (const EngineError& e) {
            // Only a protected workbook structure may refuse to save a sheet under a new name; the file then
            // stays as it was, which the checks below confirm.
            EXPECT_NE(std::string(e.what()).find("protected"), std::string::npos) << label << ": " << e.what();
        }
        EXPECT_EQ(Problems(path), baselineProblems) << label;
        EXPECT_EQ(StrictRegressions(strictBaseline, path), std::vector<std::string>{}) << label;
        for (const auto& orphan : Orphans(path)) {
            EXPECT_TRUE(baselineOrphans.count(orphan)) << label << ": " << orphan << " lost its referrer";
        }
        const auto before = ReadStored(original);
        const auto after = ReadStored(path);
        for (const auto& [name, entry] : after.entries) {
            auto it = before.entries.find(name);
            if (it == before.entries.end()) {
                ADD_FAILURE() << label << " added " << name;
                continue;
            }
            if (it->second.bytes == entry.bytes) {
                EXPECT_EQ(it->second.compressed, entry.compressed)
                    << label << ": " << name << " recompressed";
            } else {
                EXPECT_TRUE(mayChange(name, it->second.bytes)) << label << " changed " << name;
            }
        }
        return path;
    }

    static bool Bookkeeping(const std::string& part) {
        return part == "[Content_Types].xml" || part.ends_with(".rels") || part == "docProps/app.xml" ||
               part.find("workbook.xml") != std::string::npos;
    }

    TempDir dir;
    std::string original;
    std::vector<std::string> baselineProblems;
    std::set<std::string> baselineOrphans;
    std::vector<StrictView> strictBaseline;
};

TEST_P(CorpusTest, EveryOperationLeavesASoundPackage) {
    auto probe = WorkbookDocument::Open(original);
    const auto sheets = probe->sheets();
    probe.reset();
    const int count = static_cast<int>(sheets.size());

    for (int i = 0; i < count; ++i) {
        const std::string oldName = sheets[static_cast<std::size_t>(i)].name;
        // Only parts that mention the old name (in any case) may change, besides the bookkeeping parts.
        const std::string folded =
            platform::FoldCase(oldName.substr(0, std::min(oldName.find_first_of("'&<>\""), std::size_t{3})));
        const auto path = Check(
            "rename" + std::to_string(i),
            [&](WorkbookDocument& doc) {
                try {
                    doc.Rename(i, "Renamed O'Sheet " + std::to_string(i));
                } catch (const EngineError& e) {
                    // Only a protected workbook structure may refuse a valid, free name.
                    EXPECT_NE(std::string(e.what()).find("protected"), std::string::npos) << e.what();
                }
            },
            [&](const std::string& part, const std::string& text) {
                return Bookkeeping(part) || platform::FoldCase(text).find(folded) != std::string::npos ||
                       folded.empty();
            });
        auto reopened = WorkbookDocument::Open(path);
        if (reopened->sheets()[static_cast<std::size_t>(i)].name != oldName) {
            EXPECT_EQ(reopened->sheets()[static_cast<std::size_t>(i)].name,
                      "Renamed O'Sheet " + std::to_string(i));
        }
    }
    if (count > 1) {
        Check(
            "move",
            [&](WorkbookDocument& doc) {
                try {
                    doc.Move(0, count - 1);
                } catch (const EngineError& e) {
                    EXPECT_NE(std::string(e.what()).find("protected"), std::string::npos) << e.what();
                }
            },
            [&](const std::string& part, const std::string&) {
                return part == "docProps/app.xml" || part.find("workbook.xml") != std::string::npos;
            });
    }
    for (int i = 0; i < count; ++i) {
        Check(
            "delete" + std::to_string(i),
            [&](WorkbookDocument& doc) {
                try {
                    doc.Delete(i);
                } catch (const EngineError& e) {
                    const std::string what = e.what();
                    EXPECT_TRUE(what.find("protected") != std::string::npos ||
                                what.find("visible sheet") != std::string::npos)
                        << what;
                }
            },
            [&](const std::string&, const std::string&) { return true; });
    }
}

// The XML a part holds, whatever its bytes: canonical XML (attribute order, quotes, entities and empty
// elements made one way), or the parser's complaint.
std::string Canonical(const std::string& text) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "part.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_HUGE);
    if (!doc) return "not well-formed";
    xmlChar* out = nullptr;
    const int size = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 1, &out);
    std::string canonical = size < 0 ? "cannot be canonicalised" : std::string(reinterpret_cast<char*>(out), size);
    xmlFree(out);
    xmlFreeDoc(doc);
    return canonical;
}

// A worksheet's rows rewritten as a stream hold the same XML as the whole part rewritten as a tree, for every
// sheet of every fixture renamed or deleted: the stream changes memory and speed, nothing else.
TEST(StreamedRows, RewriteWorksheetsAsTheirTreesDo) {
    std::vector<std::filesystem::path> books;
    for (const char* folder : {ORVANDEL_OOXML_FIXTURES, ORVANDEL_PRODUCER_FIXTURES}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const auto ext = entry.path().extension();
            if (ext == ".xlsx" || ext == ".xlsm" || ext == ".xltx") books.push_back(entry.path());
        }
    }
    int compared = 0;
    for (const auto& book : books) {
        std::unique_ptr<Package> package;
        std::vector<std::string> names;
        try {
            package = Package::Open(book.string());
            names = WorkbookDocument::Open(book.string())->SheetNames();
        } catch (const EngineError&) {
            continue;  // the damaged fixtures
        }
        ContentTypes types(*package);
        for (const auto& part : package->PartNames()) {
            if (!ContentTypeIs(types.TypeOf(part), "spreadsheetml.worksheet+xml")) continue;
            std::string bytes;
            try {
                bytes = package->Read(part);
            } catch (const EngineError&) {
                continue;  // a part damaged on purpose
            }
            for (const auto& name : names) {
                ReferenceEdit rename, remove;
                rename.formula = [&](std::string_view f) { return formula::RenameSheet(f, name, "Renamed 'Sheet'"); };
                remove.formula = [&](std::string_view f) { return formula::DeleteSheet(f, name, names); };
                for (const auto* edit : {&rename, &remove}) {
                    SCOPED_TRACE(book.filename().string() + " " + part + " " + name);
                    const auto streamed = RewriteFormulaPart(part, bytes, true, *edit, "book.xlsx");
                    const auto tree = RewriteFormulaPart(part, bytes, false, *edit, "book.xlsx");
                    ASSERT_EQ(streamed.has_value(), tree.has_value());
                    if (!tree) continue;
                    EXPECT_EQ(Canonical(Inflate(*streamed)), Canonical(Inflate(*tree)));
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 100) << "too few rewritten worksheets to judge the stream";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CorpusTest, ::testing::ValuesIn(OpenableFixtures()),
                         [](const auto& info) { return FixtureTestName(info.param); });

}  // namespace
}  // namespace orv::engine::test
