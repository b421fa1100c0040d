// The program entry: the application, its title, the locale of the value texts, the
// command line and the main window.

#include "uDialogs.h"
#include "uRestorePage.h"
#include "ufrmMain.h"

#include "uLocaleFormat.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <cstdio>
#include <new>

namespace {

void WriteError(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Running out of memory inside an event handler that does not catch it itself ends
// the program with a message instead of an abort.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::bad_alloc&) {
            WriteError(QStringLiteral("tarnwick: %1").arg(QString::fromLatin1(OutOfMemoryText)));
            QCoreApplication::exit(1);
            return false;
        }
    }
};

}  // namespace

int main(int argc, char* argv[])
{
    try {
        TApplication app(argc, argv);
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/tarnwick.png")));
        QApplication::setApplicationName(QStringLiteral("Tarnwick"));
        SetLocaleFormat(MakeIcuLocaleFormat(LocaleNameFromEnvironment()));

        // Qt has taken its own options out of the arguments by now.
        const QStringList arguments = QApplication::arguments().mid(1);
        const TCommandLine commandLine = ParseCommandLine(arguments);
        for (const QString& message : commandLine.Messages)
            WriteError(message);
        if (commandLine.UnknownOption)
            return 2;

        TfrmMain frmMain(arguments);
        // The restore page: the plan and script for the files the window has read.
        auto* restorePage = new TRestorePage;
        frmMain.SetRestorePage(restorePage, {[restorePage](std::vector<TPlanFile> files) {
                                                 restorePage->SetFiles(std::move(files));
                                             },
                                             [restorePage] { restorePage->Clear(); },
                                             [restorePage] {
                                                 const TRestorePage::TFolders f = restorePage->Folders();
                                                 return TRestoreFolders{f.DataDir, f.LogDir, f.ServerDir};
                                             },
                                             [restorePage](const TRestoreFolders& f) {
                                                 restorePage->SetFolders({f.DataDir, f.LogDir, f.ServerDir});
                                             }});
        QObject::connect(restorePage, &TRestorePage::FoldersChanged, &frmMain, &TfrmMain::SaveRestoreFolders);
        QObject::connect(&frmMain, &TfrmMain::AboutRequested, &frmMain,
                         [&frmMain] { ShowAboutWindow(&frmMain); });
        QObject::connect(&frmMain, &TfrmMain::CheckForUpdatesRequested, &frmMain,
                         [&frmMain] { ShowCheckForUpdatesWindow(&frmMain); });
        frmMain.show();
        return app.exec();
    } catch (const std::bad_alloc&) {
        WriteError(QStringLiteral("tarnwick: %1").arg(QString::fromLatin1(OutOfMemoryText)));
        return 1;
    }
}
