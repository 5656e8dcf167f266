// Damaged and hostile compound files, made by corrupting a written one: each is refused with a message that
// says what is damaged, and none crashes, loops or allocates what the file cannot hold.
#include <gtest/gtest.h>

#include <functional>

#include "CompoundTestSupport.h"
#include "compound/CompoundFile.h"

namespace orv::compound::test {
namespace {

constexpr const char* kPrefix = "the compound file is damaged: ";

// Small streams in the mini stream, a large one over ~300 sectors (so the header may claim more allocation
// table sectors than its 109 slots), storages two deep, and unused directory slots.
Entry Base() {
    return Storage(
        "",
        {Stream("small", Pattern(100, 1)), Stream("small2", Pattern(200, 2)),
         Stream("big", Pattern(150000, 3)),
         Storage("VBA", {Stream("dir", Pattern(300, 4)), Storage("Forms", {Stream("f", Pattern(70, 5))})}),
         Stream("x", {})});
}

// The message ReadTree throws, or "" when it reads the file.
std::string Refusal(const std::vector<std::uint8_t>& bytes) {
    try {
        (void)ReadTree(bytes);
        return "";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

struct Damage {
    const char* what;
    std::function<void(FileView&, std::vector<std::uint8_t>&)> apply;
    const char* message;  // part of the message; empty: the file is still read
    bool rootStream;      // the stream-by-stream reader meets the damage too
};

std::uint32_t Second(const FileView& v, const char* name) { return v.Fat(v.Field32(v.IdOf(name), kStart)); }

const Damage kDamages[] = {
    // The header.
    {"a truncated header", [](FileView&, auto& b) { b.resize(300); }, "its header is missing or incomplete",
     true},
    {"no signature", [](FileView&, auto& b) { b[0] = 0; }, "its header is missing or incomplete", true},
    {"a sector size of 1024", [](FileView&, auto& b) { b[kSectorShift] = 10; },
     "its sector sizes are invalid", true},
    {"only the header", [](FileView&, auto& b) { b.resize(512); },
     "its allocation table is larger than the file", true},
    {"a million allocation table sectors", [](FileView& v, auto&) { v.SetHeader32(kFatCount, 1000000); },
     "its allocation table is larger than the file", true},
    {"an allocation table sector beyond the file",
     [](FileView& v, auto&) { v.SetHeader32(kHeaderDifat, 0x00100000); },
     "an allocation table sector (0x00100000) lies outside the file", true},
    {"an allocation table sector listed twice",
     [](FileView& v, auto&) { v.SetHeader32(kHeaderDifat + 4, v.Header32(kHeaderDifat)); },
     "the sector chain of the allocation table loops", true},
    // The DIFAT chain that lists allocation table sectors past the header's 109.
    {"a DIFAT chain that ends early", [](FileView& v, auto&) { v.SetHeader32(kFatCount, 110); },
     "its list of allocation table sectors ends early", true},
    {"a DIFAT sector beyond the file",
     [](FileView& v, auto&) {
         v.SetHeader32(kFatCount, 110);
         v.SetHeader32(kFirstDifat, 0x00FFFFFF);
     },
     "its list of allocation table sectors goes on beyond the end of the file", true},
    {"a DIFAT chain that loops",
     [](FileView& v, auto& b) {
         // Two DIFAT sectors are needed; the first names itself as the next.
         const std::uint32_t sector = v.Field32(v.IdOf("big"), kStart) + 10;
         v.SetHeader32(kFatCount, 240);
         v.SetHeader32(kFirstDifat, sector);
         const std::size_t last = (std::size_t{sector} + 2) * 512 - 4;
         for (int i = 0; i < 4; ++i) b[last + i] = static_cast<std::uint8_t>(sector >> (8 * i));
     },
     "the sector chain of the list of allocation table sectors loops", true},
    // The directory.
    {"a directory beyond the file", [](FileView& v, auto&) { v.SetHeader32(kFirstDirectory, 0x00FFFFFF); },
     "the sector chain of the directory goes on beyond the end of the file", true},
    {"a directory chain that loops",
     [](FileView& v, auto&) {
         const std::uint32_t first = v.Header32(kFirstDirectory);
         v.SetFat(v.Fat(first), first);
     },
     "the sector chain of the directory loops", true},
    {"a broken directory chain", [](FileView& v, auto&) { v.SetFat(v.Header32(kFirstDirectory), kFree); },
     "the sector chain of the directory is broken (it links to 0xFFFFFFFF)", true},
    {"no root entry", [](FileView& v, auto&) { v.SetByte(0, kType, 1); }, "its root entry is missing", true},
    {"a sibling link beyond the directory",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("big"), kLeft, 5000); },
     "links to entry 5000, beyond the 12 entries of the directory", true},
    {"a child link back to an ancestor",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("Forms"), kChild, v.IdOf("VBA")); },
     "the directory's links loop: the storage \"VBA\" is reached twice", false},
    {"an entry in two storages", [](FileView& v, auto&) { v.SetField32(v.IdOf("f"), kLeft, v.IdOf("dir")); },
     "the directory's links loop: the stream \"dir\" is reached twice", false},
    {"a sibling link to itself",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("small"), kRight, v.IdOf("small")); },
     "the stream \"small\" is reached twice", true},
    {"a link to an unused entry", [](FileView& v, auto&) { v.SetField32(v.IdOf("f"), kRight, 11); },
     "links to the unused directory entry 11", false},
    {"an entry of an unknown type", [](FileView& v, auto&) { v.SetByte(v.IdOf("big"), kType, 3); },
     "has the invalid type 3", true},
    // Large streams.
    {"a large stream whose chain loops",
     [](FileView& v, auto&) { v.SetFat(Second(v, "big"), v.Field32(v.IdOf("big"), kStart)); },
     "the sector chain of the stream \"big\" loops", true},
    {"a large stream whose chain is short", [](FileView& v, auto&) { v.SetFat(Second(v, "big"), kEnd); },
     "the sector chain of the stream \"big\" is shorter than its size", true},
    {"a large stream running into the directory",
     [](FileView& v, auto&) { v.SetFat(Second(v, "big"), v.Header32(kFirstDirectory)); },
     "the sector chain of the stream \"big\" runs into the sectors of the directory", true},
    {"a large stream running into the mini stream",
     [](FileView& v, auto&) { v.SetFat(Second(v, "big"), v.Field32(0, kStart)); },
     "the sector chain of the stream \"big\" runs into the sectors of the mini stream", true},
    {"a large stream leaving the file", [](FileView& v, auto&) { v.SetFat(Second(v, "big"), 0x00FFFFFF); },
     "the sector chain of the stream \"big\" goes on beyond the end of the file", true},
    {"a size larger than the file",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("big"), kSize, 0x7FFFFFFF); },
     "the stream \"big\" is recorded as 2147483647 bytes, more than the whole file holds", true},
    {"garbage in the high half of a version 3 size",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("big"), kSizeHigh, 0xDEADBEEF); }, "", true},
    {"a file cut in half", [](FileView&, auto& b) { b.resize(b.size() / 2); },
     "the stream \"big\" is recorded as 150000 bytes, more than the whole file holds", true},
    {"the last five sectors cut off", [](FileView&, auto& b) { b.resize(b.size() - 5 * 512); },
     "the sector chain of the stream \"big\" goes on beyond the end of the file (the file is truncated)",
     true},
    {"a last sector cut short", [](FileView&, auto& b) { b.resize(b.size() - 100); },
     "the stream \"big\" runs past the end of the file (the file is truncated)", true},
    // Small streams and the mini stream.
    {"a mini stream larger than the file", [](FileView& v, auto&) { v.SetField32(0, kSize, 0x7FFFFFC0); },
     "the mini stream is recorded as 2147483584 bytes, more than the whole file holds", true},
    {"a mini allocation table beyond the file",
     [](FileView& v, auto&) { v.SetHeader32(kFirstMiniFat, 0x00FFFFFF); },
     "the sector chain of the mini allocation table goes on beyond the end of the file", true},
    {"a small stream whose chain loops",
     [](FileView& v, auto&) {
         const std::uint32_t start = v.Field32(v.IdOf("small"), kStart);
         v.SetMiniFat(start, start);
     },
     "the sector chain of the stream \"small\" loops", true},
    {"a small stream leaving the mini stream",
     [](FileView& v, auto&) { v.SetMiniFat(v.Field32(v.IdOf("small"), kStart), 5000); },
     "the sector chain of the stream \"small\" goes on beyond the end of the mini stream", true},
    {"two small streams sharing mini sectors",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("small2"), kStart, v.Field32(v.IdOf("small"), kStart)); },
     "runs into the sectors of the stream \"small", false},
    {"a small stream larger than the mini stream",
     [](FileView& v, auto&) { v.SetField32(v.IdOf("small"), kSize, 4000); },
     "the stream \"small\" is recorded as 4000 bytes, more than the mini stream holds", true},
};

TEST(CompoundDamagedFile, EachDamageIsRefusedSayingWhat) {
    const Entry base = Base();
    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.what);
        auto bytes = Write(base);
        {
            FileView view(bytes);
            damage.apply(view, bytes);
        }
        const std::string refusal = Refusal(bytes);
        if (*damage.message == '\0') {
            EXPECT_EQ(refusal, "");
            continue;
        }
        EXPECT_EQ(refusal.rfind(kPrefix, 0), 0u) << refusal;
        EXPECT_NE(refusal.find(damage.message), std::string::npos) << refusal;
        if (!damage.rootStream) continue;
        // The stream-by-stream reader refuses the same damage when it reads the root's streams.
        try {
            const CompoundFile file(bytes);
            for (const auto& name : file.rootStreamNames()) (void)file.ReadRootStream(name);
            ADD_FAILURE() << "the root streams were read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(damage.message), std::string::npos) << e.what();
        }
    }
}

TEST(CompoundDamagedFile, SizesBeyondTheFileAreRefusedBeforeAnythingIsAllocated) {
    // Version 4 keeps 64-bit sizes: a stream recorded as 4 GiB more than it holds.
    auto bytes = Write(Base(), Version::V4);
    FileView view(bytes);
    view.SetField32(view.IdOf("big"), kSizeHigh, 1);
    EXPECT_NE(Refusal(bytes).find("the stream \"big\" is recorded as 4295117296 bytes"), std::string::npos)
        << Refusal(bytes);
    view.SetField32(view.IdOf("big"), kSizeHigh, 0xFFFFFFFF);
    EXPECT_NE(Refusal(bytes).find("more than the whole file holds"), std::string::npos);
}

TEST(CompoundDamagedFile, StoragesNestedBeyondAnyRealFileAreRefused) {
    // 200 storages side by side, relinked so that each is the only entry of the one before.
    Entry root = Storage("", {});
    for (int i = 0; i < 200; ++i) root.children.push_back(Storage("d" + std::to_string(1000 + i), {}));
    auto bytes = Write(root);
    FileView view(bytes);
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 200; ++i) ids.push_back(view.IdOf("d" + std::to_string(1000 + i)));
    view.SetField32(0, kChild, ids[0]);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        view.SetField32(ids[i], kLeft, kNone);
        view.SetField32(ids[i], kRight, kNone);
        view.SetField32(ids[i], kChild, i + 1 < ids.size() ? ids[i + 1] : kNone);
    }
    EXPECT_EQ(Refusal(bytes), std::string(kPrefix) + "its storages are nested more than 128 deep");
}

TEST(CompoundDamagedFile, ALopsidedSiblingTreeIsReadWithoutRecursion) {
    // Thousands of entries linked as one long chain of right siblings: not balanced, but not damaged.
    Entry root = Storage("", {});
    for (int i = 0; i < 3000; ++i) root.children.push_back(Stream("n" + std::to_string(10000 + i), {}));
    auto bytes = Write(root);
    FileView view(bytes);
    std::vector<std::uint32_t> ids(3000);
    for (std::uint32_t id = 1; id < view.entryCount(); ++id) {
        if (view.Byte(id, kType) != 0) ids.at(std::stoul(view.NameOf(id).substr(1)) - 10000) = id;
    }
    view.SetField32(0, kChild, ids.front());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        view.SetField32(ids[i], kLeft, kNone);
        view.SetField32(ids[i], kRight, i + 1 < ids.size() ? ids[i + 1] : kNone);
    }
    const Entry back = ReadTree(bytes);
    ASSERT_EQ(back.children.size(), 3000u);
    EXPECT_EQ(back.children[0].name, "n10000");
    EXPECT_EQ(back.children[2999].name, "n12999");
}

TEST(CompoundDamagedFile, EveryByteChangedIsReadOrRefusedWithAMessage) {
    // A small file with every structure in it; each byte replaced in turn by two other values.
    const Entry tree =
        Storage("", {Stream("a", Pattern(100, 1)), Stream("b", Pattern(5000, 2)),
                     Storage("S", {Stream("c", Pattern(70, 3)), Storage("T", {Stream("d", {})})})});
    const auto original = Write(tree);
    for (std::size_t i = 0; i < original.size(); ++i) {
        for (const std::uint8_t change : {std::uint8_t{0xFF}, std::uint8_t{0x01}}) {
            auto bytes = original;
            bytes[i] ^= change;
            const std::string refusal = Refusal(bytes);
            if (!refusal.empty()) {
                EXPECT_EQ(refusal.rfind(kPrefix, 0), 0u) << "byte " << i << ": " << refusal;
            } else {
                EXPECT_GE(i, 8u) << "a file without the signature was read";
            }
        }
    }
}

}  // namespace
}  // namespace orv::compound::test
