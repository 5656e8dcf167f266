// The package layer: raw copy of untouched entries, atomic saves, changes discarded back to a checkpoint, and
// clear refusals of bad input.
#include <gtest/gtest.h>
#include <zip.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>

#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The engine's failure description when opening `path`, or "" when it opened.
std::string OpenFailure(const std::string& path, InflateLimits limits = {}) {
    try {
        WorkbookDocument::Open(path, limits);
    } catch (const EngineError& e) {
        return e.what();
    }
    return "";
}

Parts WithPart(Parts parts, const std::string& name, const std::string& bytes) {
    for (auto& [n, b] : parts) {
        if (n == name) {
            b = bytes;
            return parts;
        }
    }
    parts.emplace_back(name, bytes);
    return parts;
}

[[maybe_unused]] bool OnlyFileIn(const fs::path& dir) {
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator()) == 1;
}

// Part names compare as their keys do: ASCII case and a leading slash aside, every byte counts (characters one
// bit apart, like '[' and '{', are not the same letter in two cases).
TEST(PartNames, CompareInPlaceAsTheirKeysDo) {
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"/xl/Worksheets/Sheet1.xml", "xl/worksheets/sheet1.xml"}, {"xl/a[1].xml", "xl/a{1}.xml"},
        {"xl/@.xml", "xl/`.xml"}, {"/xl/x.xml", "xl/x.xml/"}, {"XL/Ä.xml", "xl/ä.xml"}, {"", "/"},
        {"xl/sheet10.xml", "xl/sheet1.xml"}, {"xl/s_1.xml", "xl/s\x7f" "1.xml"}};
    for (const auto& [a, b] : pairs) {
        EXPECT_EQ(SamePartName(a, b), PartKey(a) == PartKey(b)) << a << " / " << b;
        EXPECT_EQ(SamePartName(b, a), PartKey(a) == PartKey(b)) << b << " / " << a;
    }
}

TEST(PackageSave, UntouchedEntriesKeepTheirCompressedBytesAndOrder) {
    TempDir dir;
    const auto path = CopyTo(Fixture("many-sheets-tables-pivots.xlsx"), dir, "book.xlsx");
    const auto before = ReadStored(path);
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Inputs");
    doc->Save();
    const auto after = ReadStored(path);
    ASSERT_EQ(before.order, after.order);
    int changed = 0;
    for (const auto& name : before.order) {
        const auto& a = before.entries.at(name);
        const auto& b = after.entries.at(name);
        if (a.bytes == b.bytes) {
            EXPECT_EQ(a.compressed, b.compressed) << name << " was recompressed";
        } else {
            ++changed;
        }
    }
    EXPECT_GE(changed, 2);  // the workbook part and app.xml at least
    EXPECT_LT(changed, static_cast<int>(before.order.size()) / 2);
}

// POSIX permissions and links; WindowsFilesTest.cpp has the Windows side.
#ifndef _WIN32
TEST(PackageSave, KeepsPermissionsAndLeavesNoTemporaryFile) {
    TempDir dir;
    const auto path = CopyTo(Fixture("3d-references.xlsx"), dir, "book.xlsx");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "Middle");
    doc->Save();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_TRUE(OnlyFileIn(dir.path()));
    EXPECT_EQ(WorkbookDocument::Open(path)->sheets()[1].name, "Middle");
}

TEST(PackageSave, ThroughASymbolicLinkReplacesTheFileItPointsTo) {
    TempDir dir;
    const auto target = CopyTo(Fixture("3d-references.xlsx"), dir, "real.xlsx");
    const auto link = dir.File("link.xlsx");
    fs::create_symlink("real.xlsx", link);
    auto doc = WorkbookDocument::Open(link);
    doc->Rename(0, "First");
    doc->Save();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(WorkbookDocument::Open(target)->sheets()[0].name, "First");
}

TEST(PackageSave, ReadOnlyFileOrFolderIsRefusedAndNothingChanges) {
    TempDir dir;
    const auto path = CopyTo(Fixture("3d-references.xlsx"), dir, "book.xlsx");
    const auto original = Slurp(path);
    {
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        auto doc = WorkbookDocument::Open(path);
        doc->Rename(0, "First");
        try {
            doc->Save();
            FAIL() << "saved over a read-only file";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
        }
        EXPECT_EQ(Slurp(path), original);
        EXPECT_TRUE(OnlyFileIn(dir.path()));
    }
    {
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        auto doc = WorkbookDocument::Open(path);
        doc->Rename(0, "First");
        EXPECT_THROW(doc->Save(), EngineError);
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(Slurp(path), original);
        EXPECT_TRUE(OnlyFileIn(dir.path()));
    }
}

#endif

TEST(PackageSave, TemplatesAndMacroWorkbooksKeepTheirFormat) {
    TempDir dir;
    for (const char* name : {"template.xltx", "sheet-types-macro-dialog-chart.xlsm"}) {
        const auto path = CopyTo(Fixture(name), dir, name);
        const auto before = ReadStored(path);
        auto doc = WorkbookDocument::Open(path);
        doc->Rename(0, "Renamed");
        doc->Save();
        const auto after = ReadStored(path);
        EXPECT_EQ(before.entries.at("[Content_Types].xml").bytes,
                  after.entries.at("[Content_Types].xml").bytes)
            << name;
        if (before.entries.count("xl/vbaProject.bin")) {
            EXPECT_EQ(before.entries.at("xl/vbaProject.bin").compressed,
                      after.entries.at("xl/vbaProject.bin").compressed);
        }
    }
}

TEST(PackageDamage, AnOperationThatMustReadADamagedPartFailsAndWritesNothing) {
    TempDir dir;
    const auto path = CopyTo(Fixture("bad-crc-part.xlsx"), dir, "crc.xlsx");
    const auto original = Slurp(path);
    auto doc = WorkbookDocument::Open(path);  // listing never reads the damaged part
    ASSERT_EQ(doc->sheets().size(), 12u);
    try {
        doc->Rename(0, "First");
        FAIL() << "renamed although a part with formulas cannot be read";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("is damaged (CRC error)"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(doc->changed());  // nothing was half-done in memory either
    EXPECT_EQ(Slurp(path), original);
}

struct BadInput {
    const char* label;
    std::function<void(const std::string& path)> make;
    const char* expected;  // a phrase the description must hold
};

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, IsRefusedWithAClearDescriptionAndLeftAlone) {
    TempDir dir;
    const auto path = dir.File("input.xlsx");
    GetParam().make(path);
    const auto bytes = Slurp(path);
    const auto failure = OpenFailure(path);
    EXPECT_NE(failure.find(GetParam().expected), std::string::npos) << failure;
    EXPECT_NE(failure.find("input.xlsx"), std::string::npos) << failure;
    EXPECT_EQ(Slurp(path), bytes);
}

const std::string kDoctype = "<?xml version=\"1.0\"?><!DOCTYPE workbook [<!ENTITY big \"x\">]>";

INSTANTIATE_TEST_SUITE_P(
    Engine, BadInputTest,
    ::testing::Values(
        BadInput{"text", [](const std::string& p) { Spit(p, "Attachment not found!\n"); },
                 "not a zip package"},
        BadInput{"empty", [](const std::string& p) { Spit(p, ""); }, "is empty"},
        BadInput{"encrypted",
                 [](const std::string& p) { fs::copy_file(Fixture("encrypted-agile-aes.xlsx"), p); },
                 "password-protected"},
        BadInput{"legacy", [](const std::string& p) { fs::copy_file(Fixture("biff5-visibility.xls"), p); },
                 "legacy Excel 97-2003 workbook"},
        BadInput{"truncated",
                 [](const std::string& p) {
                     const auto whole = Slurp(Fixture("3d-references.xlsx"));
                     Spit(p, whole.substr(0, whole.size() / 2));
                 },
                 "damaged or incomplete"},
        BadInput{"truncated-corpus",
                 [](const std::string& p) { fs::copy_file(Fixture("truncated-zip.xlsx"), p); },
                 "damaged or incomplete"},
        BadInput{"no-workbook",
                 [](const std::string& p) {
                     WritePackage(p, {{"readme.txt", "hello"}});
                 },
                 "is not a workbook"},
        BadInput{"lock-file", [](const std::string& p) { fs::copy_file(Fixture("owner-lock-file.xlsx"), p); },
                 "is not a workbook"},
        BadInput{"dtd",
                 [](const std::string& p) {
                     WritePackage(p, WithPart(RichWorkbookParts(), "xl/workbook.xml",
                                              kDoctype + "<workbook xmlns=\"x\">&big;</workbook>"));
                 },
                 "DTD"},
        BadInput{"not-utf8",
                 [](const std::string& p) {
                     auto parts = RichWorkbookParts();
                     for (auto& [name, text] : parts) {
                         if (name == "xl/workbook.xml") text.replace(text.find("name=\"Data\""), 11, "name=\"D\x9d" "ta\"");
                     }
                     WritePackage(p, parts);
                 },
                 "not UTF-8"},
        BadInput{"broken-rels",
                 [](const std::string& p) { fs::copy_file(Fixture("broken-root-rels.xlsx"), p); },
                 "not well-formed"},
        BadInput{"missing-sheet-part",
                 [](const std::string& p) {
                     auto parts = RichWorkbookParts();
                     std::erase_if(parts,
                                   [](auto& part) { return part.first == "xl/worksheets/sheet2.xml"; });
                     WritePackage(p, parts);
                 },
                 "is missing"},
        BadInput{"duplicate-entries",
                 [](const std::string& p) {
                     WritePackage(p, WithPart(RichWorkbookParts(), "xl/worksheets/sheeT1.xml", "<x/>"));
                 },
                 "two entries named"}),
    [](const auto& info) {
        std::string name = info.param.label;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// Changes made after a checkpoint and discarded: the package lists, reads and saves as it did at the
// checkpoint, an unsaved change made before it included, and a document handed out before it stays the one
// Xml() returns.
struct Undone {
    const char* label;
    std::function<void(Package&)> change;
};

class CheckpointTest : public ::testing::TestWithParam<Undone> {};

const std::string kSheet1 = "xl/worksheets/sheet1.xml";
const std::string kSheet3 = "xl/worksheets/sheet3.xml";

// Every part name in order with the bytes Read() gives for it.
Parts Contents(const Package& package) {
    Parts parts;
    for (const auto& name : package.PartNames()) parts.emplace_back(name, package.Read(name));
    return parts;
}

void AddElement(Package& package, const std::string& part, const char* name) {
    package.Xml(part).document_element().append_child(name);
    package.MarkChanged(part);
}

TEST_P(CheckpointTest, DiscardPutsEveryPartBack) {
    TempDir dir;
    const auto path = dir.File("book.xlsx");
    WritePackage(path, RichWorkbookParts());
    auto prepare = [&] {
        auto package = Package::Open(path);
        AddElement(*package, "xl/workbook.xml", "before");
        package->Xml("xl/styles.xml");  // parsed, unchanged
        return package;
    };
    auto untouched = prepare();
    auto package = prepare();
    const auto before = Contents(*package);
    const pugi::xml_document* workbook = &package->Xml("xl/workbook.xml");
    const auto checkpoint = package->TakeCheckpoint();
    GetParam().change(*package);
    ASSERT_NE(Contents(*package), before);
    package->DiscardSince(checkpoint);
    EXPECT_EQ(Contents(*package), before);
    EXPECT_EQ(&package->Xml("xl/workbook.xml"), workbook);
    for (const auto& part : {std::string("xl/workbook.xml"), std::string("xl/styles.xml"), kSheet1})
        EXPECT_EQ(SerializeXml(package->Xml(part)), SerializeXml(untouched->Xml(part))) << part;
    EXPECT_TRUE(package->changed());
    EXPECT_THROW(package->DiscardSince(checkpoint), EngineError);  // it ended with the discard
    untouched->Save(dir.File("untouched.xlsx"));
    package->Save(dir.File("discarded.xlsx"));
    const auto expected = ReadStored(dir.File("untouched.xlsx"));
    EXPECT_EQ(ReadStored(dir.File("discarded.xlsx")).order, expected.order);
    ExpectSameParts(expected.entries, dir.File("discarded.xlsx"));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, CheckpointTest,
    ::testing::Values(Undone{"write", [](Package& p) { p.Write(kSheet1, "<worksheet/>"); }},
                      Undone{"write_deflated",
                             [](Package& p) { p.WriteDeflated("xl/styles.xml", Deflate("<styleSheet/>")); }},
                      Undone{"add", [](Package& p) { p.Write("xl/added.xml", "<added/>"); }},
                      Undone{"remove", [](Package& p) { p.Remove(kSheet3); }},
                      Undone{"remove_and_add_again",
                             [](Package& p) {
                                 p.Remove(kSheet3);
                                 p.Write("/XL/worksheets/Sheet3.xml", "<worksheet/>");
                             }},
                      Undone{"xml_changed", [](Package& p) { AddElement(p, "xl/styles.xml", "after"); }},
                      Undone{"xml_changed_again",
                             [](Package& p) { AddElement(p, "xl/workbook.xml", "after"); }},
                      Undone{"xml_changed_then_written",
                             [](Package& p) {
                                 AddElement(p, "xl/workbook.xml", "after");
                                 AddElement(p, kSheet1, "after");
                                 p.Write("xl/workbook.xml", "<workbook/>");
                                 p.Remove(kSheet1);
                             }},
                      Undone{"inner_checkpoint_kept",
                             [](Package& p) {
                                 const auto inner = p.TakeCheckpoint();
                                 AddElement(p, "xl/workbook.xml", "inner");
                                 p.Write("xl/added.xml", "<added/>");
                                 p.KeepSince(inner);
                             }},
                      Undone{"inner_checkpoint_discarded_then_more",
                             [](Package& p) {
                                 AddElement(p, "xl/styles.xml", "outer");
                                 {
                                     PackageCheckpointGuard inner(p);
                                     AddElement(p, "xl/styles.xml", "inner");
                                     p.Remove(kSheet3);
                                 }
                                 EXPECT_TRUE(p.Has(kSheet3));
                                 EXPECT_EQ(p.Read("xl/styles.xml").find("<inner"), std::string::npos);
                                 AddElement(p, "xl/styles.xml", "later");
                                 p.Write(kSheet3, "<worksheet/>");
                             }}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(PackageCheckpoint, AGuardKeepsOnlyWhatItIsToldToAndASaveEndsIt) {
    TempDir dir;
    const auto path = dir.File("book.xlsx");
    WritePackage(path, RichWorkbookParts());
    auto package = Package::Open(path);
    {
        PackageCheckpointGuard guard(*package);
        package->Remove(kSheet3);
        guard.Keep();
    }
    EXPECT_FALSE(package->Has(kSheet3));
    const auto checkpoint = package->TakeCheckpoint();
    package->Write(kSheet1, "<worksheet/>");
    package->Save(dir.File("saved.xlsx"));
    EXPECT_THROW(package->DiscardSince(checkpoint), EngineError);
    EXPECT_EQ(package->Read(kSheet1), "<worksheet/>");
}

TEST(PackageLimits, OversizedOrImplausiblyCompressedPartsAreRefused) {
    TempDir dir;
    const auto path = dir.File("bomb.xlsx");
    // 4 MB of spaces inside the workbook part deflate about a thousand to one.
    auto parts = RichWorkbookParts();
    for (auto& [name, bytes] : parts) {
        if (name == "xl/workbook.xml") bytes.insert(bytes.find("<workbook"), std::string(4u << 20, ' '));
    }
    WritePackage(path, parts);
    InflateLimits strict;
    strict.maxRatio = 100;
    EXPECT_NE(OpenFailure(path, strict).find("implausible ratio"), std::string::npos)
        << OpenFailure(path, strict);
    InflateLimits small;
    small.maxEntryBytes = 1u << 20;
    EXPECT_NE(OpenFailure(path, small).find("more than this program reads"), std::string::npos);
    InflateLimits generous;
    generous.maxRatio = 1u << 20;
    EXPECT_EQ(OpenFailure(path, generous), "");
}

TEST(PackageLazy, ListingAHundredMegabyteWorkbookReadsUnderOneMegabyte) {
    TempDir dir;
    const auto path = dir.File("big.xlsx");
    {
        WritePackage(path, RichWorkbookParts());
        int error = 0;
        zip_t* zip = zip_open(path.c_str(), 0, &error);
        ASSERT_NE(zip, nullptr);
        // A stored (uncompressed) 100 MB part, the way large media sit in a package.
        std::string big(100u << 20, '\x5a');
        zip_source_t* source = zip_source_buffer(zip, big.data(), big.size(), 0);
        const zip_int64_t index = zip_file_add(zip, "xl/media/big.bin", source, 0);
        ASSERT_GE(index, 0);
        zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        ASSERT_EQ(zip_close(zip), 0);
    }
    ASSERT_GT(fs::file_size(path), 100u << 20);
    auto doc = WorkbookDocument::Open(path);
    ASSERT_EQ(doc->sheets().size(), 3u);
    EXPECT_LT(doc->package().bytesRead(), 1u << 20);
}

}  // namespace
}  // namespace orv::engine::test
