// The program entry: the application, its title, the locale of the value texts and the
// main window.

#include "uDialogs.h"
#include "ufrmMain.h"

#include "uLocaleFormat.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/tarnwick.png")));
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    SetLocaleFormat(MakeIcuLocaleFormat(LocaleNameFromEnvironment()));

    TfrmMain frmMain(QApplication::arguments().mid(1));
    QObject::connect(&frmMain, &TfrmMain::AboutRequested, &frmMain,
                     [&frmMain] { ShowAboutWindow(&frmMain); });
    QObject::connect(&frmMain, &TfrmMain::CheckForUpdatesRequested, &frmMain,
                     [&frmMain] { ShowCheckForUpdatesWindow(&frmMain); });
    frmMain.show();
    return app.exec();
}
