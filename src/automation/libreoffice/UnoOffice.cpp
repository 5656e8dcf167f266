// The office over UNO: bootstraps the client's own UNO runtime once, starts a private soffice, connects to it
// through its pipe, and carries out loads and sheet operations on the loaded documents.
#include <unistd.h>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets2.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <filesystem>
#include <mutex>
#include <osl/file.hxx>
#include <regex>
#include <rtl/bootstrap.hxx>
#include <rtl/ref.hxx>
#include <thread>

#include "automation/ObjectModel.h"
#include "automation/libreoffice/Office.h"
#include "automation/libreoffice/OfficeProcess.h"
#include "automation/libreoffice/OfficeWatchdog.h"
#include "automation/libreoffice/UnoCopyChecks.h"
#include "automation/libreoffice/UnoInteraction.h"
#include "legacy/SheetListing.h"

namespace orv::libreoffice {

using namespace css;
using automation::AutomationError;
using rtl::OUString;
using rtl::OUStringToOString;

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kQuitTimeout = std::chrono::seconds(15);
// No single call into the office (a load or save of a very large workbook included) should take longer.
constexpr auto kCallLimit = std::chrono::seconds(600);

using uno_checks::FromUtf8;
using uno_checks::ToUtf8;
std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The type of the UNO exception being handled, e.g. "com.sun.star.lang.IllegalArgumentException".
std::string CaughtTypeName() { return ToUtf8(cppu::getCaughtException().getValueTypeName()); }

// The client's own UNO runtime. It must know the office API types before it bootstraps, or the first call
// into the office crashes; it is made once per process and shared by every office.
uno::Reference<uno::XComponentContext> LocalContext() {
    static std::once_flag once;
    static uno::Reference<uno::XComponentContext> context;
    static std::string failure;
    std::call_once(once, [] {
        try {
            rtl::Bootstrap::set("URE_MORE_TYPES", "file://" ORVANDEL_LIBREOFFICE_PROGRAM "/types/offapi.rdb");
            context = cppu::defaultBootstrap_InitialComponentContext();
        } catch (const uno::Exception& e) {
            failure = ToUtf8(e.Message);
        }
    });
    if (!context.is()) {
        throw AutomationError(
            "LibreOffice cannot be started: the UNO runtime of this program did not start (" + failure +
            "). Reinstall LibreOffice and try again.");
    }
    return context;
}

beans::PropertyValue Property(const char* name, const uno::Any& value) {
    beans::PropertyValue property;
    property.Name = OUString::createFromAscii(name);
    property.Value = value;
    return property;
}

class UnoOffice;

class UnoDocument : public OfficeDocument {
  public:
    // `filter`: the export filter of a new document, which has none of its own; "" for a loaded one.
    UnoDocument(UnoOffice& office, std::string path, uno::Reference<lang::XComponent> component,
                std::string filter = "")
        : m_office(office),
          m_path(std::move(path)),
          m_component(std::move(component)),
          m_document(m_component, uno::UNO_QUERY),
          m_filter(std::move(filter)) {}
    ~UnoDocument() override { close(); }

    std::vector<std::string> sheetNames() override;
    std::vector<bool> sheetsVisible() override;
    void setSheetVisible(int index, bool visible) override;
    void renameSheet(int index, const std::string& name) override;
    void moveSheet(int index, int destination) override;
    void removeSheet(int index) override;
    int importSheet(OfficeDocument& source, int sourceIndex, int destination) override;
    int copySheet(int index, const std::string& name, int destination) override;
    std::map<std::string, std::string> workbookNames() override;
    std::vector<std::string> mendCopiedNames(OfficeDocument& source, int sourceIndex, int index,
                                             const std::map<std::string, std::string>& namesBefore) override;
    std::vector<std::pair<std::string, std::string>> keepValuesOfLostReferences(OfficeDocument& source,
                                                                               int sourceIndex,
                                                                               int index) override;
    std::vector<std::string> differingCellStyles(OfficeDocument& source, int index) override;
    std::string sheetCode(int index) override;
    std::vector<std::pair<std::string, std::string>> externalFormulas(int index) override;
    int freezeExternalFormulas(int index) override;
    int relinkToCopies(OfficeDocument& source, int index,
                       const std::vector<std::pair<std::string, std::string>>& copies) override;
    bool storeTo(const std::string& path) override;
    void store() override;
    void close() noexcept override;

    uno::Reference<sheet::XSpreadsheetDocument> document() const { return m_document; }
    // Leaves the document exactly one sheet, inserting or removing sheets after the first.
    void KeepOneSheet();

  private:
    // Runs one call into the office, turning its exceptions into descriptions of `what` went wrong.
    template <typename F>
    auto Call(const std::string& what, F&& call) -> decltype(call());
    uno::Reference<sheet::XSpreadsheets2> Sheets();
    uno::Reference<sheet::XSpreadsheet> SheetAt(int index);
    void KeepHiddenSheetsHidden();
    std::string NameAt(int index);

    UnoOffice& m_office;
    std::string m_path;
    uno::Reference<lang::XComponent> m_component;
    uno::Reference<sheet::XSpreadsheetDocument> m_document;
    std::string m_filter;
};

class UnoOffice : public Office {
  public:
    UnoOffice() {
        auto local = LocalContext();
        EndOrphanedOffices();
        m_process = OfficeProcess::Launch(ORVANDEL_SOFFICE);
        m_watchdog = std::make_unique<OfficeWatchdog>(m_process->pid());
        try {
            Connect(local);
        } catch (...) {
            m_process->Kill();
            throw;
        }
    }
    ~UnoOffice() override { Quit(); }

    std::unique_ptr<OfficeDocument> Load(const std::string& path, bool readOnly) override;
    std::unique_ptr<OfficeDocument> Create(const std::string& path, const std::string& filter) override;
    void Quit() noexcept override;

    // Guards one call into the office against a hang.
    OfficeWatchdog::Guard Guard() { return OfficeWatchdog::Guard(*m_watchdog, kCallLimit); }

    // The description of a failed call: "LibreOffice stopped" when it did, else what it reported.
    std::string Describe(const std::string& what, const std::string& typeName) {
        if (m_watchdog && m_watchdog->fired()) {
            return "LibreOffice did not finish its work within " + std::to_string(kCallLimit.count() / 60) +
                   " minutes when it was to " + what +
                   ", and was stopped. Try again with the workbook closed in "
                   "other programs; if it keeps happening, open the workbook in LibreOffice to check it.";
        }
        if (!m_process || !m_process->Running()) {
            return "LibreOffice stopped unexpectedly while it was to " + what +
                   ". Try again; if it keeps "
                   "happening, open the workbook in LibreOffice to check it.";
        }
        return "LibreOffice could not " + what + " (it reported " + typeName +
               "). Check the workbook and try again.";
    }

  private:
    void Connect(const uno::Reference<uno::XComponentContext>& local);

    std::unique_ptr<OfficeProcess> m_process;
    std::unique_ptr<OfficeWatchdog> m_watchdog;
    uno::Reference<frame::XDesktop2> m_desktop;
};

void UnoOffice::Connect(const uno::Reference<uno::XComponentContext>& local) {
    auto resolver = bridge::UnoUrlResolver::create(local);
    const OUString url = OUString("uno:pipe,name=") + FromUtf8(m_process->pipeName()) +
                         OUString(";urp;StarOffice.ComponentContext");
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    for (;;) {
        try {
            uno::Reference<uno::XComponentContext> remote(resolver->resolve(url), uno::UNO_QUERY_THROW);
            m_desktop = frame::Desktop::create(remote);
            return;
        } catch (const connection::NoConnectException&) {
        } catch (const uno::Exception&) {
            // The office is up but not ready to serve yet; try again until the deadline.
        }
        if (!m_process->Running()) {
            const std::string log = m_process->logTail();
            throw AutomationError("LibreOffice ended while starting" +
                                  (log.empty() ? "" : " (\"" + log + "\")") +
                                  ". Check that LibreOffice Calc is installed and starts, then try again.");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw AutomationError(
                "LibreOffice did not answer within " +
                std::to_string(std::chrono::seconds(kStartTimeout).count()) +
                " seconds of starting. Close other programs to free the computer and try again.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::unique_ptr<OfficeDocument> UnoOffice::Load(const std::string& path, bool readOnly) {
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == 0 && !ec) {
        // The office opens an empty file as a new workbook; saving it would write a workbook in its place.
        throw AutomationError(legacy::CannotOpen(path, "the file is empty (0 bytes), not a workbook",
                                                 "Use a good copy of the workbook."));
    }
    OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(FromUtf8(std::filesystem::absolute(path).string()), url) !=
        osl::FileBase::E_None) {
        throw AutomationError(
            legacy::CannotOpen(path, "its path cannot be given to LibreOffice", "Rename or move it."));
    }
    rtl::Reference<RecordingInteractionHandler> handler(new RecordingInteractionHandler());
    const beans::PropertyValue settings[] = {
        Property("Hidden", uno::Any(true)), Property("ReadOnly", uno::Any(readOnly)),
        Property("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE)),
        Property("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE)),
        Property("InteractionHandler", uno::Any(uno::Reference<task::XInteractionHandler>(handler.get())))};
    const uno::Sequence<beans::PropertyValue> properties(settings, 5);
    m_process->NoteDocument(path);
    uno::Reference<lang::XComponent> component;
    std::string detail;
    try {
        const auto guard = Guard();
        component = m_desktop->loadComponentFromURL(url, "_blank", 0, properties);
    } catch (const uno::Exception&) {
        detail = CaughtTypeName();
        if (!m_process->Running()) throw AutomationError(Describe("open \"" + FileName(path) + "\"", detail));
    }
    if (!component.is()) throw AutomationError(DescribeLoadFailure(path, handler->questions(), detail));
    auto document = std::make_unique<UnoDocument>(*this, path, component);
    if (!document->document().is()) {
        throw AutomationError(legacy::CannotOpen(path,
                                                 "LibreOffice opened it as something other than a workbook",
                                                 "Choose a workbook saved by a spreadsheet application."));
    }
    uno::Reference<frame::XStorable> storable(component, uno::UNO_QUERY);
    if (!readOnly && storable.is() && storable->isReadonly()) {
        throw AutomationError(
            legacy::CannotOpen(path, "it can only be opened read-only, so it cannot be changed",
                               "Make the file and its folder writable, close it in other programs, and "
                               "try again."));
    }
    return document;
}

std::unique_ptr<OfficeDocument> UnoOffice::Create(const std::string& path, const std::string& filter) {
    const std::string what = "make the new workbook \"" + FileName(path) + "\"";
    const beans::PropertyValue settings[] = {Property("Hidden", uno::Any(true))};
    uno::Reference<lang::XComponent> component;
    try {
        const auto guard = Guard();
        component = m_desktop->loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                                    uno::Sequence<beans::PropertyValue>(settings, 1));
    } catch (const uno::Exception&) {
        throw AutomationError(Describe(what, CaughtTypeName()));
    }
    auto document = std::make_unique<UnoDocument>(*this, path, component, filter);
    if (!document->document().is()) {
        throw AutomationError("LibreOffice could not " + what +
                              ": it made no spreadsheet. Check that LibreOffice Calc is installed, then try again.");
    }
    document->KeepOneSheet();
    return document;
}

void UnoOffice::Quit() noexcept {
    if (!m_process) return;
    try {
        const OfficeWatchdog::Guard guard(*m_watchdog, kQuitTimeout);
        if (m_desktop.is() && m_process->Running()) m_desktop->terminate();
    } catch (const lang::DisposedException&) {
        // The bridge goes away while the office ends: that is success.
    } catch (...) {
    }
    m_desktop.clear();
    if (!m_process->WaitForExit(kQuitTimeout)) m_process->Kill();
    // The watchdog must not outlive the process whose group id it would signal.
    m_watchdog.reset();
    m_process.reset();
}

template <typename F>
auto UnoDocument::Call(const std::string& what, F&& call) -> decltype(call()) {
    if (!m_document.is())
        throw AutomationError("\"" + FileName(m_path) + "\" is no longer open in LibreOffice.");
    try {
        const auto guard = m_office.Guard();
        return call();
    } catch (const AutomationError&) {
        throw;
    } catch (const uno::Exception&) {
        throw AutomationError(m_office.Describe(what, CaughtTypeName()));
    }
}

uno::Reference<sheet::XSpreadsheets2> UnoDocument::Sheets() {
    return uno::Reference<sheet::XSpreadsheets2>(m_document->getSheets(), uno::UNO_QUERY_THROW);
}

uno::Reference<sheet::XSpreadsheet> UnoDocument::SheetAt(int index) {
    uno::Reference<container::XIndexAccess> sheets(m_document->getSheets(), uno::UNO_QUERY_THROW);
    return uno::Reference<sheet::XSpreadsheet>(sheets->getByIndex(index), uno::UNO_QUERY_THROW);
}

std::string UnoDocument::NameAt(int index) {
    return ToUtf8(uno::Reference<container::XNamed>(SheetAt(index), uno::UNO_QUERY_THROW)->getName());
}

std::vector<std::string> UnoDocument::sheetNames() {
    return Call("list the sheets of \"" + FileName(m_path) + "\"", [&] {
        uno::Reference<container::XIndexAccess> sheets(m_document->getSheets(), uno::UNO_QUERY_THROW);
        std::vector<std::string> names;
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) names.push_back(NameAt(i));
        return names;
    });
}

std::vector<bool> UnoDocument::sheetsVisible() {
    return Call("read which sheets of \"" + FileName(m_path) + "\" are hidden", [&] {
        uno::Reference<container::XIndexAccess> sheets(m_document->getSheets(), uno::UNO_QUERY_THROW);
        std::vector<bool> visible;
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            bool shown = true;
            uno::Reference<beans::XPropertySet>(SheetAt(i), uno::UNO_QUERY_THROW)
                ->getPropertyValue("IsVisible") >>= shown;
            visible.push_back(shown);
        }
        return visible;
    });
}

void UnoDocument::setSheetVisible(int index, bool visible) {
    Call(std::string(visible ? "show" : "hide") + " a sheet of \"" + FileName(m_path) + "\"", [&] {
        uno::Reference<beans::XPropertySet>(SheetAt(index), uno::UNO_QUERY_THROW)
            ->setPropertyValue("IsVisible", uno::Any(visible));
    });
}

void UnoDocument::renameSheet(int index, const std::string& name) {
    Call("rename a sheet of \"" + FileName(m_path) + "\" to \"" + name + "\"", [&] {
        uno::Reference<container::XNamed> named(SheetAt(index), uno::UNO_QUERY_THROW);
        named->setName(FromUtf8(name));
        // setName ignores a name it does not like without a word: read it back.
        if (ToUtf8(named->getName()) != name) {
            throw AutomationError("LibreOffice did not accept \"" + name + "\" as a sheet name of \"" +
                                  FileName(m_path) + "\". Choose another name.");
        }
    });
}

void UnoDocument::moveSheet(int index, int destination) {
    Call("move a sheet of \"" + FileName(m_path) + "\"", [&] {
        // A negative destination crashes the office; the callers never pass one, but make sure.
        if (destination < 0) throw AutomationError("A sheet cannot be moved before the first position.");
        Sheets()->moveByName(FromUtf8(NameAt(index)), static_cast<sal_Int16>(destination));
    });
}

void UnoDocument::removeSheet(int index) {
    Call("delete a sheet of \"" + FileName(m_path) + "\"",
         [&] { Sheets()->removeByName(FromUtf8(NameAt(index))); });
}

int UnoDocument::importSheet(OfficeDocument& source, int sourceIndex, int destination) {
    auto& from = dynamic_cast<UnoDocument&>(source);
    return Call("copy a sheet into \"" + FileName(m_path) + "\"", [&] {
        const OUString name = FromUtf8(from.NameAt(sourceIndex));
        return static_cast<int>(Sheets()->importSheet(from.m_document, name, destination));
    });
}

int UnoDocument::copySheet(int index, const std::string& name, int destination) {
    return Call("copy a sheet within \"" + FileName(m_path) + "\"", [&] {
        Sheets()->copyByName(FromUtf8(NameAt(index)), FromUtf8(name), static_cast<sal_Int16>(destination));
        // copyByName does not say where the copy went; find it by its name.
        const auto names = sheetNames();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) return static_cast<int>(i);
        }
        throw AutomationError("LibreOffice did not copy the sheet within \"" + FileName(m_path) +
                              "\". Try again.");
    });
}

std::map<std::string, std::string> UnoDocument::workbookNames() {
    return Call("read the names of \"" + FileName(m_path) + "\"",
                [&] { return uno_checks::WorkbookNames(m_document); });
}

std::vector<std::string> UnoDocument::mendCopiedNames(OfficeDocument& source, int sourceIndex, int index,
                                                      const std::map<std::string, std::string>& namesBefore) {
    auto& from = dynamic_cast<UnoDocument&>(source);
    return Call("keep the names of a copied sheet in \"" + FileName(m_path) + "\"", [&] {
        return uno_checks::MendNames(m_document, index, from.m_document, sourceIndex, namesBefore).unmended;
    });
}

std::vector<std::pair<std::string, std::string>> UnoDocument::keepValuesOfLostReferences(OfficeDocument& source,
                                                                                        int sourceIndex,
                                                                                        int index) {
    auto& from = dynamic_cast<UnoDocument&>(source);
    return Call("check the formulas of a copied sheet in \"" + FileName(m_path) + "\"", [&] {
        return uno_checks::KeepValuesOfLostReferences(m_document, index, from.m_document, sourceIndex);
    });
}

std::vector<std::string> UnoDocument::differingCellStyles(OfficeDocument& source, int index) {
    auto& from = dynamic_cast<UnoDocument&>(source);
    return Call("compare the cell styles of a copied sheet in \"" + FileName(m_path) + "\"",
                [&] { return uno_checks::DifferingCellStyles(m_document, index, from.m_document); });
}

std::string UnoDocument::sheetCode(int index) {
    return Call("read the code of a sheet of \"" + FileName(m_path) + "\"",
                [&] { return uno_checks::SheetCode(m_document, index); });
}

std::vector<std::pair<std::string, std::string>> UnoDocument::externalFormulas(int index) {
    return Call("check the formulas of a sheet of \"" + FileName(m_path) + "\"",
                [&] { return uno_checks::ExternalFormulas(m_document, index); });
}

int UnoDocument::freezeExternalFormulas(int index) {
    return Call("replace formulas by their values in \"" + FileName(m_path) + "\"",
                [&] { return uno_checks::FreezeExternalFormulas(m_document, index); });
}

int UnoDocument::relinkToCopies(OfficeDocument& source, int index,
                                const std::vector<std::pair<std::string, std::string>>& copies) {
    auto& from = dynamic_cast<UnoDocument&>(source);
    return Call("point the copied sheets of \"" + FileName(m_path) + "\" at each other",
                [&] { return uno_checks::RelinkToCopies(m_document, index, from.m_document, copies); });
}

void UnoDocument::store() {
    Call("save \"" + FileName(m_path) + "\"", [&] {
        KeepHiddenSheetsHidden();
        uno::Reference<frame::XStorable>(m_component, uno::UNO_QUERY_THROW)->store();
    });
}

void UnoDocument::KeepOneSheet() {
    Call("make the new workbook \"" + FileName(m_path) + "\"", [&] {
        uno::Reference<container::XIndexAccess> sheets(m_document->getSheets(), uno::UNO_QUERY_THROW);
        // The office's settings decide how many sheets a new document has; the caller counts on one.
        if (sheets->getCount() == 0) Sheets()->insertNewByName("Sheet1", 0);
        while (sheets->getCount() > 1) Sheets()->removeByName(FromUtf8(NameAt(sheets->getCount() - 1)));
    });
}

bool UnoDocument::storeTo(const std::string& path) {
    OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(FromUtf8(path), url) != osl::FileBase::E_None)
        throw AutomationError("\"" + FileName(m_path) + "\" cannot be saved: no temporary file can be named for it.");
    return Call("save \"" + FileName(m_path) + "\"", [&] {
        // The format it was loaded in, as store() would write it; a new document's was chosen when it was made.
        OUString filter = FromUtf8(m_filter);
        uno::Reference<frame::XModel> model(m_component, uno::UNO_QUERY_THROW);
        for (const auto& argument : model->getArgs()) {
            if (argument.Name == "FilterName" && m_filter.empty()) argument.Value >>= filter;
        }
        // Its export filter refuses any file but the one the workbook came from.
        if (filter == "MS Excel 95") return false;
        KeepHiddenSheetsHidden();
        const beans::PropertyValue settings[] = {Property("FilterName", uno::Any(filter)),
                                                 Property("Overwrite", uno::Any(true))};
        uno::Reference<frame::XStorable>(m_component, uno::UNO_QUERY_THROW)
            ->storeToURL(url, uno::Sequence<beans::PropertyValue>(settings, 2));
        return true;
    });
}

void UnoDocument::KeepHiddenSheetsHidden() {
    // The Excel export shows the active sheet whatever its state; after a move the active position may hold a
    // hidden sheet, which the saved file would then show. Make a visible sheet active first.
    uno::Reference<frame::XModel> model(m_component, uno::UNO_QUERY);
    if (!model.is()) return;
    uno::Reference<sheet::XSpreadsheetView> view(model->getCurrentController(), uno::UNO_QUERY);
    if (!view.is()) return;
    auto visible = [](const uno::Reference<sheet::XSpreadsheet>& sheet) {
        bool shown = true;
        uno::Reference<beans::XPropertySet>(sheet, uno::UNO_QUERY_THROW)->getPropertyValue("IsVisible") >>=
            shown;
        return shown;
    };
    uno::Reference<container::XIndexAccess> sheets(m_document->getSheets(), uno::UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
        if (visible(SheetAt(i))) {
            view->setActiveSheet(SheetAt(i));
            return;
        }
    }
}

void UnoDocument::close() noexcept {
    if (!m_component.is()) return;
    try {
        uno::Reference<util::XCloseable> closeable(m_component, uno::UNO_QUERY);
        if (closeable.is()) {
            closeable->close(true);
        } else {
            m_component->dispose();
        }
    } catch (...) {
        // A document that will not close goes with the office when it quits.
    }
    m_component.clear();
    m_document.clear();
}

}  // namespace

bool OfficeBridgeAvailable(std::string* why) {
    if (::access(ORVANDEL_SOFFICE, X_OK) == 0) return true;
    if (why) {
        *why = "LibreOffice is not installed (\"" ORVANDEL_SOFFICE
               "\" is missing): install LibreOffice Calc "
               "(package libreoffice-calc-nogui).";
    }
    return false;
}

std::unique_ptr<Office> StartOffice() { return std::make_unique<UnoOffice>(); }

}  // namespace orv::libreoffice
