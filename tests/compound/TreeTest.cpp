// Trees written and read back in both versions, the format's order of names and its red-black sibling trees
// checked in the written bytes, what the writer refuses, and the stream-by-stream reader on the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "CompoundTestSupport.h"
#include "compound/CompoundFile.h"

namespace orv::compound::test {
namespace {

const Version kVersions[] = {Version::V3, Version::V4};

std::string VersionName(Version version) { return version == Version::V3 ? "version 3" : "version 4"; }

TEST(CompoundRoundTrip, NestedTreeComesBackInBothVersions) {
    const Entry tree = SampleTree(0);
    for (Version version : kVersions) {
        SCOPED_TRACE(VersionName(version));
        const auto bytes = Write(tree, version);
        const Entry back = ReadTree(bytes);
        EXPECT_EQ(FirstDifference(tree, back), "");
        EXPECT_EQ(back.name, "Root Entry");
        EXPECT_TRUE(back.storage);

        // The same tree in another order of entries gives the same bytes.
        Entry shuffled = tree;
        std::reverse(shuffled.children.begin(), shuffled.children.end());
        std::rotate(shuffled.Child("VBA")->children.begin(), shuffled.Child("VBA")->children.begin() + 2,
                    shuffled.Child("VBA")->children.end());
        EXPECT_TRUE(Write(shuffled, version) == bytes);
    }
}

TEST(CompoundRoundTrip, StreamSizesAroundEveryBoundary) {
    // Mini sector (64), mini stream cut-off (4096), sectors of both versions, several allocation table
    // sectors.
    const std::size_t sizes[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8192, 3 * 128 * 512 + 1};
    for (Version version : kVersions) {
        for (std::size_t size : sizes) {
            SCOPED_TRACE(VersionName(version) + ", " + std::to_string(size) + " bytes");
            // Alone in its storage, and beside a small and a large neighbour that share the tables with it.
            const Entry alone = Storage("", {Storage("S", {Stream("x", Pattern(size, 1))})});
            EXPECT_EQ(FirstDifference(alone, ReadTree(Write(alone, version))), "");
            const Entry crowded = Storage("", {Stream("a", Pattern(100, 2)), Stream("x", Pattern(size, 3)),
                                               Stream("z", Pattern(5000, 4))});
            EXPECT_EQ(FirstDifference(crowded, ReadTree(Write(crowded, version))), "");
        }
    }
}

TEST(CompoundRoundTrip, LargeFilesSpreadTheirAllocationTableOverManySectors) {
    struct Case {
        std::size_t bigSize;
        std::uint32_t minFatSectors;
        std::uint32_t minDifatSectors;
    };
    // 17 MB needs more allocation table sectors than the header's 109 slots and one DIFAT sector can list.
    const Case cases[] = {{0, 4, 0}, {17u << 20, 250, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bigSize) + " bytes");
        const Entry tree = SampleTree(c.bigSize);
        auto bytes = Write(tree);
        const FileView view(bytes);
        EXPECT_GE(view.Header32(kFatCount), c.minFatSectors);
        EXPECT_GE(view.Header32(kDifatCount), c.minDifatSectors);
        EXPECT_EQ(view.Header32(kFirstDifat) == kEnd, c.minDifatSectors == 0);
        EXPECT_EQ(FirstDifference(tree, ReadTree(bytes)), "");
        if (c.bigSize) {
            EXPECT_TRUE(CompoundFile(bytes).ReadRootStream("big") == tree.Child("Big")->data);
        }
    }
}

TEST(CompoundNames, OrderAndLookupAsTheFormatCompares) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"dir", "DIR", 0},
        {"VBA", "vba", 0},
        {"é", "É", 0},
        {"Ärger", "äRGER", 0},
        {"b", "C", -1},   // upper-cased first: 'B' < 'C' though 'b' > 'C'
        {"ä", "Ö", -1},   // 'Ä' < 'Ö' though 'ä' > 'Ö'
        {"Z", "ab", -1},  // fewer units first
        {"PROJECT", "Module1", 1},
        {"😀", "xyz", -1},  // two UTF-16 units against three
        {"😀", "ab", 1},    // a surrogate unit sorts after letters
        {"_VBA_PROJECT", "PROJECTwm", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " against " + c.b);
        EXPECT_EQ(CompareNames(c.a, c.b), c.order);
        EXPECT_EQ(CompareNames(c.b, c.a), -c.order);
    }

    Entry tree = SampleTree(0);
    ASSERT_NE(tree.Child("vba"), nullptr);
    EXPECT_EQ(tree.Child("vba")->name, "VBA");
    EXPECT_EQ(tree.Child("VB"), nullptr);
    EXPECT_EQ(tree.Child("ünÏcødé名前")->data.size(), 100u);
    EXPECT_EQ(tree.Child("VBA")->Child("Module1"), tree.Child("VBA")->Child("MODULE1"));
    EXPECT_EQ(tree.Child("Module1"), nullptr) << "Child looks only directly under the storage";
    EXPECT_TRUE(tree.Child("VBA")->Remove("module1"));
    EXPECT_FALSE(tree.Child("VBA")->Remove("Module1"));
    EXPECT_EQ(tree.Child("VBA")->children.size(), 5u);
}

// The ids of a storage's sibling tree in order, checked as a red-black tree: black root, no red node with a
// red child, the same number of black nodes on every path.
std::vector<std::uint32_t> CheckedSiblings(const FileView& view, std::uint32_t storage) {
    std::vector<std::uint32_t> inOrder;
    std::set<int> blackHeights;
    const std::function<void(std::uint32_t, bool, int)> walk = [&](std::uint32_t id, bool parentRed,
                                                                   int blacks) {
        if (id == kNone) {
            blackHeights.insert(blacks);
            return;
        }
        const bool red = view.Byte(id, kColor) == 0;
        EXPECT_FALSE(red && parentRed) << "red entry " << id << " under a red one";
        walk(view.Field32(id, kLeft), red, blacks + (red ? 0 : 1));
        inOrder.push_back(id);
        walk(view.Field32(id, kRight), red, blacks + (red ? 0 : 1));
    };
    const std::uint32_t top = view.Field32(storage, kChild);
    if (top != kNone) {
        EXPECT_EQ(view.Byte(top, kColor), 1) << "the root of a sibling tree is black";
    }
    walk(top, false, 0);
    EXPECT_LE(blackHeights.size(), 1u) << "paths with different numbers of black entries";
    return inOrder;
}

TEST(CompoundWrite, SiblingsInTheFormatsOrder) {
    const std::vector<std::string> given = {"PROJECTwm", "_VBA_PROJECT", "b",       "C",   "Ö",
                                            "ä",         "Module1",      "PROJECT", "dir", "aB",
                                            "Zeta",      "alpha",        "😀",       "xyz"};
    const std::vector<std::u16string> expected = {
        u"b",   u"C",    u"ä",     u"Ö",       u"aB",      u"😀",         u"dir",
        u"xyz", u"Zeta", u"alpha", u"Module1", u"PROJECT", u"PROJECTwm", u"_VBA_PROJECT"};
    Entry root = Storage("", {});
    for (const auto& name : given) root.children.push_back(Stream(name, Pattern(name.size(), 1)));
    auto bytes = Write(root);
    const FileView view(bytes);
    std::vector<std::u16string> written;
    for (std::uint32_t id : CheckedSiblings(view, 0)) written.push_back(view.UnitsOf(id));
    EXPECT_TRUE(written == expected);
    // The reader gives the entries in the order of the file.
    const Entry back = ReadTree(bytes);
    ASSERT_EQ(back.children.size(), given.size());
    EXPECT_EQ(back.children[2].name, "ä");
    EXPECT_EQ(back.children.back().name, "_VBA_PROJECT");
}

TEST(CompoundWrite, SiblingTreesAreRedBlackForEveryCount) {
    for (std::size_t count = 1; count <= 70; ++count) {
        SCOPED_TRACE(std::to_string(count) + " entries");
        Entry root = Storage("", {});
        // Written in reverse so the writer has to sort.
        for (std::size_t i = count; i-- > 0;) {
            const std::string name = "s" + std::to_string(1000 + i);
            root.children.push_back(i % 3 ? Stream(name, {}) : Storage(name, {}));
        }
        auto bytes = Write(root);
        const FileView view(bytes);
        const auto ids = CheckedSiblings(view, 0);
        ASSERT_EQ(ids.size(), count);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(view.NameOf(ids[i]), "s" + std::to_string(1000 + i));
    }
}

Entry Nested(std::size_t depth) {
    Entry root = Storage("", {});
    Entry* at = &root;
    for (std::size_t i = 0; i < depth; ++i) {
        at->children.push_back(Storage("d", {}));
        at = &at->children.back();
    }
    at->children.push_back(Stream("leaf", Pattern(3, 1)));
    return root;
}

TEST(CompoundWrite, RefusesWhatTheFormatCannotHold) {
    struct Case {
        const char* what;
        std::function<void(Entry&)> change;
        const char* message;  // empty: written and read back
    };
    const std::string longest(31, 'n');
    const Case cases[] = {
        {"an empty name", [](Entry& t) { t.children.push_back(Stream("", {})); }, "an entry has no name"},
        {"31 units", [&](Entry& t) { t.children.push_back(Stream(longest, {})); }, ""},
        {"32 units", [&](Entry& t) { t.children.push_back(Stream(longest + "n", {})); },
         "is longer than 31 UTF-16 units"},
        {"31 units with a surrogate pair",
         [&](Entry& t) { t.children.push_back(Stream(longest.substr(2) + "😀", {})); }, ""},
        {"32 units with a surrogate pair",
         [&](Entry& t) { t.children.push_back(Stream(longest.substr(1) + "😀", {})); },
         "is longer than 31 UTF-16 units"},
        {"a slash", [](Entry& t) { t.children.push_back(Stream("a/b", {})); },
         "holds one of / \\ : ! or NUL"},
        {"an exclamation mark", [](Entry& t) { t.Child("VBA")->children.push_back(Stream("x!", {})); },
         "holds one of"},
        {"a NUL", [](Entry& t) { t.children.push_back(Stream(std::string("a\0b", 3), {})); }, "holds one of"},
        {"no UTF-8", [](Entry& t) { t.children.push_back(Stream("\xFF", {})); }, "is not UTF-8"},
        {"an overlong form", [](Entry& t) { t.children.push_back(Stream("\xC0\xAF", {})); }, "is not UTF-8"},
        {"names the same but for case",
         [](Entry& t) { t.Child("VBA")->children.push_back(Stream("DIR", {})); },
         "\"dir\" and \"DIR\" are the same name to the format"},
        {"a stream with entries", [](Entry& t) { t.Child("PROJECT")->children.push_back(Stream("x", {})); },
         "the stream \"PROJECT\" has entries under it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Entry tree = SampleTree(0);
        c.change(tree);
        if (*c.message == '\0') {
            EXPECT_EQ(FirstDifference(tree, ReadTree(Write(tree))), "");
            continue;
        }
        try {
            (void)Write(tree);
            ADD_FAILURE() << "written";
        } catch (const std::invalid_argument& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("cannot write the compound file: ", 0), 0u) << text;
            EXPECT_NE(text.find(c.message), std::string::npos) << text;
        }
    }

    // Storages nest as deep as the reader takes, and no deeper.
    EXPECT_EQ(FirstDifference(Nested(128), ReadTree(Write(Nested(128)))), "");
    EXPECT_THROW((void)Write(Nested(129)), std::invalid_argument);
}

TEST(CompoundWrite, RootIsTheRootStorageWhateverItsNameAndKind) {
    Entry root = Stream("anything", Pattern(10, 1));
    root.children.push_back(Stream("PROJECT", Pattern(20, 2)));
    const Entry back = ReadTree(Write(root));
    EXPECT_EQ(back.name, "Root Entry");
    EXPECT_TRUE(back.storage);
    ASSERT_EQ(back.children.size(), 1u);
    EXPECT_EQ(back.children[0].data, Pattern(20, 2));
}

TEST(CompoundFileStreams, ReadsAndPatchesTheRootStreamsOfAWrittenFile) {
    const Entry tree = SampleTree(0);
    const auto bytes = Write(tree);
    const CompoundFile file(bytes);
    const auto names = file.rootStreamNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"PROJECT", "PROJECTwm", "Ünïcødé名前", "😀"}));
    EXPECT_TRUE(file.ReadRootStream("project") == tree.Child("PROJECT")->data);
    EXPECT_FALSE(file.ReadRootStream("VBA").has_value()) << "a storage is no stream";
    EXPECT_FALSE(file.ReadRootStream("dir").has_value()) << "only root streams";

    // A small stream patched in the mini stream; nothing else moves.
    const auto patched = file.WithRootStream("PROJECT", Pattern(300, 99));
    EXPECT_EQ(patched.size(), bytes.size());
    Entry expected = tree;
    expected.Child("PROJECT")->data = Pattern(300, 99);
    EXPECT_EQ(FirstDifference(expected, ReadTree(patched)), "");
    EXPECT_THROW((void)file.WithRootStream("PROJECT", Pattern(301, 1)), std::runtime_error);
    EXPECT_THROW((void)file.WithRootStream("VBA", {}), std::runtime_error);
}

std::vector<std::uint8_t> Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(CompoundRealFiles, WorkbooksOfSpreadsheetApplicationsReadAndRewritten) {
    const std::filesystem::path files[] = {
        std::filesystem::path(ORVANDEL_SAMPLES_DIR) / "sample1.xls",
        std::filesystem::path(ORVANDEL_SAMPLES_DIR) / "sample2.xls",
        std::filesystem::path(ORVANDEL_TEST_LO_FIXTURES) / "encrypted-rc4.xls",
        std::filesystem::path(ORVANDEL_TEST_LO_FIXTURES) / "sheet-types-macrosheet.xls",
    };
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const auto bytes = Contents(path);
        ASSERT_TRUE(CompoundFile::HasSignature(bytes));
        const Entry tree = ReadTree(bytes);
        ASSERT_FALSE(tree.children.empty());
        const CompoundFile file(bytes);
        std::size_t streams = 0;
        for (const Entry& child : tree.children) {
            if (child.storage) continue;
            ++streams;
            EXPECT_TRUE(file.ReadRootStream(child.name) == child.data) << child.name;
        }
        EXPECT_EQ(file.rootStreamNames().size(), streams);
        EXPECT_EQ(FirstDifference(tree, ReadTree(Write(tree))), "");
    }
}

}  // namespace
}  // namespace orv::compound::test
