// Message boxes, input boxes and the open-file dialog on Qt widgets.
#include "app/QtDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "errors/Messages.h"

namespace orv::app {

namespace {

QString Title(const std::string& title) {
    return QString::fromStdString(title.empty() ? errors::ApplicationTitle() : title);
}

// The program's texts break lines with CR LF or a lone CR; Qt breaks them with LF.
QString DisplayText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace("\r\n", "\n");
    shown.replace('\r', '\n');
    return shown;
}

// "description|pattern|description|pattern" into Qt's "description (patterns);;..." form.
QString QtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString patterns = parts[i + 1];
        entries << (description.contains('(') ? description : description + " (" + patterns + ")");
    }
    return entries.join(";;");
}

}  // namespace

errors::Answer QtDialogs::messageBox(const std::string& text, const std::string& title,
                                     errors::Buttons buttons, errors::Icon icon) {
    QMessageBox box(icon == errors::Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, Title(title),
                    DisplayText(text),
                    buttons == errors::Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    m_parent);
    box.setTextFormat(Qt::PlainText);
    const int result = box.exec();
    if (buttons == errors::Buttons::Ok) return errors::Answer::Ok;
    return result == QMessageBox::Yes ? errors::Answer::Yes : errors::Answer::No;
}

std::string QtDialogs::inputBox(const std::string& prompt, const std::string& title,
                                const std::string& defaultText) {
    bool ok = false;
    const QString answer = QInputDialog::getText(m_parent, Title(title), DisplayText(prompt),
                                                 QLineEdit::Normal, QString::fromStdString(defaultText), &ok);
    return ok ? answer.toStdString() : std::string();
}

std::string QtDialogs::openFile(const errors::OpenFileRequest& request) {
    // The read-only check box of the requested flags has no counterpart in Qt's dialog; it is never read
    // anyway. Any name is taken, as typed: the file a name does not yet stand for is the caller's business
    // (Qt's own open dialog refuses such a name and never returns it).
    QFileDialog dialog(m_parent, Title(request.title), QString::fromStdString(request.fileName),
                       QtFilter(request.filter));
    dialog.setObjectName("OpenFileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    // Qt writes paths with "/" on every system; the path box shows the system's own form.
    return chosen.isEmpty() ? std::string() : QDir::toNativeSeparators(chosen.front()).toStdString();
}

}  // namespace orv::app
