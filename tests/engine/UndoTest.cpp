// The undo history through orvandel-sheets: every operation taken back and redone byte for byte, refusals when
// a file changed since, the store's limits, and records that are damaged or point out of the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "automation/ObjectModel.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#include "platform/AtomicFile.h"
#include "undo/UndoStore.h"

namespace orv::engine::test {
namespace {

namespace fs = std::filesystem;

struct Result {
    int code;
    std::string out;
    std::string err;
};

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Undo : public ::testing::Test {
  protected:
    Result Tool(const std::vector<std::string>& args) {
        auto registry = std::make_shared<automation::BackendRegistry>();
        registry->Add(ooxml::MakeOoxmlBackend());
        std::ostringstream out, err;
        const int code = cli::RunSheetsTool(args, out, err, registry, store());
        return {code, out.str(), err.str()};
    }
    std::string store() const { return (dir.path() / "store").string(); }
    std::string Book(const std::string& name) {
        const auto path = dir.File(name);
        fs::copy_file(Fixture("3d-references.xlsx"), path, fs::copy_options::overwrite_existing);
        return path;
    }
    std::map<std::string, std::string> Snapshot(const std::vector<std::string>& paths) {
        std::map<std::string, std::string> bytes;
        for (const auto& path : paths) bytes[path] = Bytes(path);
        return bytes;
    }

    TempDir dir;
};

TEST_F(Undo, EveryOperationIsTakenBackAndRedoneByteForByte) {
    struct Case {
        const char* name;
        std::vector<std::string> args;  // "A" and "B" stand for the two workbooks
    };
    const std::vector<Case> cases = {
        {"rename", {"rename", "A", "Sheet1", "Renamed"}},
        {"reorder", {"reorder", "A", "Sheet1", "after", "#3"}},
        {"delete", {"delete", "A", "Sheet2"}},
        {"copy", {"copy", "A", "Sheet1", "B", "after", "#1"}},
        {"move", {"move", "A", "Sheet1", "B", "after", "#2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = Book(std::string(c.name) + "-a.xlsx");
        const std::string b = Book(std::string(c.name) + "-b.xlsx");
        std::vector<std::string> args = c.args;
        for (auto& arg : args) arg = arg == "A" ? a : arg == "B" ? b : arg;
        const auto before = Snapshot({a, b});
        ASSERT_EQ(Tool(args).code, 0);
        const auto after = Snapshot({a, b});
        EXPECT_NE(after, before);
        const auto history = Tool({"history"});
        EXPECT_NE(history.out.find(std::string("\tdone\t") + c.name + " of "), std::string::npos) << history.out;

        const auto undone = Tool({"undo"});
        EXPECT_EQ(undone.code, 0) << undone.err;
        EXPECT_EQ(undone.out.rfind("Undone: " + std::string(c.name) + " of ", 0), 0u) << undone.out;
        EXPECT_EQ(Snapshot({a, b}), before);
        EXPECT_EQ(Tool({"undo"}).code, 1) << "nothing left to undo";

        EXPECT_EQ(Tool({"redo"}).code, 0);
        EXPECT_EQ(Snapshot({a, b}), after);
        EXPECT_EQ(Tool({"redo"}).code, 1) << "a redo is done once";
        // Taken back again, so that the next case starts from an empty list to undo.
        EXPECT_EQ(Tool({"undo"}).code, 0);
        EXPECT_EQ(Snapshot({a, b}), before);
    }
}

TEST_F(Undo, IsRefusedWithNothingChangedWhenAFileChangedSince) {
    const std::string a = Book("a.xlsx");
    const std::string b = Book("b.xlsx");
    ASSERT_EQ(Tool({"move", a, "Sheet1", b, "after", "#1"}).code, 0);
    // Another program saves the target meanwhile.
    ASSERT_EQ(Tool({"rename", b, "Sheet2", "Theirs"}).code, 0);
    const auto now = Snapshot({a, b});
    // The rename is the newest operation: taken back first, it leaves the move undoable again.
    ASSERT_EQ(Tool({"undo"}).code, 0);
    {
        std::ofstream append(b, std::ios::app | std::ios::binary);
        append << "x";
    }
    const auto changed = Snapshot({a, b});
    const auto refused = Tool({"undo"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("\"" + fs::path(b).string() + "\" was changed since"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("Nothing was changed."), std::string::npos);
    EXPECT_EQ(Snapshot({a, b}), changed);
    (void)now;
}

TEST_F(Undo, TheStoreKeepsItsLimitsAndSkipsRecordsItCannotTrust) {
    const std::string a = Book("a.xlsx");
    for (int i = 0; i < 25; ++i) ASSERT_EQ(Tool({"rename", a, "#1", "Name " + std::to_string(i)}).code, 0);
    undo::Store store(this->store());
    EXPECT_EQ(store.History().size(), 20u);
    std::size_t versions = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(this->store()) / "versions")) ++versions;
    EXPECT_EQ(versions, 20u);
    // Damaged, foreign and escaping records are not trusted.
    const fs::path records = fs::path(this->store()) / "records";
    std::ofstream(records / "00000000000000000001-1.txt") << "not a record";
    std::ofstream(records / "99999999999999999999-1.txt")
        << "orvandel-undo-record 1\nwhat rename of \"x\"\nwhen 1\nundone 0\nfile " << a
        << "\nbefore ../../../etc/passwd\nafter -\nleft 1 1 1\nrestored 0 0 0\n";
    EXPECT_EQ(store.History().size(), 20u);
    EXPECT_EQ(store.History().front().what, "rename of \"#1\" to \"Name 24\" in a.xlsx");
}

// The byte limit: the oldest records go first until the kept versions fit (the newest always stays).
TEST_F(Undo, TheOldestRecordsGoFirstWhenTheKeptFilesOutgrowTheByteLimit) {
    const std::string path = dir.File("big.bin");
    const std::string store = (dir.path() / "bytes").string();
    undo::Limits limits;
    limits.bytes = 350 * 1024;
    for (int i = 0; i < 10; ++i) {
        undo::Journal journal(store, "save " + std::to_string(i), limits);
        const std::string content(100 * 1024, static_cast<char>('a' + i));
        if (!fs::exists(path)) std::ofstream(path) << "first";
        journal.BeforeSave(path, true);
        platform::ReplaceFileAtomically(
            path, [&](int fd) { return platform::WriteAll(fd, content.data(), content.size()); }, "big.bin");
        journal.AfterSave(path, true);
        journal.Commit();
    }
    const auto history = undo::Store(store, limits).History();
    // Each record keeps the 100 KB the save replaced: three fit in 350 KB, a fourth would not.
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history.front().what, "save 9");
    EXPECT_EQ(history.back().what, "save 7");
    std::uint64_t kept = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(store) / "versions")) kept += fs::file_size(entry.path());
    EXPECT_LE(kept, limits.bytes);
}

// Saves the history hears of at the object model, however the backend writes: a backend that renames a new
// file into place (a second name keeps the old bytes) and one that writes into the file itself (only a copy
// keeps them); a failed save is recorded only when it replaced, or made, the file all the same. A file the
// save made is taken away by the undo and made again by the redo.
TEST_F(Undo, KeepsTheReplacedVersionHoweverTheBackendWritesTheFile) {
    struct Case {
        const char* name;
        bool replacedWhole;  // what the backend says of its saves
        bool writesInPlace;  // what it really does
        bool fails;
        bool recorded;
        bool existed = true;  // false: the save makes the file
    };
    const std::vector<Case> cases = {
        {"renamed into place", true, false, false, true},
        {"written into the file", false, true, false, true},
        {"failed after writing into the file", false, true, true, true},
        {"failed before writing anything", false, false, true, false},
        {"made by renaming into place", true, false, false, true, false},
        {"made by writing into it", false, true, false, true, false},
        {"failed after making the file", false, true, true, true, false},
        {"failed before making the file", true, false, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(std::string(c.name) + ".xls");
        const std::string folder = (dir.path() / ("store " + std::string(c.name))).string();
        if (c.existed) std::ofstream(path, std::ios::binary) << "the old workbook";
        undo::Journal journal(folder, std::string("save of ") + c.name);
        {
            const automation::ScopedSaveObserver observing(&journal);
            automation::CurrentSaveObserver()->BeforeSave(path, c.replacedWhole);
            if (c.writesInPlace) {
                std::ofstream(path, std::ios::binary | (c.existed ? std::ios::in : std::ios::trunc)) << "THE NEW";
            } else if (!c.fails) {
                platform::ReplaceFileAtomically(
                    path, [](int fd) { return platform::WriteAll(fd, "new", 3); }, "x");
            }
            automation::CurrentSaveObserver()->AfterSave(path, !c.fails);
        }
        journal.Commit();
        const auto history = undo::Store(folder).History();
        ASSERT_EQ(history.size(), c.recorded ? 1u : 0u);
        if (!c.recorded) continue;
        const std::string saved = Bytes(path);
        const auto savedTime = fs::last_write_time(path);
        EXPECT_EQ(undo::Store(folder).Undo(), std::string("save of ") + c.name);
        EXPECT_EQ(fs::exists(path), c.existed);
        if (c.existed) {
            EXPECT_EQ(Bytes(path), "the old workbook");
        }
        EXPECT_EQ(undo::Store(folder).Redo(), std::string("save of ") + c.name);
        EXPECT_EQ(Bytes(path), saved);
        EXPECT_EQ(fs::last_write_time(path), savedTime);
    }
}

// An operation that replaces one workbook and makes another is taken back, and done again, for both or for
// neither: a refusal, or a failure part way, leaves both files and the record as they were.
TEST_F(Undo, AWorkbookTheOperationMadeGoesAndComesBackWithTheOneItReplaced) {
    using Meddle = void (*)(const std::string& replaced, const std::string& made);
    struct Case {
        const char* name;
        bool redoing;       // the step tried: the redo after an undo, else the undo
        Meddle meddle;      // what happens to the files before the step
        const char* words;  // what the refused or failed step says; "" when it goes through
    };
    const Meddle nothing = [](const std::string&, const std::string&) {};
    const std::vector<Case> cases = {
        {"undone and redone together", false, nothing, ""},
        {"the made workbook changed since", false,
         [](const std::string&, const std::string& made) { std::ofstream(made, std::ios::app) << "x"; },
         "made.xlsx\" was changed since, by another program or another operation. Nothing was changed."},
        {"the made workbook is gone", false, [](const std::string&, const std::string& made) { fs::remove(made); },
         "made.xlsx\" cannot be read. Nothing was changed."},
        // The made workbook is taken away first; the replaced one then cannot be put back.
        {"the replaced workbook cannot be put back", false,
         [](const std::string& replaced, const std::string&) {
             fs::permissions(replaced, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         "replaced.xlsx\" could not be saved: the file is read-only"},
        {"a workbook is at the made path again", true,
         [](const std::string&, const std::string& made) { std::ofstream(made) << "theirs"; },
         "made.xlsx\" was made again since it was taken back, by another program or another operation. Nothing "
         "was changed."},
        {"the replaced workbook cannot be redone", true,
         [](const std::string& replaced, const std::string&) {
             fs::permissions(replaced, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         "replaced.xlsx\" could not be saved: the file is read-only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directory(dir.path() / c.name);
        const std::string replaced = (dir.path() / c.name / "replaced.xlsx").string();
        const std::string made = (dir.path() / c.name / "made.xlsx").string();
        const std::string folder = (dir.path() / c.name / "store").string();
        std::ofstream(replaced, std::ios::binary) << "the old workbook";
        auto save = [](const std::string& path, const std::string& bytes) {
            platform::ReplaceFileAtomically(
                path, [&](int fd) { return platform::WriteAll(fd, bytes.data(), bytes.size()); }, "x");
        };
        // Whatever tells an absent file from an empty one, with the bytes of each.
        auto state = [&] {
            std::string text;
            for (const auto& path : {replaced, made}) text += fs::exists(path) ? "[" + Bytes(path) + "]" : "absent;";
            return text;
        };
        undo::Journal journal(folder, "combine into made.xlsx");
        journal.BeforeSave(made, true);
        save(made, "the made workbook");
        journal.AfterSave(made, true);
        journal.BeforeSave(replaced, true);
        save(replaced, "the new workbook");
        journal.AfterSave(replaced, true);
        journal.Commit();
        undo::Store store(folder);
        ASSERT_EQ(store.History().size(), 1u);
        const std::string done = state();
        const std::string undone = "[the old workbook]absent;";

        if (c.redoing) {
            ASSERT_EQ(store.Undo(), "combine into made.xlsx");
        }
        c.meddle(replaced, made);
        const std::string meddled = state();
        if (*c.words) {
            try {
                c.redoing ? store.Redo() : store.Undo();
                ADD_FAILURE() << "the step went through";
            } catch (const undo::UndoError& e) {
                EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
            }
            EXPECT_EQ(state(), meddled);
            EXPECT_EQ(store.History().front().undone, c.redoing);
            continue;
        }
        EXPECT_EQ(store.Undo(), "combine into made.xlsx");
        EXPECT_EQ(state(), undone);
        EXPECT_EQ(store.Redo(), "combine into made.xlsx");
        EXPECT_EQ(state(), done);
        // The redo left the made workbook as the operation did: it can be taken back again.
        EXPECT_EQ(store.Undo(), "combine into made.xlsx");
        EXPECT_EQ(state(), undone);
    }
}

}  // namespace
}  // namespace orv::engine::test
