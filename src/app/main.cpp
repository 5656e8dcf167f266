// Starts Orvandel: creates the main window, runs its start-up while it is hidden, then shows it.
#include <QApplication>
#include <QDesktopServices>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QUrl>
#include <csignal>
#include <unistd.h>

#include "app/Form1.h"
#include "app/QtDialogs.h"
#include "app/StartUp.h"
#include "automation/DefaultBackends.h"
#include "automation/RunningSpreadsheet.h"
#include "undo/UndoStore.h"

namespace {

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

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    EndGracefullyOnSignals(application);
    orv::app::QtDialogs dialogs;
    orv::automation::ProcFsProcessTable processes;
    orv::app::Form1 form(orv::app::Form1Services{
        dialogs, orv::automation::DefaultBackends(), processes,
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()),
        &orv::app::RandomFractionSeededByTime,
        [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); },
        std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString()),
        true, std::filesystem::path(orv::undo::DefaultStoreFolder())});
    dialogs.setParent(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    const int status = application.exec();
    form.EndPreparedInstances();
    return status;
}
