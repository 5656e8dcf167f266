// Starts Orvandel: creates the main window, runs its start-up while it is hidden, then shows it.
#include <QApplication>
#include <QDesktopServices>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QUrl>

#ifndef _WIN32
#include <csignal>
#include <unistd.h>
#endif

#include "app/Form1.h"
#include "app/QtDialogs.h"
#include "app/StartUp.h"
#include "automation/DefaultBackends.h"
#include "automation/RunningSpreadsheet.h"
#include "platform/Paths.h"
#include "undo/UndoStore.h"

namespace {

#ifndef _WIN32
int g_signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// A logout or `kill` ends the program the way closing its window does, so that the office it keeps started
// ahead ends with it instead of waiting for the next start to clear it away.
void EndGracefullyOnSignals(QApplication& application) {
    if (::pipe(g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}
#else
// Windows ends a program at logout through its window, which closes as the user would close it.
void EndGracefullyOnSignals(QApplication&) {}
#endif

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    EndGracefullyOnSignals(application);
    orv::app::QtDialogs dialogs;
    orv::automation::SystemProcessTable processes;
    orv::app::Form1 form(orv::app::Form1Services{
        dialogs, orv::automation::DefaultBackends(), processes,
        // The samples' paths are joined with the system's own separator.
        orv::platform::PathFromUtf8(QCoreApplication::applicationDirPath().toStdString()).make_preferred(),
        &orv::app::RandomFractionSeededByTime,
        [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); },
        orv::platform::PathFromUtf8(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString()),
        true, orv::platform::PathFromUtf8(orv::undo::DefaultStoreFolder())});
    dialogs.setParent(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    const int status = application.exec();
    form.EndPreparedInstances();
    return status;
}
