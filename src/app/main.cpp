// Starts Orvandel: creates the main window, runs its start-up while it is hidden, then shows it.
#include <QApplication>
#include <QDesktopServices>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QUrl>

#include "app/Form1.h"
#include "app/QtDialogs.h"
#include "app/StartUp.h"
#include "automation/DefaultBackends.h"
#include "automation/RunningSpreadsheet.h"
#include "platform/Paths.h"
#include "platform/Program.h"
#include "undo/UndoStore.h"

namespace {

// A logout or `kill` ends the program the way closing its window does, so that the office it keeps started
// ahead ends with it instead of waiting for the next start to clear it away.
void EndGracefullyOnRequest(QApplication& application) {
    const int descriptor = orv::platform::EndRequestDescriptor();
    if (descriptor < 0) return;
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QCoreApplication::quit(); });
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    EndGracefullyOnRequest(application);
    orv::app::QtDialogs dialogs;
    const auto processes = orv::automation::SystemProcessTable();
    orv::app::Form1 form(orv::app::Form1Services{
        dialogs, orv::automation::DefaultBackends(), *processes,
        // The samples' paths are joined with the system's own separator.
        orv::platform::PathFromUtf8(QCoreApplication::applicationDirPath().toStdString()).make_preferred(),
        &orv::app::RandomFractionSeededByTime,
        [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); },
        orv::platform::PathFromUtf8(
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString()),
        true, orv::platform::PathFromUtf8(orv::undo::DefaultStoreFolder())});
    dialogs.setParent(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    const int status = application.exec();
    form.EndPreparedInstances();
    return status;
}
