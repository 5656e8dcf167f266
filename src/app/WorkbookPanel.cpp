// The workbook panel and the listing of a workbook's worksheets.
#include "app/WorkbookPanel.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "automation/Application.h"
#include "errors/Dialogs.h"
#include "errors/Messages.h"
#include "operations/IsExistingFile.h"
#include "platform/Paths.h"

namespace orv::app {

WorkbookPanel::WorkbookPanel(const PanelLayout& layout, errors::Dialogs& dialogs,
                             std::shared_ptr<const automation::BackendRegistry> backends, QWidget* parent)
    : QGroupBox(QString::fromUtf8(layout.frame.caption), parent),
      m_number(layout.number),
      m_dialogs(dialogs),
      m_backends(std::move(backends)) {
    setObjectName(layout.frame.name);
    setGeometry(layout.frame.geometry);

    m_label = new QLabel(QString::fromUtf8(layout.label.caption), this);
    m_label->setObjectName(layout.label.name);
    m_label->setGeometry(layout.label.geometry);

    m_pathBox = new QLineEdit(this);
    m_pathBox->setObjectName(layout.pathBox.name);
    m_pathBox->setGeometry(layout.pathBox.geometry);
    // Every change of the box's text lists the workbook, whoever made it.
    connect(m_pathBox, &QLineEdit::textChanged, this, [this] { ListWorkbookSheets(); });
    // Enter lists the workbook again, as writing the same path does: the file may have changed.
    connect(m_pathBox, &QLineEdit::returnPressed, this, [this] { ListWorkbookSheets(); });
    // A file dropped anywhere on the panel, the path box included, becomes the panel's path.
    m_pathBox->setAcceptDrops(false);
    setAcceptDrops(true);

    m_browse = makeButton(layout.browse);

    m_list = new SheetListView(layout.number, this);
    m_list->setObjectName(layout.list.name);
    m_list->setGeometry(layout.list.geometry);

    m_moveUp = makeButton(layout.moveUp);
    m_moveDown = makeButton(layout.moveDown);
    m_delete = makeButton(layout.deleteSheet);
    m_copy = makeButton(layout.copy);
    m_rename = makeButton(layout.rename);
    m_move = makeButton(layout.move);
}

namespace {

// The local file a drag carries, when it carries exactly one.
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void WorkbookPanel::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void WorkbookPanel::dropEvent(QDropEvent* event) {
    const QString file = DroppedFile(event->mimeData());
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    setPath(QDir::toNativeSeparators(file).toStdString());
}

PictureButton* WorkbookPanel::makeButton(const ControlSpec& spec) {
    auto* button = new PictureButton(QString::fromUtf8(spec.caption), this);
    button->setObjectName(spec.name);
    button->setGeometry(spec.geometry);
    return button;
}

std::string WorkbookPanel::path() const { return m_pathBox->text().toStdString(); }

void WorkbookPanel::setPath(const std::string& path) {
    const QString text = QString::fromStdString(path);
    if (m_pathBox->text() == text) {
        // The box would not change, but the file may have: list it again all the same.
        ListWorkbookSheets();
        return;
    }
    m_pathBox->setText(text);
}

void WorkbookPanel::ListWorkbookSheets() {
    // 1
    if (!operations::IsExistingFile(path())) return;
    // 2
    m_list->clear();
    try {
        // 3
        auto application = automation::OpenWorkbookInstance(m_backends, path());
        // 4
        auto& workbooks = application->Workbooks();
        auto workbook = workbooks(workbooks.count());
        // 5, 6
        auto worksheets = workbook->Worksheets();
        const int n = worksheets.count();
        for (int i = 1; i <= n; ++i) m_list->insert(m_list->count() + 1, worksheets(i)->name());
        // 7
        application->Quit();
    } catch (const std::exception& e) {
        // 9: leaving the block released the instance, which ends it if it was not told to quit.
        m_list->clear();
        ReportListingFailure(e.what());
        return;
    }
    // 8
    if (m_list->count() >= 1) m_list->select(1);
    if (m_prepareInstances) {
        if (auto backend = m_backends->BackendFor(automation::FormatOfPath(path()))) backend->Prepare();
    }
}

void WorkbookPanel::ReportListingFailure(const std::string& description) {
    const std::string file = platform::FileNameOf(path());
    m_dialogs.messageBox(
        "The worksheets of Excel File #" + std::to_string(m_number) + " (\"" + file +
            "\") could not be listed.\r\n\r\n" + description +
            "\r\n\r\nChoose a workbook that opens in a spreadsheet application, then try again.",
        errors::ApplicationTitle(), errors::Buttons::Ok, errors::Icon::None);
}

}  // namespace orv::app
