// The main window's layout, start-up procedure and hover pointer.
#include "app/Form1.h"

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>

#include "app/FileSelection.h"
#include "app/StartUp.h"
#include "automation/Application.h"
#include "automation/RunningSpreadsheet.h"
#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/IsExistingFile.h"
#include "operations/SpreadsheetChecks.h"
#include "platform/Paths.h"

namespace orv::app {

namespace {

constexpr int kClientWidth = 616;
constexpr int kClientHeight = 523;
constexpr int kListColumnWidth = 170;  // 2550 twips
const char* const kListHeader = " Select Excel Sheet:";

const PanelLayout kPanel1{1,
                          {"Frame1", "Excel File #1", {8, 40, 297, 475}},
                          {"Label2", " Browse To Excel File:", {16, 24, 217, 17}},
                          {"Text1", "", {16, 40, 225, 23}},
                          {"PushButton3", "...", {248, 40, 33, 23}},
                          {"ListView1", "", {16, 88, 200, 171}},
                          {"PushButton11", "Move Up", {224, 88, 57, 80}},
                          {"PushButton14", "Move Down", {224, 178, 57, 80}},
                          {"PushButton7", "Delete", {16, 268, 129, 91}},
                          {"PushButton1", "Copy To #2 >", {152, 268, 129, 91}},
                          {"PushButton9", "Rename", {16, 366, 129, 91}},
                          {"PushButton2", "Move To #2 >", {152, 366, 129, 91}}};

const PanelLayout kPanel2{2,
                          {"Frame2", "Excel File #2", {311, 40, 297, 475}},
                          {"Label3", " Browse To Excel File:", {16, 24, 217, 17}},
                          {"Text2", "", {16, 40, 225, 23}},
                          {"PushButton6", "...", {248, 40, 33, 23}},
                          {"ListView2", "", {16, 86, 200, 173}},
                          {"PushButton12", "Move Up", {224, 86, 57, 80}},
                          {"PushButton13", "Move Down", {224, 178, 57, 80}},
                          {"PushButton8", "Delete", {152, 268, 129, 91}},
                          {"PushButton5", "< Copy To #1", {16, 268, 129, 91}},
                          {"PushButton10", "Rename", {152, 366, 129, 91}},
                          {"PushButton4", "< Move To #1", {16, 366, 129, 91}}};

// Arial where the machine has it; where it has not (Wine, many Linux machines), a sans-serif face of the
// same widths before any other: a serif fallback is wider and taller.
QFont SansSerif(double points) {
    QFont font;
    font.setFamilies({"Arial", "Liberation Sans", "Helvetica", "DejaVu Sans", "Tahoma", "Segoe UI"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QFont WindowFont() { return SansSerif(9); }

QFont ButtonFont() { return SansSerif(11.25); }

}  // namespace

void Form1::EndPreparedInstances() noexcept { m_services.backends->EndPrepared(); }

Form1::Form1(Form1Services services, QWidget* parent) : QWidget(parent), m_services(std::move(services)) {
    setObjectName("Form1");
    setFixedSize(kClientWidth, kClientHeight);
    setFont(WindowFont());
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* sample = new PictureButton("Load Sample/Example Data", this);
    sample->setObjectName("PushButton15");
    sample->setGeometry(8, 8, 296, 27);
    auto* clear = new PictureButton("Clear Files", this);
    clear->setObjectName("PushButton16");
    clear->setGeometry(312, 8, 296, 27);

    m_panel1 = new WorkbookPanel(kPanel1, m_services.dialogs, m_services.backends, this);
    m_panel2 = new WorkbookPanel(kPanel2, m_services.dialogs, m_services.backends, this);
    m_panel1->setPrepareInstances(m_services.prepareInstances);
    m_panel2->setPrepareInstances(m_services.prepareInstances);

    for (auto* child : findChildren<PictureButton*>()) {
        const QString name = child->objectName();
        if (name.startsWith("PushButton")) m_buttons[static_cast<std::size_t>(name.mid(10).toInt())] = child;
        child->setFont(ButtonFont());
    }
    for (auto* panel : {m_panel1, m_panel2}) {
        panel->sheetList()->setFont(WindowFont());
        panel->setAutoFillBackground(true);
        panel->label()->setAutoFillBackground(true);
    }
    buildButtonPictures();
    connectButtons();
    connectSheetMenus();
    connectUndo();
    setTabOrder();

    setMouseTracking(true);
    for (int n = 1; n <= 16; ++n) watchForHover(button(n), Pointer::Hand);
    for (auto* panel : {m_panel1, m_panel2}) {
        watchForHover(panel, Pointer::Default);
        watchForHover(panel->label(), Pointer::Default);
        watchForHover(panel->pathBox(), Pointer::Default);
        watchForHover(panel->sheetList(), Pointer::Default);
        watchForHover(panel->sheetList()->viewport(), Pointer::Default);
        watchForHover(panel->sheetList()->header(), Pointer::Default);
    }
}

PictureButton* Form1::button(int number) const {
    return number >= 1 && number <= 16 ? m_buttons[static_cast<std::size_t>(number)] : nullptr;
}

void Form1::buildButtonPictures() {
    const auto icon = [this](QStyle::StandardPixmap which) { return style()->standardIcon(which); };
    for (auto* panel : {m_panel1, m_panel2}) {
        const bool left = panel == m_panel1;
        panel->moveUpButton()->setIcon(icon(QStyle::SP_ArrowUp));
        panel->moveDownButton()->setIcon(icon(QStyle::SP_ArrowDown));
        panel->deleteButton()->setIcon(icon(QStyle::SP_TrashIcon));
        panel->copyButton()->setIcon(icon(QStyle::SP_FileDialogNewFolder));
        panel->renameButton()->setIcon(icon(QStyle::SP_FileDialogDetailedView));
        panel->moveButton()->setIcon(icon(left ? QStyle::SP_ArrowRight : QStyle::SP_ArrowLeft));
        for (auto* b :
             {panel->deleteButton(), panel->copyButton(), panel->renameButton(), panel->moveButton()}) {
            b->setIconSize(QSize(32, 32));
        }
        panel->moveUpButton()->setIconSize(QSize(24, 24));
        panel->moveDownButton()->setIconSize(QSize(24, 24));
    }
}

void Form1::connectButtons() {
    using Handler = void (Form1::*)();
    static constexpr std::array<Handler, 17> kHandlers{nullptr,
                                                       &Form1::PushButton1_Click,
                                                       &Form1::PushButton2_Click,
                                                       &Form1::PushButton3_Click,
                                                       &Form1::PushButton4_Click,
                                                       &Form1::PushButton5_Click,
                                                       &Form1::PushButton6_Click,
                                                       &Form1::PushButton7_Click,
                                                       &Form1::PushButton8_Click,
                                                       &Form1::PushButton9_Click,
                                                       &Form1::PushButton10_Click,
                                                       &Form1::PushButton11_Click,
                                                       &Form1::PushButton12_Click,
                                                       &Form1::PushButton13_Click,
                                                       &Form1::PushButton14_Click,
                                                       &Form1::PushButton15_Click,
                                                       &Form1::PushButton16_Click};
    for (int n = 1; n <= 16; ++n) {
        connect(button(n), &QPushButton::clicked, this, kHandlers[static_cast<std::size_t>(n)]);
    }
}

void Form1::setTabOrder() {
    // Across the top, then each panel from its path down to its buttons, row by row.
    QList<QWidget*> order{button(15), button(16)};
    for (auto* panel : {m_panel1, m_panel2}) {
        order << panel->pathBox() << panel->browseButton() << panel->sheetList() << panel->moveUpButton()
              << panel->moveDownButton();
        if (panel == m_panel1) {
            order << panel->deleteButton() << panel->copyButton() << panel->renameButton()
                  << panel->moveButton();
        } else {
            order << panel->copyButton() << panel->deleteButton() << panel->moveButton()
                  << panel->renameButton();
        }
    }
    for (int i = 0; i + 1 < order.size(); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
}

void Form1::watchForHover(QWidget* widget, Pointer pointer) {
    widget->setMouseTracking(true);
    widget->setProperty("orvandelHover", static_cast<int>(pointer));
    widget->installEventFilter(this);
}

namespace {

// A mouse move that a control ignores travels on to its parents; only the innermost control with a hover rule
// of its own decides the pointer.
bool OverWatchedChild(QWidget* widget, QPoint at) {
    for (QWidget* child = widget->childAt(at); child && child != widget; child = child->parentWidget()) {
        if (child->property("orvandelHover").isValid()) return true;
    }
    return false;
}

}  // namespace

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    const QVariant hover = watched->property("orvandelHover");
    if (hover.isValid() && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Enter ||
            (event->type() == QEvent::MouseMove &&
             !OverWatchedChild(widget, static_cast<QMouseEvent*>(event)->position().toPoint()))) {
            Hover(static_cast<Pointer>(hover.toInt()));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    if (!OverWatchedChild(this, event->position().toPoint())) Hover(Pointer::Default);
    QWidget::mouseMoveEvent(event);
}

void Form1::Hover(Pointer pointer) {
    if (m_pointer == Pointer::Hourglass) return;
    setPointer(pointer);
}

void Form1::setPointer(Pointer pointer) {
    m_pointer = pointer;
    switch (pointer) {
        case Pointer::Default:
            setCursor(Qt::ArrowCursor);
            for (auto* panel : {m_panel1, m_panel2}) panel->pathBox()->unsetCursor();
            break;
        case Pointer::Hand:
            setCursor(m_handCursor);
            break;
        case Pointer::Hourglass:
            setCursor(Qt::WaitCursor);
            // The path boxes set their own text cursor; while busy they show the hourglass like the rest.
            for (auto* panel : {m_panel1, m_panel2}) panel->pathBox()->setCursor(Qt::WaitCursor);
            break;
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    // Form_Unload: nothing is asked and nothing is saved.
    event->accept();
}

operations::Environment Form1::environment() {
    return operations::Environment{m_services.dialogs, m_services.backends, m_services.processes, *this};
}

bool Form1::Form_Load() {
    errors::GuardedProcedure p(m_services.dialogs, "Form_Load");
    p.Step(100, [&] { ApplySkin(); });
    const auto handFile = m_services.programFolder / "HAND-M.CUR";
    if (p.Test(
            102, [&] { return operations::IsExistingFile(platform::Utf8FromPath(handFile)); }, true)) {
        p.Step(104, [&] {
            auto cursor = LoadCursorFile(QString::fromStdString(platform::Utf8FromPath(handFile)));
            if (!cursor)
                throw std::runtime_error("The pointer file \"" + platform::Utf8FromPath(handFile) +
                                         "\" is not a cursor file.");
            m_handCursor = *cursor;
        });
    }
    p.Step(106, [&] { OpenHomePageAtRandom(); });
    p.Step(124, [&] { setWindowTitle(QString::fromUtf8(errors::kProductName)); });
    p.Step(124, [&] { setWindowIcon(ApplicationIcon()); });
    p.Step(124, [&] { SetAppTitle(); });
    p.Step(126, [&] { m_panel1->pathBox()->setText(QString()); });
    p.Step(128, [&] { m_panel2->pathBox()->setText(QString()); });
    p.Step(130, [&] { m_panel1->sheetList()->addColumn(kListHeader); });
    p.Step(132, [&] { m_panel1->sheetList()->setColumnWidthPixels(kListColumnWidth); });
    p.Step(134, [&] { m_panel2->sheetList()->addColumn(kListHeader); });
    p.Step(136, [&] { m_panel2->sheetList()->setColumnWidthPixels(kListColumnWidth); });
    bool available = true;
    p.Step(138, [&] {
        available = operations::CheckSpreadsheetAvailable(*m_services.backends, m_services.dialogs);
    });
    return available;
}

void Form1::ApplySkin() {
    const auto skin = m_services.programFolder / "x" / "o.cjs";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(skin, ec)) return;
    const QColor buttonFace = style()->standardPalette().color(QPalette::Button);
    auto paint = [&](QWidget* widget) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, buttonFace);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    };
    paint(this);
    for (auto* panel : {m_panel1, m_panel2}) {
        paint(panel);
        paint(panel->label());
    }
    // The skin file's content is not interpreted; its presence turns on the program's own theme.
    setStyleSheet(
        "QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfdfd, stop:1 #dfe6ee);"
        " border: 1px solid #8a9bb0; border-radius: 4px; }"
        "QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 "
        "#cfe0f4); }"
        "QPushButton:pressed { background: #c4d6ec; }");
    m_skinApplied = true;
}

void Form1::OpenHomePageAtRandom() {
    if (DrawOneToHundred(m_services.randomFraction) == 7) m_services.openUrl(errors::kHomePageAddress);
}

void Form1::SetAppTitle() { errors::SetApplicationTitle(ShortenToAppTitle(errors::kProductName)); }

void Form1::PushButton3_Click() { ChooseWorkbook(*m_panel1, environment(), "PushButton3_Click"); }
void Form1::PushButton6_Click() { ChooseWorkbook(*m_panel2, environment(), "PushButton6_Click"); }
void Form1::PushButton15_Click() {
    LoadSampleWorkbooks(*m_panel1, *m_panel2, m_services.programFolder, m_services.userDataFolder,
                        m_services.backends->Changes(automation::FileFormat::Xls), environment());
}
void Form1::PushButton16_Click() { ClearFiles(*m_panel1, *m_panel2, environment()); }

}  // namespace orv::app
