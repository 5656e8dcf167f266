// The Move or Copy dialog: its controls, the name check as the name is typed, and the new book's file.
#include "app/MoveOrCopyDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "automation/FileFormat.h"
#include "errors/Dialogs.h"
#include "errors/Messages.h"
#include "platform/Paths.h"

namespace orv::app {

namespace {

constexpr int kNewBook = -1;  // the combo's data for "(new book)"; a workbook's is its index in the books
constexpr int kAtEnd = 0;  // the list's data for "(move to end)"; a sheet's is its position in the workbook

const char* const kNewBookFilter =
    "Excel Workbook (*.xlsx)|*.xlsx|Excel Macro-Enabled Workbook (*.xlsm)|*.xlsm|Excel Template "
    "(*.xltx)|*.xltx|"
    "Excel Macro-Enabled Template (*.xltm)|*.xltm|Excel 97-2003 Workbook (*.xls)|*.xls|"
    "OpenDocument Spreadsheet (*.ods)|*.ods";

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(platform::PathFromUtf8(path), ec);
}

// "Book1" and on, beside the source and in its format where a new book can have it, as a name not yet taken.
std::string ProposedNewBook(const std::string& sourcePath) {
    std::string extension = platform::PathFromUtf8(sourcePath).extension().string();
    const auto format = automation::FormatOfPath(sourcePath);
    if (format == automation::FileFormat::Unknown || format == automation::FileFormat::Xlsb)
        extension = ".xlsx";
    const auto folder = platform::PathFromUtf8(platform::ParentFolderOf(sourcePath));
    std::string proposed;
    for (int n = 1; proposed.empty() || Exists(proposed); ++n)
        proposed = platform::Utf8FromPath(folder / ("Book" + std::to_string(n) + extension));
    return proposed;
}

// A label that gives `buddy` its accelerator and stands beside it for screen readers.
QLabel* LabelFor(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

MoveOrCopyDialog::MoveOrCopyDialog(errors::Dialogs& dialogs, std::vector<TargetBook> books, int sheetCount,
                                   std::string sourcePath, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs), m_books(std::move(books)), m_sourcePath(std::move(sourcePath)) {
    setObjectName("MoveOrCopyDialog");
    setWindowTitle(QStringLiteral("Move or Copy"));
    setModal(true);

    m_book = new QComboBox(this);
    m_book->setObjectName("ToBook");
    m_book->setAccessibleName(QStringLiteral("To book"));
    for (std::size_t i = 0; i < m_books.size(); ++i) {
        m_book->addItem(QString::fromStdString(platform::FileNameOf(m_books[i].path)), static_cast<int>(i));
        m_book->setItemData(static_cast<int>(i), QString::fromStdString(m_books[i].path), Qt::ToolTipRole);
    }
    m_book->addItem(QStringLiteral("(new book)"), kNewBook);
    m_newBookFile = new QLabel(this);
    m_newBookFile->setObjectName("NewBookFile");
    m_newBookFile->setAccessibleName(QStringLiteral("New book file"));
    m_newBookFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_newBookFile->hide();

    m_before = new QListWidget(this);
    m_before->setObjectName("BeforeSheet");
    m_before->setAccessibleName(QStringLiteral("Before sheet"));
    m_before->setSelectionMode(QAbstractItemView::SingleSelection);

    m_copy = new QCheckBox(QStringLiteral("&Create a copy"), this);
    m_copy->setObjectName("CreateCopy");
    m_copy->setAccessibleName(QStringLiteral("Create a copy"));
    m_valuesOnly = new QCheckBox(QStringLiteral("&Values only"), this);
    m_valuesOnly->setObjectName("ValuesOnly");
    m_valuesOnly->setAccessibleName(QStringLiteral("Values only"));
    m_valuesOnly->setToolTip(QStringLiteral("Formulas give way to the values they last showed."));
    m_referToTarget = new QCheckBox(QStringLiteral("&References to the target's own sheets"), this);
    m_referToTarget->setObjectName("ReferToTarget");
    m_referToTarget->setAccessibleName(QStringLiteral("References to the target's own sheets"));
    m_referToTarget->setToolTip(
        QStringLiteral("A formula that read a sheet left behind reads the target's sheet of that name, where "
                       "there is one, instead of the source workbook."));

    m_name = new QLineEdit(this);
    m_name->setObjectName("NewName");
    m_name->setAccessibleName(QStringLiteral("New name"));
    m_name->setPlaceholderText(QStringLiteral("the sheet's own, or \"Name (2)\" where it is taken"));
    m_nameProblem = new QLabel(this);
    m_nameProblem->setObjectName("NameProblem");
    m_nameProblem->setAccessibleName(QStringLiteral("Name problem"));
    m_nameProblem->setWordWrap(true);
    QPalette warning = m_nameProblem->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x20));
    m_nameProblem->setPalette(warning);
    m_nameProblem->hide();
    // Only one sheet can take a given name; several keep theirs, or are numbered where theirs are taken.
    m_name->setEnabled(sheetCount == 1);

    m_ok = new QPushButton(QStringLiteral("&OK"), this);
    m_ok->setObjectName("OK");
    m_ok->setAccessibleName(QStringLiteral("OK"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("C&ancel"), this);
    m_cancel->setObjectName("Cancel");
    m_cancel->setAccessibleName(QStringLiteral("Cancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelFor(QStringLiteral("&To book:"), m_book, this));
    layout->addWidget(m_book);
    layout->addWidget(m_newBookFile);
    layout->addWidget(LabelFor(QStringLiteral("&Before sheet:"), m_before, this));
    layout->addWidget(m_before);
    layout->addWidget(m_copy);
    // The copy's options stand under the box that makes it a copy, as they only mean something for one.
    auto* options = new QVBoxLayout;
    options->setContentsMargins(20, 0, 0, 0);
    options->addWidget(m_valuesOnly);
    options->addWidget(m_referToTarget);
    layout->addLayout(options);
    layout->addWidget(LabelFor(QStringLiteral("&New name:"), m_name, this));
    layout->addWidget(m_name);
    layout->addWidget(m_nameProblem);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    const QList<QWidget*> order{m_book,          m_before, m_copy, m_valuesOnly,
                                m_referToTarget, m_name,   m_ok,   m_cancel};
    for (int i = 0; i + 1 < order.size(); ++i) QWidget::setTabOrder(order[i], order[i + 1]);

    connect(m_copy, &QCheckBox::toggled, this, [this] { showOptions(); });
    connect(m_book, &QComboBox::activated, this, &MoveOrCopyDialog::bookActivated);
    connect(m_book, &QComboBox::currentIndexChanged, this, [this] { showTarget(); });
    connect(m_name, &QLineEdit::textChanged, this, [this] { checkName(); });
    connect(m_ok, &QPushButton::clicked, this, &MoveOrCopyDialog::confirm);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_lastBook = m_books.empty() ? -1 : 0;
    showTarget();
    m_book->setFocus();
}

bool MoveOrCopyDialog::newBookChosen() const { return m_book->currentData().toInt() == kNewBook; }

bool MoveOrCopyDialog::ownBookChosen() const {
    return !newBookChosen() &&
           transfers::SameFile(m_books[static_cast<std::size_t>(m_book->currentData().toInt())].path, m_sourcePath);
}

// The options only mean something for a copy; inside its own workbook every sheet is the target's.
void MoveOrCopyDialog::showOptions() {
    const bool copy = m_copy->isChecked();
    m_valuesOnly->setEnabled(copy);
    m_referToTarget->setEnabled(copy && !ownBookChosen());
}

bool MoveOrCopyDialog::chooseNewBook() {
    errors::SaveFileRequest request;
    request.fileName = m_newBookPath.empty() ? ProposedNewBook(m_sourcePath) : m_newBookPath;
    request.title = "New Book";
    request.filter = kNewBookFilter;
    const std::string path = m_dialogs.saveFile(request);
    if (path.empty()) return false;
    const std::string file = "\"" + platform::FileNameOf(path) + "\"";
    std::string refusal;
    if (Exists(path)) {
        refusal = file +
                  " exists already, and a new book never takes the place of a file. Choose another name, or "
                  "name that workbook in the other panel to copy into it.";
    } else if (automation::FormatOfPath(path) == automation::FileFormat::Unknown ||
               automation::FormatOfPath(path) == automation::FileFormat::Xlsb) {
        refusal = file +
                  " cannot be created: its extension names no workbook format this program writes (.xlsx, "
                  ".xlsm, .xltx, .xltm, .xls or .ods).";
    }
    if (!refusal.empty()) {
        m_dialogs.messageBox(refusal, errors::ApplicationTitle(), errors::Buttons::Ok, errors::Icon::Warning);
        return false;
    }
    m_newBookPath = path;
    m_newBookFile->setText(QStringLiteral("New file: ") + QString::fromStdString(platform::FileNameOf(path)));
    m_newBookFile->setToolTip(QString::fromStdString(path));
    showTarget();
    return true;
}

void MoveOrCopyDialog::bookActivated(int index) {
    if (m_book->itemData(index).toInt() != kNewBook) {
        m_lastBook = index;
        return;
    }
    // Without a file the new book cannot stand: the choice goes back to the workbook chosen before, if any.
    if (!chooseNewBook() && m_newBookPath.empty() && m_lastBook >= 0) m_book->setCurrentIndex(m_lastBook);
}

void MoveOrCopyDialog::showTarget() {
    const bool newBook = newBookChosen();
    m_newBookFile->setVisible(newBook && !m_newBookPath.empty());
    m_before->clear();
    if (!newBook) {
        const BookSheets& sheets = m_books[static_cast<std::size_t>(m_book->currentData().toInt())].sheets;
        for (const int position : sheets.listed) {
            auto* item = new QListWidgetItem(
                QString::fromStdString(sheets.names[static_cast<std::size_t>(position - 1)]), m_before);
            item->setData(Qt::UserRole, position);
        }
    }
    auto* end = new QListWidgetItem(QStringLiteral("(move to end)"), m_before);
    end->setData(Qt::UserRole, kAtEnd);
    m_before->setCurrentItem(end);
    showOptions();
    checkName();
}

void MoveOrCopyDialog::checkName() {
    const std::string name = m_name->isEnabled() ? m_name->text().toStdString() : std::string();
    std::optional<std::string> problem;
    if (!name.empty()) {
        // A new book's own sheet gives way to the copies, so no name of it stands in theirs.
        static const std::vector<std::string> kNone;
        problem = transfers::NewNameProblem(
            name, newBookChosen()
                      ? kNone
                      : m_books[static_cast<std::size_t>(m_book->currentData().toInt())].sheets.names);
    }
    m_nameProblem->setText(problem ? QString::fromStdString(*problem) : QString());
    m_nameProblem->setVisible(problem.has_value());
    m_ok->setEnabled(!problem);
}

void MoveOrCopyDialog::confirm() {
    if (!m_ok->isEnabled()) return;
    if (newBookChosen() && m_newBookPath.empty() && !chooseNewBook()) return;
    accept();
}

MoveOrCopyChoice MoveOrCopyDialog::choice() const {
    MoveOrCopyChoice choice;
    const bool copy = m_copy->isChecked();
    choice.kind = copy ? transfers::SheetTransfer::Kind::Copy : transfers::SheetTransfer::Kind::Move;
    choice.newBook = newBookChosen();
    choice.target = choice.newBook ? m_newBookPath
                                   : m_books[static_cast<std::size_t>(m_book->currentData().toInt())].path;
    const int before = m_before->currentItem() ? m_before->currentItem()->data(Qt::UserRole).toInt() : kAtEnd;
    if (before != kAtEnd) choice.position = {transfers::Position::Kind::Before, "#" + std::to_string(before)};
    if (m_name->isEnabled()) choice.newName = m_name->text().toStdString();
    if (copy) choice.options = {m_valuesOnly->isChecked(), m_referToTarget->isEnabled() && m_referToTarget->isChecked()};
    return choice;
}

}  // namespace orv::app
