// The in-memory backend: workbooks as vectors of sheets, with failures injected at chosen calls.
#include "MemoryBackend.h"

#include <algorithm>

#include "engine/workbook/SheetNames.h"

namespace orv::testing {

using automation::AutomationError;

void MemoryStore::Check(const std::string& operation, const std::string& detail) {
    calls.push_back(detail.empty() ? operation : operation + ":" + detail);
    const int count = ++m_counts[operation];
    const auto planned = failOn.find(operation);
    if (planned != failOn.end() && (planned->second == 0 || planned->second == count)) {
        throw AutomationError("Injected failure of " + operation + ".");
    }
}

std::vector<std::string> MemoryStore::names(const std::string& path) const {
    std::vector<std::string> result;
    for (const auto& sheet : files.at(path)) result.push_back(sheet.name);
    return result;
}

namespace {

class MemoryWorkbook;
class MemorySession;

struct SheetState {
    MemorySheet data;
};

class MemorySheetHandle : public automation::Sheet {
  public:
    MemorySheetHandle(std::weak_ptr<MemoryWorkbook> book, std::shared_ptr<SheetState> state)
        : m_book(std::move(book)), m_state(std::move(state)) {}

    std::string name() const override;
    void setName(const std::string& name) override;
    automation::SheetKind kind() const override { return Live().data.kind; }
    automation::SheetVisibility visibility() const override { return Live().data.visibility; }
    std::shared_ptr<automation::Sheet> Copy(automation::After after) override;
    void Move(automation::Before before) override { MoveTo(before.sheet, 0); }
    void Move(automation::After after) override { MoveTo(after.sheet, 1); }
    void Delete() override;

    std::shared_ptr<MemoryWorkbook> Book() const;
    const std::shared_ptr<SheetState>& state() const { return m_state; }

  private:
    SheetState& Live() const;
    void MoveTo(automation::Sheet& other, int offset);

    std::weak_ptr<MemoryWorkbook> m_book;
    std::shared_ptr<SheetState> m_state;
};

class MemoryWorkbook : public automation::Workbook, public std::enable_shared_from_this<MemoryWorkbook> {
  public:
    MemoryWorkbook(std::shared_ptr<MemoryStore> store, MemorySession* session, std::string path)
        : store(std::move(store)), session(session), path(std::move(path)) {
        for (const auto& sheet : this->store->files.at(this->path)) {
            sheets.push_back(std::make_shared<SheetState>(SheetState{sheet}));
        }
    }

    std::string fullName() const override { return path; }
    void Save() override {
        ThrowIfClosed();
        store->Check("Save", path);
        auto& file = store->files[path];
        file.clear();
        for (const auto& s : sheets) file.push_back(s->data);
    }
    void Close() override {
        store->Check("Close", path);
        closed = true;
    }
    int sheetCount() const override {
        ThrowIfClosed();
        return static_cast<int>(sheets.size());
    }
    std::shared_ptr<automation::Sheet> sheetAt(int position) override {
        ThrowIfClosed();
        if (position < 1 || position > sheetCount()) {
            throw AutomationError("Subscript out of range: no sheet " + std::to_string(position) + ".");
        }
        return std::make_shared<MemorySheetHandle>(weak_from_this(),
                                                   sheets[static_cast<std::size_t>(position - 1)]);
    }
    int indexOf(const std::shared_ptr<SheetState>& state) const {
        const auto it = std::find(sheets.begin(), sheets.end(), state);
        if (it == sheets.end()) throw AutomationError("The sheet no longer exists.");
        return static_cast<int>(it - sheets.begin());
    }
    void ThrowIfClosed() const {
        if (closed) throw AutomationError("The workbook has been closed.");
    }

    std::shared_ptr<MemoryStore> store;
    MemorySession* session;
    std::string path;
    std::vector<std::shared_ptr<SheetState>> sheets;
    bool closed = false;
};

class MemorySession : public automation::BackendSession {
  public:
    explicit MemorySession(std::shared_ptr<MemoryStore> store) : m_store(std::move(store)) {
        ++m_store->sessionsStarted;
    }
    ~MemorySession() override {
        if (!m_ended) ++m_store->sessionsEnded;
    }
    std::shared_ptr<automation::Workbook> Open(const std::string& path) override {
        m_store->Check("Open", path);
        if (!m_store->files.count(path)) throw AutomationError("\"" + path + "\" is not a workbook.");
        auto book = std::make_shared<MemoryWorkbook>(m_store, this, path);
        m_books.push_back(book);
        return book;
    }
    void Quit() override {
        m_store->Check("Quit");
        m_ended = true;
        ++m_store->sessionsEnded;
        for (auto& book : m_books) book->closed = true;
    }

  private:
    std::shared_ptr<MemoryStore> m_store;
    std::vector<std::shared_ptr<MemoryWorkbook>> m_books;
    bool m_ended = false;
};

std::shared_ptr<MemoryWorkbook> MemorySheetHandle::Book() const {
    auto book = m_book.lock();
    if (!book || book->closed) throw AutomationError("The sheet's workbook is no longer open.");
    return book;
}

SheetState& MemorySheetHandle::Live() const {
    Book()->indexOf(m_state);
    return *m_state;
}

std::string MemorySheetHandle::name() const { return Live().data.name; }

void MemorySheetHandle::setName(const std::string& name) {
    auto book = Book();
    book->store->Check("setName", name);
    std::vector<std::string> names;
    for (const auto& s : book->sheets) names.push_back(s->data.name);
    if (auto problem = engine::SheetRenameProblem(name, names, book->indexOf(m_state)))
        throw AutomationError(*problem);
    m_state->data.name = name;
}

std::shared_ptr<automation::Sheet> MemorySheetHandle::Copy(automation::After after) {
    auto book = Book();
    book->store->Check("Copy", m_state->data.name);
    auto* anchor = dynamic_cast<MemorySheetHandle*>(&after.sheet);
    if (!anchor || anchor->Book()->session != book->session) {
        throw AutomationError("The sheet can only be copied into a workbook open in the same instance.");
    }
    auto target = anchor->Book();
    auto copy = std::make_shared<SheetState>(*m_state);
    std::vector<std::string> names;
    for (const auto& s : target->sheets) names.push_back(s->data.name);
    std::string name = copy->data.name;
    for (int n = 2; engine::SheetRenameProblem(name, names, -1); ++n)
        name = copy->data.name + " (" + std::to_string(n) + ")";
    copy->data.name = name;
    target->sheets.insert(target->sheets.begin() + target->indexOf(anchor->state()) + 1, copy);
    if (!book->store->copyNotice.empty()) throw AutomationError(book->store->copyNotice);
    return std::make_shared<MemorySheetHandle>(target, copy);
}

void MemorySheetHandle::MoveTo(automation::Sheet& other, int offset) {
    auto book = Book();
    book->store->Check("Move", m_state->data.name);
    auto* anchor = dynamic_cast<MemorySheetHandle*>(&other);
    if (!anchor || anchor->Book() != book)
        throw AutomationError("A sheet can only move within its workbook.");
    auto& sheets = book->sheets;
    sheets.erase(sheets.begin() + book->indexOf(m_state));
    sheets.insert(sheets.begin() + book->indexOf(anchor->state()) + offset, m_state);
}

void MemorySheetHandle::Delete() {
    auto book = Book();
    book->store->Check("Delete", m_state->data.name);
    const int visible =
        static_cast<int>(std::count_if(book->sheets.begin(), book->sheets.end(), [](const auto& s) {
            return s->data.visibility == automation::SheetVisibility::Visible;
        }));
    if (visible == 1 && m_state->data.visibility == automation::SheetVisibility::Visible) {
        throw AutomationError("A workbook must keep at least one visible sheet.");
    }
    book->sheets.erase(book->sheets.begin() + book->indexOf(m_state));
}

class MemoryBackend : public automation::Backend {
  public:
    MemoryBackend(std::shared_ptr<MemoryStore> store, std::vector<automation::FileFormat> formats)
        : m_store(std::move(store)), m_formats(std::move(formats)) {}
    std::string name() const override { return "the memory backend"; }
    bool serves(automation::FileFormat format) const override {
        if (m_formats.empty()) return automation::IsOoxml(format);
        return std::find(m_formats.begin(), m_formats.end(), format) != m_formats.end();
    }
    bool isAvailable(std::string*) const override { return true; }
    std::unique_ptr<automation::BackendSession> Start() override {
        return std::make_unique<MemorySession>(m_store);
    }

  private:
    std::shared_ptr<MemoryStore> m_store;
    std::vector<automation::FileFormat> m_formats;
};

}  // namespace

std::shared_ptr<automation::Backend> MakeMemoryBackend(std::shared_ptr<MemoryStore> store,
                                                       std::vector<automation::FileFormat> formats) {
    return std::make_shared<MemoryBackend>(std::move(store), std::move(formats));
}

}  // namespace orv::testing
