// Commands of orvandel-sheets, each a short run of object-model calls on one private instance.
#include "cli/SheetsTool.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <optional>

#include "automation/ObjectModel.h"
#include "platform/Paths.h"
#include "platform/Program.h"
#include "transfers/SheetTransfer.h"
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
    "  orvandel-sheets copy SRC SHEET [SHEET...] DST after OTHER [as NEWNAME]\n"
    "  orvandel-sheets move SRC SHEET [SHEET...] DST after OTHER [as NEWNAME]\n"
    "  orvandel-sheets history                          the operations that can be taken back, newest first\n"
    "  orvandel-sheets undo                             takes the last operation back\n"
    "  orvandel-sheets redo                             does the operation taken back last again\n"
    "\n"
    "SHEET and OTHER are a sheet name, or #N for the N-th sheet of the full collection (SHEET in SRC, OTHER "
    "in\n"
    "DST for copy and move). A move saves DST before SRC and deletes the source sheet only once its copy is "
    "saved.\n"
    "Several sheets arrive side by side in SRC's order, and their references to each other lead to the copies:\n"
    "  orvandel-sheets copy model.xlsx Data Calc Chart report.xlsx after #1\n"
    "'as NEWNAME' goes with one SHEET only.\n"
    "A sheet's code (its module) comes along into .xlsm and .xltm workbooks under a code name of its own; a move\n"
    "or a delete takes it out of SRC.\n"
    "kind: worksheet, chartsheet, dialogsheet, macrosheet; state: visible, hidden, veryHidden.\n"
    "Exit status: 0 done, 1 refused or failed (the reason is printed), 2 wrong arguments, 3 done but not\n"
    "faithfully: the copy was saved and differs from its source as printed (its code stayed behind, say; a\n"
    "moved sheet stays in SRC), or a changed macro project lost its signature.\n"
    "Undo and redo restore every workbook of the operation, and refuse (status 1, nothing changed) when one\n"
    "was changed since by another program or operation. The history keeps the last 20 operations\n"
    "(at most 2 GB) in $XDG_STATE_HOME/orvandel/undo, else ~/.local/state/orvandel/undo.\n";

struct UsageError {
    std::string message;
};

// The sheet SHEET names: "#N" for a position in the full collection, else a name (ignoring case).
std::shared_ptr<automation::Sheet> FindSheet(automation::Workbook& workbook, const std::string& spec) {
    if (spec.size() > 1 && spec[0] == '#' &&
        std::all_of(spec.begin() + 1, spec.end(), [](unsigned char c) { return std::isdigit(c); })) {
        if (spec.size() > 10) throw AutomationError("There is no sheet " + spec + ".");
        return workbook.Sheets()(std::stoi(spec.substr(1)));
    }
    return workbook.Sheets()(spec);
}

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

// The words of a copy or move: SRC SHEET [SHEET...] DST after OTHER [as NEWNAME].
struct TransferArgs {
    std::string source;
    std::vector<std::string> sheets;
    std::string target;
    std::string after;
    std::optional<std::string> newName;
};

TransferArgs ParseTransfer(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    const bool named = args.size() >= 8 && args[args.size() - 2] == "as";
    const std::size_t afterAt = args.size() - (named ? 4 : 2);
    if (args.size() < 6 || afterAt < 4) {
        throw UsageError{"'" + command + "' takes SRC SHEET [SHEET...] DST after OTHER [as NEWNAME]."};
    }
    if (args[afterAt] != "after") {
        throw UsageError{"'" + command + "' wants the words 'after' and 'as' where the usage shows them."};
    }
    TransferArgs t;
    t.source = args[1];
    t.sheets.assign(args.begin() + 2, args.begin() + static_cast<long>(afterAt) - 1);
    t.target = args[afterAt - 1];
    t.after = args[afterAt + 1];
    if (named) {
        if (t.sheets.size() != 1)
            throw UsageError{"'as NEWNAME' names the copy of one sheet; give it with one SHEET only."};
        t.newName = args.back();
    }
    return t;
}

// Prints what a change did that the user must hear of though it succeeded; kDoneUnfaithfully when there was
// anything, else kDone.
int Told(const std::vector<std::string>& notices, std::ostream& err) {
    for (const auto& notice : notices) err << "orvandel-sheets: " << notice << "\n";
    return notices.empty() ? kDone : kDoneUnfaithfully;
}

// Copies (and for a move, then deletes) the sheets of SRC to after OTHER of DST in one instance, by the rules
// the window's procedures follow. A new name is given to the copy in DST: the source is never changed by a
// copy, so a workbook whose structure is protected can still give one. Returns kDone or kDoneUnfaithfully
// (the differences on `err`).
int Transfer(const std::shared_ptr<const automation::BackendRegistry>& registry, const TransferArgs& t, bool move,
             std::ostream& err) {
    transfers::RefuseSameFile(t.source, t.target);
    int result = kDone;
    WithWorkbook(registry, t.source, [&](automation::Application& application, automation::Workbook&) {
        auto source = application.Workbooks()(application.Workbooks().count());
        auto target = transfers::OpenTarget(application, t.source, t.target);
        std::vector<std::shared_ptr<automation::Sheet>> sheets;
        for (const auto& spec : t.sheets) sheets.push_back(FindSheet(*source, spec));
        sheets = transfers::InWorkbookOrder(*source, std::move(sheets));
        auto after = FindSheet(*target, t.after);
        using Kind = transfers::SheetTransfer::Kind;
        transfers::SheetTransfer transfer(move ? Kind::Move : Kind::Copy, source, target);
        transfer.Copy(sheets, *after,
                      t.newName ? std::vector<std::string>{*t.newName} : std::vector<std::string>{});
        transfer.SaveTarget();
        if (!transfer.problem().empty()) {
            err << "orvandel-sheets: " << transfer.KeptUnfaithfully() << "\n";
            result = kDoneUnfaithfully;
        } else if (move) {
            transfer.DeleteFromSource();
            transfer.SaveSource();
        }
        result = std::max(result, Told(transfer.TakeNotices(), err));
    });
    return result;
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
    if ((command == "copy" || command == "move") && args.size() >= 6) {
        const TransferArgs t = ParseTransfer(args);
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
    if (command == "copy" || command == "move") return Transfer(registry, ParseTransfer(args), command == "move", err);
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
