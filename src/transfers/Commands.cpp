// Whole transfers, each in one private instance: what they refuse comes first, then the copies, then the saves
// in SheetTransfer's order.
#include "transfers/Commands.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>

#include "engine/workbook/SheetNames.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TextCase.h"

namespace orv::transfers {

using automation::AutomationError;
using automation::SheetKind;
using automation::SheetVisibility;

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& path) { return "\"" + platform::FileNameOf(path) + "\""; }

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(platform::PathFromUtf8(path), ec);
}

// The folder a new file at `path` goes into.
std::string FolderOf(const std::string& path) {
    const std::string folder = platform::ParentFolderOf(path);
    return folder.empty() ? "." : folder;
}

// Refuses, before anything is written, a new workbook at `path` that could not be written there.
void RefuseNewFileThere(const std::string& path) {
    if (automation::FormatOfPath(path) == automation::FileFormat::Unknown) {
        throw AutomationError(Quoted(path) +
                              " cannot be created: its extension names no workbook format this program writes "
                              "(.xlsx, .xlsm, .xltx, .xltm, .xls or .ods).");
    }
    const std::string folder = FolderOf(path);
    std::error_code ec;
    if (!fs::is_directory(platform::PathFromUtf8(folder), ec)) {
        throw AutomationError(Quoted(path) + " cannot be created: the folder \"" + folder +
                              "\" does not exist. Create the folder first, or name a workbook in one that does.");
    }
    if (!platform::FolderTakesNewFiles(folder)) {
        throw AutomationError(Quoted(path) + " cannot be created: the folder \"" + folder +
                              "\" cannot be written. Choose a folder you may write to.");
    }
}

// Sheets that can travel to another workbook: worksheets and chart sheets (not placeholders).
bool Travels(const Sheet& sheet) {
    return !sheet.isPlaceholder() &&
           (sheet.kind() == SheetKind::Worksheet || sheet.kind() == SheetKind::Chartsheet);
}

std::vector<std::string> NamesOf(Workbook& workbook) {
    std::vector<std::string> names;
    for (int i = 1; i <= workbook.sheetCount(); ++i) names.push_back(workbook.sheetAt(i)->name());
    return names;
}

// A new workbook's own empty sheet, renamed out of the way of the sheets arriving (it goes before the save).
std::shared_ptr<Sheet> BlankOf(Workbook& created, const std::vector<std::string>& arriving) {
    auto blank = created.sheetAt(1);
    std::string name = "Empty";
    for (int n = 2; std::any_of(arriving.begin(), arriving.end(),
                                [&](const std::string& a) { return engine::SheetNamesEqual(a, name); });
         ++n)
        name = "Empty (" + std::to_string(n) + ")";
    if (!engine::SheetNamesEqual(blank->name(), name)) blank->setName(name);
    return blank;
}

// Removes a new workbook's own sheet once copies stand beside it; the first copy is shown when all arrived
// hidden, as a workbook must show a sheet.
void DropBlank(Sheet& blank, const std::vector<std::shared_ptr<Sheet>>& copies) {
    if (!copies.empty() && std::none_of(copies.begin(), copies.end(), [](const auto& copy) {
            return copy->visibility() == SheetVisibility::Visible;
        }))
        copies.front()->setVisibility(SheetVisibility::Visible);
    blank.Delete();
}

// Removes the files a command created before it failed; what cannot be removed is named.
std::string RemoveCreated(const std::vector<std::string>& created) {
    std::string left;
    for (const auto& path : created) {
        std::error_code ec;
        fs::remove(platform::PathFromUtf8(path), ec);
        if (ec) left += (left.empty() ? "" : ", ") + Quoted(path);
    }
    return left.empty() ? "" : " These files it wrote could not be removed: " + left + ".";
}

// One instance, quit whatever happens.
template <typename F>
auto InInstance(const Registry& registry, F&& f) {
    auto application = automation::CreateInstance(registry);
    try {
        auto result = f(*application);
        application->Quit();
        return result;
    } catch (...) {
        try {
            application->Quit();
        } catch (...) {
        }
        throw;
    }
}

std::vector<std::shared_ptr<Sheet>> SheetsNamed(Workbook& workbook, const std::vector<std::string>& specs) {
    std::vector<std::shared_ptr<Sheet>> sheets;
    for (const auto& spec : specs) sheets.push_back(FindSheet(workbook, spec));
    return InWorkbookOrder(workbook, std::move(sheets));
}

// Moves `sheets` (in order) to where `position` says in their own workbook.
void Reorder(Workbook& workbook, const std::vector<std::shared_ptr<Sheet>>& sheets, const Position& position) {
    using Kind = Position::Kind;
    if (position.kind == Kind::AtStart || position.kind == Kind::Before) {
        // From the last: each goes before the one placed after it, so the anchor may be one of them.
        auto anchor = position.kind == Kind::AtStart ? workbook.sheetAt(1) : FindSheet(workbook, position.sheet);
        for (auto it = sheets.rbegin(); it != sheets.rend(); ++it) {
            if (it->get() != anchor.get()) (*it)->Move(automation::Before{*anchor});
            anchor = *it;
        }
        return;
    }
    auto anchor = position.kind == Kind::AtEnd ? workbook.sheetAt(workbook.sheetCount())
                                               : FindSheet(workbook, position.sheet);
    for (const auto& sheet : sheets) {
        if (sheet.get() != anchor.get()) sheet->Move(automation::After{*anchor});
        anchor = sheet;
    }
}

}  // namespace

std::shared_ptr<Sheet> FindSheet(Workbook& workbook, const std::string& spec) {
    if (spec.size() > 1 && spec[0] == '#' &&
        std::all_of(spec.begin() + 1, spec.end(), [](unsigned char c) { return std::isdigit(c); })) {
        if (spec.size() > 10) throw AutomationError("There is no sheet " + spec + ".");
        return workbook.Sheets()(std::stoi(spec.substr(1)));
    }
    return workbook.Sheets()(spec);
}

std::optional<std::string> NewNameProblem(const std::string& name, const std::vector<std::string>& names) {
    return engine::SheetRenameProblem(name, names, -1);
}

TransferOutcome Transfer(const Registry& registry, const TransferRequest& request) {
    using Kind = Position::Kind;
    if (request.sheets.empty()) throw AutomationError("Name at least one sheet to copy or move.");
    if (!request.newName.empty() && request.sheets.size() != 1)
        throw AutomationError("A new name goes with one sheet only; name each copy after it arrives.");
    const bool inPlace = Exists(request.target) && SameFile(request.source, request.target);
    const bool create = !inPlace && !Exists(request.target);
    const bool move = request.kind == SheetTransfer::Kind::Move;
    if (create) {
        if (request.position.kind == Kind::After || request.position.kind == Kind::Before) {
            throw AutomationError(Quoted(request.target) + " does not exist yet, so it has no sheet \"" +
                                  request.position.sheet + "\" to place the copies by. Leave the position out, or "
                                  "say 'at start' or 'at end'.");
        }
        RefuseNewFileThere(request.target);
    }
    if (inPlace && move && request.options.any()) {
        throw AutomationError(
            "A move inside one workbook only changes the order of its sheets; values only and references to "
            "the target apply to copies.");
    }
    return InInstance(registry, [&](automation::Application& application) {
        TransferOutcome outcome;
        auto source = application.Workbooks().Open(request.source);
        // Both open before either is read: a backend that serves only one of them hands it over to one that
        // serves both, which it can only do with a workbook nothing was asked of yet.
        auto target = inPlace ? source : create ? application.Workbooks().Add(request.target)
                                                : application.Workbooks().Open(request.target);
        auto sheets = SheetsNamed(*source, request.sheets);
        if (inPlace && move) {
            if (!request.newName.empty()) {
                const auto names = NamesOf(*source);
                const auto self = std::find(names.begin(), names.end(), sheets.front()->name()) - names.begin();
                if (auto problem = engine::SheetRenameProblem(request.newName, names, static_cast<int>(self)))
                    throw AutomationError(*problem);
            }
            Reorder(*source, sheets, request.position);
            if (!request.newName.empty()) sheets.front()->setName(request.newName);
            source->Save();
            for (const auto& sheet : sheets) outcome.copies.push_back(sheet->name());
            return outcome;
        }
        outcome.createdTarget = create;
        if (!request.newName.empty()) {
            if (auto problem = NewNameProblem(request.newName, NamesOf(*target))) throw AutomationError(*problem);
        }
        // The empty sheet takes a name no sheet of the source has either, so that no reference a copy keeps
        // can lead to it when it goes.
        std::vector<std::string> arriving = NamesOf(*source);
        if (!request.newName.empty()) arriving.push_back(request.newName);
        auto blank = create ? BlankOf(*target, arriving) : nullptr;
        std::shared_ptr<Sheet> anchor;
        switch (request.position.kind) {
            case Kind::AtEnd:
                anchor = target->sheetAt(target->sheetCount());
                break;
            case Kind::AtStart:
                anchor = target->sheetAt(1);
                break;
            case Kind::After:
            case Kind::Before:
                anchor = FindSheet(*target, request.position.sheet);
                break;
        }
        SheetTransfer transfer(request.kind, source, target);
        const auto& copies = transfer.Copy(sheets, *anchor,
                                           request.newName.empty() ? std::vector<std::string>{}
                                                                   : std::vector<std::string>{request.newName},
                                           request.options);
        if (request.position.kind == Kind::AtStart || request.position.kind == Kind::Before) {
            for (const auto& copy : copies) copy->Move(automation::Before{*anchor});
        }
        if (blank) DropBlank(*blank, copies);
        transfer.SaveTarget();
        for (const auto& copy : copies) outcome.copies.push_back(copy->name());
        if (!transfer.problem().empty()) {
            outcome.problem = transfer.KeptUnfaithfully();
        } else if (move) {
            transfer.DeleteFromSource();
            transfer.SaveSource();
        }
        outcome.notices = transfer.TakeNotices();
        return outcome;
    });
}

std::string FileNameForSheet(const std::string& sheetName, const std::string& extension) {
    std::string name;
    for (const char c : sheetName) {
        const auto u = static_cast<unsigned char>(c);
        name += u < 32 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos ? '_' : c;
    }
    // Windows drops trailing dots and spaces from a file name, so two sheets would meet in one file.
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty()) name = "Sheet";
    // The names of devices, with any extension, open the device instead of a file on Windows.
    std::string stem = platform::FoldCase(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    static const std::set<std::string> kDevices = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
                                                   "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",
                                                   "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    if (kDevices.count(stem)) name += '_';
    return name + extension;
}

SplitOutcome Split(const Registry& registry, const std::string& sourcePath, const std::string& folderGiven) {
    const std::string folder = folderGiven.empty() ? FolderOf(sourcePath) : folderGiven;
    std::error_code ec;
    if (!fs::is_directory(platform::PathFromUtf8(folder), ec)) {
        throw AutomationError("The workbook cannot be split into \"" + folder + "\": " +
                              (Exists(folder) ? "it is a file, not a folder." : "there is no such folder.") +
                              " Name an existing folder.");
    }
    const std::string name = platform::FileNameOf(sourcePath);
    const auto dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return InInstance(registry, [&](automation::Application& application) {
        SplitOutcome outcome;
        auto source = application.Workbooks().Open(sourcePath);
        // Every file name first, so that a name taken refuses the split before anything is written.
        std::vector<std::pair<std::shared_ptr<Sheet>, std::string>> plan;
        std::set<std::string> chosen;
        for (int i = 1; i <= source->sheetCount(); ++i) {
            auto sheet = source->sheetAt(i);
            if (!Travels(*sheet)) continue;
            const std::string base = FileNameForSheet(sheet->name(), "");
            std::string file = base + extension;
            for (int n = 2; chosen.count(platform::FoldCase(file)); ++n) file = base + " (" + std::to_string(n) + ")" + extension;
            chosen.insert(platform::FoldCase(file));
            const std::string path = platform::Utf8FromPath(platform::PathFromUtf8(folder) / platform::PathFromUtf8(file));
            if (Exists(path)) {
                throw AutomationError("The workbook was not split: " + Quoted(path) + " exists already in \"" + folder +
                                      "\", and a split never writes over a file. Move it away, or split into "
                                      "another folder. Nothing was written.");
            }
            plan.emplace_back(sheet, path);
        }
        if (plan.empty()) throw AutomationError(Quoted(sourcePath) + " has no worksheet or chart sheet to split off.");
        RefuseNewFileThere(plan.front().second);
        try {
            for (const auto& [sheet, path] : plan) {
                auto target = application.Workbooks().Add(path);
                auto blank = BlankOf(*target, NamesOf(*source));
                SheetTransfer transfer(SheetTransfer::Kind::Copy, source, target);
                const auto& copies = transfer.Copy({sheet}, *blank);
                DropBlank(*blank, copies);
                transfer.SaveTarget();
                outcome.created.push_back(path);
                if (!transfer.problem().empty())
                    outcome.problem += (outcome.problem.empty() ? "" : "\n") + transfer.KeptUnfaithfully();
                for (auto& notice : transfer.TakeNotices()) outcome.notices.push_back(std::move(notice));
                target->Close();  // its parts need not stay in memory while the next sheets are copied
            }
        } catch (const std::exception& e) {
            throw AutomationError(std::string(e.what()) + "\r\nThe workbook was not split: the files written so far were removed." +
                                  RemoveCreated(outcome.created));
        }
        return outcome;
    });
}

TransferOutcome Combine(const Registry& registry, const std::string& targetPath,
                        const std::vector<std::string>& sources) {
    if (sources.empty()) throw AutomationError("Name at least one workbook to combine.");
    for (const auto& source : sources) {
        if (Exists(targetPath) && SameFile(source, targetPath)) {
            throw AutomationError(Quoted(source) +
                                  " is both the workbook to combine into and one to take sheets from; name it once.");
        }
    }
    const bool create = !Exists(targetPath);
    if (create) RefuseNewFileThere(targetPath);
    return InInstance(registry, [&](automation::Application& application) {
        TransferOutcome outcome;
        outcome.createdTarget = create;
        // Every workbook is opened before any is read or changed, so that the instance can still bring them
        // all to the one backend that serves every format among them.
        std::vector<std::shared_ptr<automation::Workbook>> opened;
        for (const auto& sourcePath : sources) opened.push_back(application.Workbooks().Open(sourcePath));
        auto target = create ? application.Workbooks().Add(targetPath) : application.Workbooks().Open(targetPath);
        std::vector<std::shared_ptr<Sheet>> all;
        std::string problems;
        for (std::size_t n = 0; n < sources.size(); ++n) {
            const std::string& sourcePath = sources[n];
            const auto& source = opened[n];
            std::vector<std::shared_ptr<Sheet>> sheets;
            for (int i = 1; i <= source->sheetCount(); ++i) {
                auto sheet = source->sheetAt(i);
                if (Travels(*sheet)) {
                    sheets.push_back(sheet);
                } else if (!sheet->isPlaceholder()) {
                    problems += (problems.empty() ? "" : " ") + std::string("Sheet \"") + sheet->name() + "\" of " +
                                Quoted(sourcePath) + " was not copied: only worksheets and chart sheets can be.";
                }
            }
            if (sheets.empty()) continue;
            auto blank = create && all.empty() ? BlankOf(*target, NamesOf(*source)) : nullptr;
            SheetTransfer transfer(SheetTransfer::Kind::Copy, source, target);
            const auto& copies = transfer.Copy(sheets, *target->sheetAt(target->sheetCount()));
            if (!transfer.problem().empty()) problems += (problems.empty() ? "" : " ") + transfer.problem();
            // The new workbook's own sheet goes at once: the next workbooks' sheets may have its name.
            if (blank) DropBlank(*blank, copies);
            all.insert(all.end(), copies.begin(), copies.end());
            for (auto& notice : transfer.TakeNotices()) outcome.notices.push_back(std::move(notice));
        }
        if (all.empty()) throw AutomationError("The workbooks to combine hold no worksheet or chart sheet. Nothing was written.");
        target->Save();
        for (const auto& copy : all) outcome.copies.push_back(copy->name());
        if (!problems.empty())
            outcome.problem = problems + " The other sheets were copied and saved in " + Quoted(targetPath) + ".";
        return outcome;
    });
}

}  // namespace orv::transfers
