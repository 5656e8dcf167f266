// Commands of orvandel-sheets, each a short run of object-model calls on one private instance.
#include "cli/SheetsTool.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "automation/ObjectModel.h"
#include "platform/Paths.h"
#include "platform/Program.h"
#include "transfers/Commands.h"
#include "undo/UndoStore.h"

namespace orv::cli {

using automation::AutomationError;

namespace {

constexpr const char* kUsageText =
    "Usage:\n"
    "  orvandel-sheets list FILE                        one line per sheet of the full collection:\n"
    "                                                   position<TAB>kind<TAB>state<TAB>name\n"
    "  orvandel-sheets rename FILE SHEET NEWNAME\n"
    "  orvandel-sheets reorder FILE SHEET before|after OTHER\n"
    "  orvandel-sheets delete FILE SHEET\n"
    "  orvandel-sheets copy SRC SHEET [SHEET...] DST [POSITION] [as NEWNAME] [--values] [--refer-to-target]\n"
    "  orvandel-sheets move SRC SHEET [SHEET...] DST [POSITION] [as NEWNAME] [--values] [--refer-to-target]\n"
    "  orvandel-sheets split SRC [FOLDER]                one new workbook per sheet, named after it\n"
    "  orvandel-sheets combine DST SRC [SRC...]         every sheet of each SRC, in order, at the end of DST\n"
    "  orvandel-sheets history                          the operations that can be taken back, newest first\n"
    "  orvandel-sheets undo                             takes the last operation back\n"
    "  orvandel-sheets redo                             does the operation taken back last again\n"
    "\n"
    "SHEET and OTHER are a sheet name, or #N for the N-th sheet of the full collection (SHEET in SRC, OTHER "
    "in\n"
    "DST). POSITION is 'after OTHER', 'before OTHER', 'at start' or 'at end' (the default). A move saves DST "
    "before\n"
    "SRC and deletes the source sheet only once its copy is saved. Several sheets arrive side by side in SRC's "
    "order,\n"
    "and their references to each other lead to the copies:\n"
    "  orvandel-sheets copy model.xlsx Data Calc Chart report.xlsx after #1\n"
    "A DST that does not exist is created, in the format its extension names:\n"
    "  orvandel-sheets move model.xlsx Archive archive-2026.xlsx\n"
    "DST the same file as SRC copies inside it (a move there reorders); a name taken gets \" (2)\":\n"
    "  orvandel-sheets copy model.xlsx Data model.xlsx at start as \"Data before\"\n"
    "'as NEWNAME' goes with one SHEET only. --values copies every formula's last value instead of the formula:\n"
    "  orvandel-sheets copy model.xlsx Summary board.xlsx --values\n"
    "--refer-to-target makes references to sheets not copied lead to DST's sheet of the same name, where DST "
    "has one:\n"
    "  orvandel-sheets copy model-2026.xlsx Calc model-2027.xlsx --refer-to-target\n"
    "split writes FOLDER/<sheet name>.<SRC's extension> (default: beside SRC) and refuses when one exists:\n"
    "  orvandel-sheets split model.xlsx parts\n"
    "combine creates DST when it does not exist:\n"
    "  orvandel-sheets combine all.xlsx january.xlsx february.xlsx\n"
    "In file names, the characters < > : \" / \\ | ? * and control characters become _, trailing dots and "
    "spaces\n"
    "are dropped, device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9) get a _ after them, and a name met twice "
    "gets\n"
    "\" (2)\".\n"
    "A sheet's code (its module) comes along into .xlsm and .xltm workbooks under a code name of its own; a move\n"
    "or a delete takes it out of SRC.\n"
    "kind: worksheet, chartsheet, dialogsheet, macrosheet; state: visible, hidden, veryHidden.\n"
    "Exit status: 0 done, 1 refused or failed (the reason is printed), 2 wrong arguments, 3 done but not\n"
    "faithfully: the copy was saved and differs from its source as printed (its code stayed behind, a formula\n"
    "had no value to keep, say; a moved sheet stays in SRC), or a changed macro project lost its signature.\n"
    "Undo and redo restore every workbook of the operation (a workbook it created is removed), and refuse\n"
    "(status 1, nothing changed) when one was changed since by another program or operation. The history keeps\n"
    "the last 20 operations (at most 2 GB) in $XDG_STATE_HOME/orvandel/undo, else ~/.local/state/orvandel/undo.\n";

struct UsageError {
    std::string message;
};

using transfers::FindSheet;

void Expect(const std::vector<std::string>& args, std::size_t count) {
    if (args.size() != count) {
        throw UsageError{"'" + args[0] + "' takes " + std::to_string(count - 1) + " arguments, " +
                         std::to_string(args.size() - 1) + " given."};
    }
}

// One instance with FILE open, given to `f` with the workbook; quits it whatever happens.
template <typename F>
void WithWorkbook(const std::shared_ptr<const automation::BackendRegistry>& registry, const std::string& path,
                  F&& f) {
    auto application = automation::OpenWorkbookInstance(registry, path);
    auto& workbooks = application->Workbooks();
    auto workbook = workbooks(workbooks.count());
    try {
        f(*application, *workbook);
    } catch (...) {
        application->Quit();
        throw;
    }
    application->Quit();
}

// The words of a copy or move: SRC SHEET [SHEET...] DST [POSITION] [as NEWNAME] [--values]
// [--refer-to-target], the options anywhere after the command.
transfers::TransferRequest ParseTransfer(const std::vector<std::string>& given) {
    const std::string& command = given[0];
    transfers::TransferRequest t;
    t.kind = command == "move" ? transfers::SheetTransfer::Kind::Move : transfers::SheetTransfer::Kind::Copy;
    std::vector<std::string> args;
    for (const auto& arg : given) {
        if (arg == "--values") {
            t.options.valuesOnly = true;
        } else if (arg == "--refer-to-target") {
            t.options.referToTarget = true;
        } else if (arg.starts_with("--")) {
            throw UsageError{"'" + command + "' has no option '" + arg + "'."};
        } else {
            args.push_back(arg);
        }
    }
    const std::string shape = "'" + command + "' takes SRC SHEET [SHEET...] DST [after OTHER | before OTHER | at start | at end] [as NEWNAME].";
    std::size_t end = args.size();
    if (end >= 6 && args[end - 2] == "as") {
        t.newName = args[end - 1];
        if (t.newName.empty()) throw UsageError{"'as' wants the copy's new name after it."};
        end -= 2;
    }
    if (end >= 6 && (args[end - 2] == "after" || args[end - 2] == "before")) {
        t.position = {args[end - 2] == "after" ? transfers::Position::Kind::After : transfers::Position::Kind::Before,
                      args[end - 1]};
        end -= 2;
    } else if (end >= 6 && args[end - 2] == "at") {
        if (args[end - 1] != "start" && args[end - 1] != "end")
            throw UsageError{"'at' wants 'start' or 'end', not '" + args[end - 1] + "'."};
        t.position.kind = args[end - 1] == "start" ? transfers::Position::Kind::AtStart : transfers::Position::Kind::AtEnd;
        end -= 2;
    }
    if (end < 4) throw UsageError{shape};
    for (const char* word : {"after", "before", "at", "as"}) {
        if (args[end - 1] == word) throw UsageError{shape};
    }
    t.source = args[1];
    t.sheets.assign(args.begin() + 2, args.begin() + static_cast<long>(end) - 1);
    t.target = args[end - 1];
    if (!t.newName.empty() && t.sheets.size() != 1)
        throw UsageError{"'as NEWNAME' names the copy of one sheet; give it with one SHEET only."};
    return t;
}

// Prints what a change did that the user must hear of though it succeeded; kDoneUnfaithfully when there was
// anything, else kDone.
int Told(const std::vector<std::string>& notices, std::ostream& err) {
    for (const auto& notice : notices) err << "orvandel-sheets: " << notice << "\n";
    return notices.empty() ? kDone : kDoneUnfaithfully;
}

// What a transfer command reports: the files it created on `out`, the differences and notices on `err`.
int Reported(const std::vector<std::string>& created, const std::string& problem,
             const std::vector<std::string>& notices, std::ostream& out, std::ostream& err) {
    for (const auto& path : created) out << "Created \"" << path << "\".\n";
    int result = kDone;
    if (!problem.empty()) {
        err << "orvandel-sheets: " << problem << "\n";
        result = kDoneUnfaithfully;
    }
    return std::max(result, Told(notices, err));
}

int Transfer(const std::shared_ptr<const automation::BackendRegistry>& registry,
             const transfers::TransferRequest& t, std::ostream& out, std::ostream& err) {
    const auto outcome = transfers::Transfer(registry, t);
    return Reported(outcome.createdTarget ? std::vector<std::string>{t.target} : std::vector<std::string>{},
                    outcome.problem, outcome.notices, out, err);
}

// What the history calls the operation `args` asks for; "" for a command that changes nothing.
std::string OperationName(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "rename" && args.size() == 4)
        return "rename of \"" + args[2] + "\" to \"" + args[3] + "\" in " + platform::FileNameOf(args[1]);
    if (command == "reorder" && args.size() == 5)
        return "reorder of \"" + args[2] + "\" in " + platform::FileNameOf(args[1]);
    if (command == "delete" && args.size() == 3)
        return "delete of \"" + args[2] + "\" from " + platform::FileNameOf(args[1]);
    if (command == "split" && (args.size() == 2 || args.size() == 3))
        return "split of " + platform::FileNameOf(args[1]);
    if (command == "combine" && args.size() >= 3) {
        std::string sources;
        for (std::size_t i = 2; i < args.size(); ++i) sources += (i == 2 ? "" : ", ") + platform::FileNameOf(args[i]);
        return "combine of " + sources + " into " + platform::FileNameOf(args[1]);
    }
    if ((command == "copy" || command == "move") && args.size() >= 4) {
        const transfers::TransferRequest t = ParseTransfer(args);
        std::string sheets;
        for (const auto& sheet : t.sheets) sheets += (sheets.empty() ? "\"" : ", \"") + sheet + "\"";
        return command + " of " + sheets + " from " + platform::FileNameOf(t.source) + " to " +
               platform::FileNameOf(t.target);
    }
    return "";
}

int History(const std::string& folder, const std::vector<std::string>& args, std::ostream& out) {
    Expect(args, 1);
    if (folder.empty()) throw AutomationError("This program keeps no undo history.");
    for (const auto& record : undo::Store(folder).History()) {
        char when[32];
        const std::tm local = platform::LocalTime(static_cast<std::time_t>(record.when));
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
        out << when << '\t' << (record.undone ? "undone" : "done") << '\t' << record.what;
        if (!record.note.empty()) out << "\t(" << record.note << ")";
        out << '\n';
    }
    return kDone;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const std::shared_ptr<const automation::BackendRegistry>& registry, const std::string& undoFolder) {
    const std::string& command = args[0];
    if (command == "history") return History(undoFolder, args, out);
    if (command == "undo" || command == "redo") {
        Expect(args, 1);
        if (undoFolder.empty()) throw AutomationError("This program keeps no undo history.");
        undo::Store store(undoFolder);
        const std::string what = command == "undo" ? store.Undo() : store.Redo();
        out << (command == "undo" ? "Undone: " : "Redone: ") << what << "\n";
        return kDone;
    }
    // Every change is kept for undo: the files its saves replace, in one record however the command ends.
    std::optional<undo::Journal> journal;
    std::optional<automation::ScopedSaveObserver> observing;
    if (const std::string name = OperationName(args); !name.empty() && !undoFolder.empty()) {
        journal.emplace(undoFolder, name);
        observing.emplace(&*journal);
    }
    struct CommitAtEnd {
        std::optional<undo::Journal>& journal;
        ~CommitAtEnd() {
            if (journal) journal->Commit();
        }
    } commit{journal};
    if (command == "list") {
        Expect(args, 2);
        WithWorkbook(registry, args[1], [&](automation::Application&, automation::Workbook& workbook) {
            const int count = workbook.Sheets().count();
            for (int i = 1; i <= count; ++i) {
                auto sheet = workbook.Sheets()(i);
                out << i << '\t' << automation::ToString(sheet->kind()) << '\t'
                    << automation::ToString(sheet->visibility()) << '\t' << sheet->name() << '\n';
            }
        });
        return kDone;
    }
    if (command == "rename") {
        Expect(args, 4);
        WithWorkbook(registry, args[1], [&](automation::Application&, automation::Workbook& workbook) {
            FindSheet(workbook, args[2])->setName(args[3]);
            workbook.Save();
        });
        return kDone;
    }
    if (command == "reorder") {
        Expect(args, 5);
        if (args[3] != "before" && args[3] != "after") {
            throw UsageError{"'reorder' wants 'before' or 'after', not '" + args[3] + "'."};
        }
        WithWorkbook(registry, args[1], [&](automation::Application&, automation::Workbook& workbook) {
            auto sheet = FindSheet(workbook, args[2]);
            auto other = FindSheet(workbook, args[4]);
            if (args[3] == "before") {
                sheet->Move(automation::Before{*other});
            } else {
                sheet->Move(automation::After{*other});
            }
            workbook.Save();
        });
        return kDone;
    }
    if (command == "delete") {
        Expect(args, 3);
        int result = kDone;
        WithWorkbook(registry, args[1], [&](automation::Application&, automation::Workbook& workbook) {
            transfers::DeleteSheets(workbook, {FindSheet(workbook, args[2])}, args[1]);
            workbook.Save();
            result = Told(workbook.TakeNotices(), err);
        });
        return result;
    }
    if (command == "copy" || command == "move") return Transfer(registry, ParseTransfer(args), out, err);
    if (command == "split") {
        if (args.size() != 2 && args.size() != 3) throw UsageError{"'split' takes SRC [FOLDER]."};
        const auto outcome = transfers::Split(registry, args[1], args.size() == 3 ? args[2] : "");
        return Reported(outcome.created, outcome.problem, outcome.notices, out, err);
    }
    if (command == "combine") {
        if (args.size() < 3) throw UsageError{"'combine' takes DST SRC [SRC...]."};
        const auto outcome =
            transfers::Combine(registry, args[1], std::vector<std::string>(args.begin() + 2, args.end()));
        return Reported(outcome.createdTarget ? std::vector<std::string>{args[1]} : std::vector<std::string>{},
                        outcome.problem, outcome.notices, out, err);
    }
    throw UsageError{"Unknown command '" + command + "'."};
}

}  // namespace

const char* SheetsToolUsage() { return kUsageText; }

int RunSheetsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  std::shared_ptr<const automation::BackendRegistry> registry, const std::string& undoFolder) {
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        out << kUsageText;
        return kDone;
    }
    if (args.empty()) {
        err << "orvandel-sheets: no command given.\n" << kUsageText;
        return kUsage;
    }
    try {
        return Run(args, out, err, registry, undoFolder);
    } catch (const UsageError& e) {
        err << "orvandel-sheets: " << e.message << "\n" << kUsageText;
        return kUsage;
    } catch (const std::exception& e) {
        err << "orvandel-sheets: " << e.what() << "\n";
        return kFailed;
    }
}

}  // namespace orv::cli
