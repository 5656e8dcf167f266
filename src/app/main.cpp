// Starts Orvandel: creates the main window, runs its start-up while it is hidden, then shows it.
#include <QApplication>
#include <QDesktopServices>
#include <QStandardPaths>
#include <QUrl>

#include "app/Form1.h"
#include "app/QtDialogs.h"
#include "app/StartUp.h"
#include "automation/DefaultBackends.h"
#include "automation/RunningSpreadsheet.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    orv::app::QtDialogs dialogs;
    orv::automation::ProcFsProcessTable processes;
    orv::app::Form1 form(orv::app::Form1Services{
        dialogs, orv::automation::DefaultBackends(), processes,
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()),
        &orv::app::RandomFractionSeededByTime,
        [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); },
        std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString())});
    dialogs.setParent(&form);
    if (!form.Form_Load()) return 0;
    form.show();
    return application.exec();
}
