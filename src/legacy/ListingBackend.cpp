// Workbooks as their files list them, with every change refused in the same words.
#include "legacy/ListingBackend.h"

#include "legacy/SheetListing.h"

namespace orv::legacy {

namespace {

using automation::AutomationError;
using automation::FileFormat;

const char* const kNotInThisBuild =
    "Orvandel changes .xlsx, .xlsm, .xltx and .xltm workbooks with its own engine, and .xls and .ods workbooks "
    "through the spreadsheet application, which is not installed on this computer: they can be listed but not "
    "changed. Nothing was changed. Save the workbook as an .xlsx workbook (any spreadsheet program can), or "
    "install the spreadsheet application, then try again.";

[[noreturn]] void Refuse() { throw AutomationError(kNotInThisBuild); }

class ListedWorkbook;

class Listed : public automation::Sheet {
  public:
    Listed(std::shared_ptr<ListedWorkbook> workbook, ListedSheet sheet)
        : m_workbook(std::move(workbook)), m_sheet(std::move(sheet)) {}

    std::string name() const override { return m_sheet.name; }
    void setName(const std::string&) override { Refuse(); }
    automation::SheetKind kind() const override { return m_sheet.kind; }
    automation::SheetVisibility visibility() const override { return m_sheet.visibility; }
    bool isPlaceholder() const override { return m_sheet.placeholder; }
    std::shared_ptr<Sheet> Copy(automation::After) override { Refuse(); }
    void Move(automation::Before) override { Refuse(); }
    void Move(automation::After) override { Refuse(); }
    void Delete() override { Refuse(); }

  private:
    std::shared_ptr<ListedWorkbook> m_workbook;  // a sheet keeps its workbook, as the object model's do
    ListedSheet m_sheet;
};

class ListedWorkbook : public automation::Workbook, public std::enable_shared_from_this<ListedWorkbook> {
  public:
    ListedWorkbook(std::string path, std::vector<ListedSheet> sheets)
        : m_path(std::move(path)), m_sheets(std::move(sheets)) {}

    std::string fullName() const override { return m_path; }
    std::vector<std::shared_ptr<automation::Sheet>> CopySheets(
        const std::vector<std::shared_ptr<automation::Sheet>>&, automation::After,
        const std::vector<std::string>&, const automation::CopyOptions&) override {
        Refuse();
    }
    // Nothing can have changed, so there is nothing to write.
    void Save() override {}
    void Close() override {}
    int sheetCount() const override { return static_cast<int>(m_sheets.size()); }
    std::shared_ptr<automation::Sheet> sheetAt(int position) override {
        if (position < 1 || position > sheetCount())
            throw AutomationError("There is no sheet " + std::to_string(position) + " in this workbook.");
        return std::make_shared<Listed>(shared_from_this(), m_sheets[static_cast<std::size_t>(position - 1)]);
    }

  private:
    std::string m_path;
    std::vector<ListedSheet> m_sheets;
};

class ListingSession : public automation::BackendSession {
  public:
    std::shared_ptr<automation::Workbook> Open(const std::string& path) override {
        auto sheets = ListSheets(path, automation::FormatOfPath(path));
        // A file only the spreadsheet application can read cannot even be listed here.
        if (!sheets) Refuse();
        return std::make_shared<ListedWorkbook>(path, std::move(*sheets));
    }
    void Quit() override {}
};

class ListingBackend : public automation::Backend {
  public:
    std::string name() const override { return "the file listing"; }
    // OOXML too, so that a transfer between an .xls and an .xlsx workbook is refused in the same words.
    bool serves(FileFormat format) const override {
        return format == FileFormat::Xls || format == FileFormat::Ods || automation::IsOoxml(format);
    }
    bool isAvailable(std::string* why) const override {
        if (why) why->clear();
        return true;
    }
    bool listsOnly() const override { return true; }
    std::unique_ptr<automation::BackendSession> Start() override {
        return std::make_unique<ListingSession>();
    }
};

}  // namespace

std::shared_ptr<automation::Backend> MakeListingBackend() { return std::make_shared<ListingBackend>(); }

}  // namespace orv::legacy
