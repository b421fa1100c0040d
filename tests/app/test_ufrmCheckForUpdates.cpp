// The update check window driven end to end: the real window, its real upgrade
// component and a loopback server that plays the maker's web site. The modal answers
// and the start of the setup program go through the seams for them, so nothing waits
// for a user and nothing is started.

#include "uDialogs.h"
#include "uLoopbackHttpServer.h"
#include "uShellOpen.h"
#include "uUpdateTestSupport.h"
#include "uVersionInfo.h"
#include "ufrmCheckForUpdates.h"
#include "ufrmWebUpdateInformation.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWhatsThis>

namespace {

const QString Running = QStringLiteral(TARNWICK_TEST_PROJECT_VERSION);
const QByteArray NewerHistory =
    "<!-- version:9.0.0.0 timestamp:20991231 -->\n<p>Everything is new</p>\n"
    "<!-- version:" TARNWICK_TEST_PROJECT_VERSION " timestamp:20120301 -->\n<p>Old</p>";
const QByteArray LatestHistory =
    "<!-- version:" TARNWICK_TEST_PROJECT_VERSION " timestamp:20120301 -->\n<p>Old</p>";

// How the test answers the update information window.
enum class Answer { UpdateNow, Cancel, TitleBarClose };

// One check window with its component aimed at the test server, and a record of what
// the user would have seen in the dialogs it opened.
struct TCheck {
    TTestKeyPair Key;
    TLoopbackHttpServer Server;
    TfrmCheckForUpdates Window{nullptr};
    Answer Reply = Answer::Cancel;
    QStringList InformationLabels;
    QStringList MessageBoxTexts;
    QString StartedProgram;
    QStringList StartedArguments;
    bool Installed = false;
    QString SaveTo;  // the answer to "where to save the package"
    QStringList SuggestedNames;
    QStringList Opened;  // addresses handed to the browser

    TCheck()
    {
        Window.RunsFromInstalledPackage = [this] { return Installed; };
        Window.ChoosePackageFile = [this](const QString& name) {
            SuggestedNames << name;
            return SaveTo;
        };
        SetShellOpenHandler([this](const QUrl& url) {
            Opened << url.toString();
            return true;
        });
        Window.autoUpgrade->InfoFileURL =
            Server.Url(QStringLiteral("/downloads/tarnwick/update.inf")).toStdString();
        Window.autoUpgrade->PublicKey = Key.Public;
        Window.autoUpgrade->StartSetupAndQuit = [this](const QString& program, const QStringList& arguments) {
            StartedProgram = program;
            StartedArguments = arguments;
            return true;
        };
        SetModalRunner([this](QDialog& dialog) {
            if (auto* information = qobject_cast<TfrmUpdateInformation*>(&dialog)) {
                information->show();
                InformationLabels << information->lblCurrentVersion->text();
                if (Reply == Answer::UpdateNow)
                    QTest::mouseClick(information->btnUpdate, Qt::LeftButton);
                else if (Reply == Answer::Cancel)
                    QTest::mouseClick(information->btnCancel, Qt::LeftButton);
                else
                    information->close();
            } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                MessageBoxTexts << box->text();
                box->done(QMessageBox::Ok);
            }
            return dialog.result();
        });
    }

    ~TCheck()
    {
        SetModalRunner({});
        SetShellOpenHandler({});
        if (!StartedProgram.isEmpty())
            QDir(QFileInfo(StartedProgram).absolutePath()).removeRecursively();
    }

    QString SetupUrl() const { return Server.Url(QStringLiteral("/downloads/tarnwick/setup.sh")); }

    // Announces version with history and one setup file, listed as the script with its
    // signature, while the server sends served for it.
    void Publish(const QString& version, const QByteArray& history, const TRoute& served)
    {
        const QByteArray& script = TestSetupScript;
        Server.Serve(QStringLiteral("/downloads/tarnwick/update.inf"),
                     {200, Key.InformationFile(version, QString::fromUtf8(history),
                                               {{SetupUrl(), script.size(), Sha256Hex(script)}})});
        Server.Serve(QStringLiteral("/downloads/tarnwick/setup.sh"), served);
    }

    // True once the window shows a final outcome: a failure or completion with the
    // buttons back, or a started setup program.
    [[nodiscard]] bool Settled() const { return Window.btnRetry->isEnabled() || !StartedProgram.isEmpty(); }
};

}  // namespace

class TestCheckForUpdates : public QObject {
    Q_OBJECT
private slots:
    void initialState();
    void helpButtonLeavesNoQuestionMarkPointer();
    void outcomes_data();
    void outcomes();
    void progressShowsTwoLines();
    void retryEmptiesTheMemoAndChecksAgain();
    void latestVersionClosesTheWindow_data();
    void latestVersionClosesTheWindow();
    void installedCopyIsHandedThePackage_data();
    void installedCopyIsHandedThePackage();
};

void TestCheckForUpdates::initialState()
{
    ReplaceVersionResource(std::nullopt);
    TfrmCheckForUpdates withoutResource(nullptr);
    RestoreBuildVersionResource();
    QCOMPARE(withoutResource.autoUpgrade->VersionNumber, std::string("1.2.0.5"));

    TfrmCheckForUpdates window(nullptr);
    QCOMPARE(window.windowTitle(), QStringLiteral("Check For Updates"));
    QCOMPARE(window.autoUpgrade->VersionNumber, Running.toStdString());
    QCOMPARE(window.autoUpgrade->InfoFileURL,
             std::string("https://www.quorvel.example/downloads/tarnwick/update.inf"));
    QCOMPARE(window.autoUpgrade->RestartParams, std::string("/suppressmsgboxes /verysilent"));
    QCOMPARE(window.lblStatus->text(), QStringLiteral("..."));
    QVERIFY(!window.btnRetry->isEnabled());
    QVERIFY(!window.btnClose->isEnabled());
    QVERIFY(window.btnClose->isDefault());
    QVERIFY(!window.timerUpdate->isActive());
    QCOMPARE(window.timerUpdate->interval(), 200);
}

void TestCheckForUpdates::helpButtonLeavesNoQuestionMarkPointer()
{
    TfrmCheckForUpdates window(nullptr);
    QVERIFY(window.windowFlags() & Qt::WindowContextHelpButtonHint);
    window.show();
    // What the title bar's help button does on platforms that draw one.
    QWhatsThis::enterWhatsThisMode();
    QTRY_VERIFY(!QWhatsThis::inWhatsThisMode());
}

void TestCheckForUpdates::outcomes_data()
{
    QTest::addColumn<QString>("site");  // what the web site does
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("memo");  // %1: the setup file's address, %2: the site's host
    QTest::addColumn<bool>("started");

    const QString lost =
        QStringLiteral("Tarnwick failed to download the new setup file from %1.  Please try again later.");
    QTest::newRow("host unreachable")
        << "closed port" << int(Answer::Cancel) << "Failed with errors"
        << "Failed to contact web site to retrieve update information: %2" << false;
    QTest::newRow("no information file") << "404" << int(Answer::Cancel) << "Failed with errors"
                                         << "The update information file could not be retrieved." << false;
    QTest::newRow("information file is not one")
        << "garbage" << int(Answer::Cancel) << "Failed with errors"
        << "The update information file could not be retrieved." << false;
    QTest::newRow("no update") << "same version" << int(Answer::Cancel) << "Completed"
                               << "The version you are using is the latest version." << false;
    QTest::newRow("older version announced") << "older version" << int(Answer::Cancel) << "Completed"
                                             << "The version you are using is the latest version." << false;
    QTest::newRow("newer version declined") << "newer" << int(Answer::Cancel) << "Completed"
                                            << "Update skipped" << false;
    QTest::newRow("declined by the title bar") << "newer" << int(Answer::TitleBarClose) << "Completed"
                                               << "Update skipped" << false;
    QTest::newRow("accepted and verified") << "newer" << int(Answer::UpdateNow) << "Downloading updates..."
                                           << "Downloading: %1\n  Progress: 100%" << true;
    QTest::newRow("bad signature") << "bad signature" << int(Answer::UpdateNow) << "Failed with errors"
                                   << lost << false;
    QTest::newRow("wrong size, short")
        << "short file" << int(Answer::UpdateNow) << "Failed with errors" << lost << false;
    QTest::newRow("wrong size, long")
        << "long file" << int(Answer::UpdateNow) << "Failed with errors" << lost << false;
    QTest::newRow("setup file missing")
        << "setup 404" << int(Answer::UpdateNow) << "Failed with errors" << lost << false;
    QTest::newRow("connection cut in the body") << "cut" << int(Answer::UpdateNow) << "Failed with errors"
                                                << "Tarnwick failed to download the new setup file from %1.  "
                                                   "The connection was lost.  Please try again later."
                                                << false;
}

void TestCheckForUpdates::outcomes()
{
    QFETCH(QString, site);
    QFETCH(int, answer);
    QFETCH(QString, status);
    QFETCH(QString, memo);
    QFETCH(bool, started);

    TCheck check;
    check.Reply = static_cast<Answer>(answer);
    QByteArray script = TestSetupScript;
    if (site == "closed port") {
        check.Window.autoUpgrade->InfoFileURL =
            TLoopbackHttpServer::ClosedPortUrl("/update.inf").toStdString();
    } else if (site == "garbage") {
        check.Server.Serve(QStringLiteral("/downloads/tarnwick/update.inf"), {200, "<html>Moved</html>"});
    } else if (site == "same version") {
        check.Publish(Running, LatestHistory, {200, script});
    } else if (site == "older version") {
        check.Publish(QStringLiteral("1.3.99.99"), LatestHistory, {200, script});
    } else if (site == "newer") {
        check.Publish(QStringLiteral("9.0.0.0"), NewerHistory, {200, script});
    } else if (site == "bad signature") {
        script[script.size() - 2] = '!';  // same size, other bytes
        check.Publish(QStringLiteral("9.0.0.0"), NewerHistory, {200, script});
    } else if (site == "short file") {
        check.Publish(QStringLiteral("9.0.0.0"), NewerHistory, {200, script.left(script.size() - 1)});
    } else if (site == "long file") {
        check.Publish(QStringLiteral("9.0.0.0"), NewerHistory, {200, script + "reboot\n"});
    } else if (site == "setup 404") {
        check.Publish(QStringLiteral("9.0.0.0"), NewerHistory, {404, "gone"});
    } else if (site == "cut") {
        check.Publish(QStringLiteral("9.0.0.0"), NewerHistory, {200, script, script.size() / 2});
    }
    // 404: no route at all.

    check.Window.show();
    QTRY_VERIFY(check.Settled());

    QCOMPARE(check.Window.lblStatus->text(), status);
    QCOMPARE(check.Window.mmMemo->toPlainText(),
             QString(memo).replace("%1", check.SetupUrl()).replace("%2", QStringLiteral("127.0.0.1")));
    QCOMPARE(!check.StartedProgram.isEmpty(), started);
    const bool finished = status != QStringLiteral("Downloading updates...");
    QCOMPARE(check.Window.btnRetry->isEnabled(), finished);
    QCOMPARE(check.Window.btnClose->isEnabled(), finished);
    QCOMPARE(QApplication::overrideCursor() != nullptr, !finished);
    if (started) {
        QCOMPARE(check.MessageBoxTexts,
                 QStringList{"Tarnwick will now close to allow the update to proceed.  Once the update has "
                             "completed, Tarnwick will restart."});
        QCOMPARE(check.StartedArguments, (QStringList{"/suppressmsgboxes", "/verysilent"}));
        QFile program(check.StartedProgram);
        QVERIFY(program.open(QIODevice::ReadOnly));
        QCOMPARE(program.readAll(), TestSetupScript);
    } else {
        QVERIFY(check.MessageBoxTexts.isEmpty());
    }
    // The information window was asked exactly when a newer version was announced.
    const bool announced = site != "closed port" && site != "404" && site != "garbage" &&
                           site != "same version" && site != "older version";
    QCOMPARE(check.InformationLabels,
             announced ? QStringList{QStringLiteral("This version of Tarnwick is %1.").arg(Running)}
                       : QStringList{});
    check.Window.done(QDialog::Accepted);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestCheckForUpdates::progressShowsTwoLines()
{
    TCheck check;
    check.Reply = Answer::UpdateNow;
    // Exactly 100 bytes, so that the first 7 of them are 7%.
    QByteArray script = TestSetupScript + "#";
    script += QByteArray(99 - script.size(), 'x') + "\n";
    QCOMPARE(script.size(), 100);
    const QByteArray info = check.Key.InformationFile("9.0.0.0", QString::fromLatin1(NewerHistory),
                                                      {{check.SetupUrl(), script.size(), Sha256Hex(script)}});
    check.Server.Serve(QStringLiteral("/downloads/tarnwick/update.inf"), {200, info});
    check.Server.Serve(QStringLiteral("/downloads/tarnwick/setup.sh"), {200, script, -1, 7});

    check.Window.show();
    QTRY_COMPARE(check.Window.mmMemo->toPlainText(),
                 QStringLiteral("Downloading: %1\n  Progress: 7%").arg(check.SetupUrl()));
    QCOMPARE(check.Window.lblStatus->text(), QStringLiteral("Downloading updates..."));
    QVERIFY(!check.Window.btnRetry->isEnabled());
    QVERIFY(check.StartedProgram.isEmpty());
    check.Server.Release();
    QTRY_VERIFY(!check.StartedProgram.isEmpty());
    QCOMPARE(check.Window.mmMemo->toPlainText(),
             QStringLiteral("Downloading: %1\n  Progress: 100%").arg(check.SetupUrl()));
}

void TestCheckForUpdates::retryEmptiesTheMemoAndChecksAgain()
{
    TCheck check;
    check.Window.show();
    QTRY_VERIFY(check.Settled());
    QCOMPARE(check.Window.mmMemo->toPlainText(),
             QStringLiteral("The update information file could not be retrieved."));

    // The second answer is held back, so that the window can be seen between the
    // press of Retry and the outcome.
    const QByteArray info = check.Key.InformationFile(Running, QString::fromLatin1(LatestHistory),
                                                      {{check.SetupUrl(), 1, QByteArray(64, '0')}});
    check.Server.Serve(QStringLiteral("/downloads/tarnwick/update.inf"), {200, info, -1, 10});
    QTest::mouseClick(check.Window.btnRetry, Qt::LeftButton);
    QVERIFY(check.Window.timerUpdate->isActive());
    QTRY_COMPARE(check.Window.lblStatus->text(), QStringLiteral("Checking for updates ..."));
    QCOMPARE(check.Window.mmMemo->toPlainText(), QString());
    QVERIFY(!check.Window.btnRetry->isEnabled());
    QVERIFY(!check.Window.btnClose->isEnabled());
    QTRY_COMPARE(check.Server.Requests(QStringLiteral("/downloads/tarnwick/update.inf")), 2);

    check.Server.Release();
    QTRY_COMPARE(check.Window.lblStatus->text(), QStringLiteral("Completed"));
    QCOMPARE(check.Window.mmMemo->toPlainText(),
             QStringLiteral("The version you are using is the latest version."));
    QVERIFY(check.Window.btnRetry->isEnabled());
}

void TestCheckForUpdates::latestVersionClosesTheWindow_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Close button") << int(Answer::Cancel);
    QTest::newRow("title bar close") << int(Answer::TitleBarClose);
}

void TestCheckForUpdates::latestVersionClosesTheWindow()
{
    QFETCH(int, answer);
    // The component sees a newer number, but the history's newest entry is this
    // version: the information window reports the latest version.
    TCheck check;
    check.Reply = static_cast<Answer>(answer);
    check.Publish(QStringLiteral("9.0.0.0"), LatestHistory, {200, TestSetupScript});
    check.Window.show();
    QTRY_VERIFY(!check.Window.isVisible());
    QCOMPARE(check.Window.result(), int(QDialog::Accepted));
    QCOMPARE(
        check.InformationLabels,
        QStringList{QStringLiteral("This version of Tarnwick is %1, which is the latest available version.")
                        .arg(Running)});
    QCOMPARE(check.Window.mmMemo->toPlainText(), QStringLiteral("Update skipped"));
    QCOMPARE(check.Server.Requests(QStringLiteral("/downloads/tarnwick/setup.sh")), 0);
}

void TestCheckForUpdates::installedCopyIsHandedThePackage_data()
{
    // A copy that a package manager installed gets the new version as a package, never
    // through a setup program started over the package's files.
    QTest::addColumn<QString>("offer");    // what the announcement names besides the setup program
    QTest::addColumn<bool>("chooseFile");  // the user names a place for the package
    QTest::addColumn<QString>("memo");     // %1: the chosen path, %2: the package's address
    QTest::addColumn<bool>("saved");
    QTest::newRow("package saved where the user chose")
        << "package and page" << true
        << "The package of the new version was saved to %1.  Install it with the system's package manager."
        << true;
    QTest::newRow("package with other bytes")
        << "forged package" << true
        << "Tarnwick failed to download the new setup file from %2.  Please try again later." << false;
    QTest::newRow("no place chosen") << "package and page" << false << "Update skipped" << false;
    QTest::newRow("download page only")
        << "page" << true
        << "The download page of the new version was opened: https://www.quorvel.example/tarnwick/" << false;
    QTest::newRow("nothing for packages")
        << "nothing" << true
        << "This copy of Tarnwick was installed by a package manager; install the new version with it."
        << false;
}

void TestCheckForUpdates::installedCopyIsHandedThePackage()
{
    QFETCH(QString, offer);
    QFETCH(bool, chooseFile);
    QFETCH(QString, memo);
    QFETCH(bool, saved);

    TCheck check;
    check.Reply = Answer::UpdateNow;
    check.Installed = true;
    QTemporaryDir target;
    QVERIFY(target.isValid());
    if (chooseFile)
        check.SaveTo = target.filePath(QStringLiteral("chosen.deb"));
    const QByteArray package = "!<arch>\ndebian-binary   a tiny package\n";
    const QString packageUrl =
        check.Server.Url(QStringLiteral("/downloads/tarnwick/tarnwick_9.0.0.0_amd64.deb"));
    std::vector<TTestFileEntry> files{{check.SetupUrl(), TestSetupScript.size(), Sha256Hex(TestSetupScript)}};
    QJsonObject extra;
    if (offer != "page" && offer != "nothing") {
        files.push_back({packageUrl, package.size(), Sha256Hex(package)});
        extra["package"] = QStringLiteral("tarnwick_9.0.0.0_amd64.deb");
    }
    if (offer != "nothing")
        extra["packagePage"] = QStringLiteral("https://www.quorvel.example/tarnwick/");
    check.Server.Serve(
        QStringLiteral("/downloads/tarnwick/update.inf"),
        {200, check.Key.InformationFile("9.0.0.0", QString::fromLatin1(NewerHistory), files, {}, extra)});
    check.Server.Serve(QStringLiteral("/downloads/tarnwick/setup.sh"), {200, TestSetupScript});
    QByteArray served = package;
    if (offer == "forged package")
        served[served.size() - 2] = '?';
    check.Server.Serve(QStringLiteral("/downloads/tarnwick/tarnwick_9.0.0.0_amd64.deb"), {200, served});

    check.Window.show();
    QTRY_VERIFY(check.Settled());
    QCOMPARE(check.Window.mmMemo->toPlainText(),
             QString(memo).replace("%1", check.SaveTo).replace("%2", packageUrl));
    QCOMPARE(check.Window.lblStatus->text(),
             offer == "forged package" ? QStringLiteral("Failed with errors") : QStringLiteral("Completed"));
    // Nothing is started and the setup program is not even fetched.
    QVERIFY(check.StartedProgram.isEmpty());
    QVERIFY(check.MessageBoxTexts.isEmpty());
    QCOMPARE(check.Server.Requests(QStringLiteral("/downloads/tarnwick/setup.sh")), 0);
    QCOMPARE(check.Opened,
             offer == "page" ? QStringList{"https://www.quorvel.example/tarnwick/"} : QStringList{});
    QCOMPARE(check.SuggestedNames,
             offer.contains("package") ? QStringList{"tarnwick_9.0.0.0_amd64.deb"} : QStringList{});
    QFile result(target.filePath(QStringLiteral("chosen.deb")));
    QCOMPARE(result.exists(), saved);
    if (saved) {
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readAll(), package);
    }
    QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden).size(), saved ? 1 : 0);
    check.Window.done(QDialog::Accepted);
}

QTEST_MAIN(TestCheckForUpdates)
#include "test_ufrmCheckForUpdates.moc"
