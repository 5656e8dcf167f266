// Message boxes, input boxes and the file dialogs on Qt widgets.
#include "app/QtDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStandardPaths>

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

// The extension a Qt name filter's first pattern gives ("xlsx" for "Excel Workbook (*.xlsx)"); "" for "*.*".
QString SuffixOf(const QString& nameFilter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    const auto match = pattern.match(nameFilter);
    return match.hasMatch() ? match.captured(1) : QString();
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
    QString start = QString::fromStdString(!request.fileName.empty() ? request.fileName : request.folder);
    if (start.isEmpty()) start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QFileDialog dialog(m_parent, Title(request.title), start, QtFilter(request.filter));
    dialog.setObjectName("OpenFileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    // Qt writes paths with "/" on every system; the path box shows the system's own form.
    return chosen.isEmpty() ? std::string() : QDir::toNativeSeparators(chosen.front()).toStdString();
}

std::string QtDialogs::saveFile(const errors::SaveFileRequest& request) {
    QFileDialog dialog(m_parent, Title(request.title), QString::fromStdString(request.fileName),
                       QtFilter(request.filter));
    dialog.setObjectName("SaveFileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's question would offer to replace the file, which the caller may refuse to do.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // The filter that fits the proposed name is chosen at first, and a name typed bare takes the chosen one's
    // extension, so the format is never left to guesswork.
    const QString proposed = QFileInfo(QString::fromStdString(request.fileName)).suffix();
    for (const QString& nameFilter : dialog.nameFilters()) {
        if (!proposed.isEmpty() && SuffixOf(nameFilter).compare(proposed, Qt::CaseInsensitive) == 0) {
            dialog.selectNameFilter(nameFilter);
            break;
        }
    }
    dialog.setDefaultSuffix(SuffixOf(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected,
                     [&dialog](const QString& nameFilter) { dialog.setDefaultSuffix(SuffixOf(nameFilter)); });
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? std::string() : QDir::toNativeSeparators(chosen.front()).toStdString();
}

}  // namespace orv::app
