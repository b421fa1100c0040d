// The upgrade component on its own: version order, the information file's checks, the
// address rule, and what it does with a download before anything is started.

#include "uAutoUpgrader.h"
#include "uLoopbackHttpServer.h"
#include "uUpdateTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <optional>

#include <sys/stat.h>

namespace {

// The permission bits as the file system holds them.
unsigned ModeOf(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Everything the component reported, in order, as one word per event.
struct TRecorder {
    QStringList Events;
    QString StartedProgram;
    QStringList StartedArguments;
    QByteArray StartedContent;
    unsigned StartedMode = 0;
    unsigned FolderMode = 0;
    QString Folder;
    int LostCode = 0;

    void Attach(TauAutoUpgrader& upgrader)
    {
        upgrader.OnHostUnreachable = [this](auto*, const std::string&, const std::string& host) {
            Events << QStringLiteral("unreachable:") + QString::fromStdString(host);
        };
        upgrader.OnNoInfoFile = [this](auto*) { Events << QStringLiteral("noinfo"); };
        upgrader.OnNoUpdateAvailable = [this](auto*) { Events << QStringLiteral("noupdate"); };
        upgrader.OnBeginUpgrade = [this](auto* sender, const std::string&, TUpgradeMethod,
                                         const std::vector<std::string>&, bool&) {
            Events << QStringLiteral("begin");
            Folder = sender->DownloadFolder();
        };
        upgrader.OnProgress = [](auto...) {};
        upgrader.OnLostFile = [this](auto* sender, const std::string&, int code, bool&) {
            Events << QStringLiteral("lost");
            LostCode = code;
            Folder = sender->DownloadFolder();
        };
        upgrader.OnConnLost = [this](auto*) { Events << QStringLiteral("connlost"); };
        upgrader.OnEndUpgrade = [this](auto* sender, bool&) {
            Events << QStringLiteral("end");
            Folder = sender->DownloadFolder();
            FolderMode = ModeOf(Folder);
        };
        upgrader.StartSetupAndQuit = [this](const QString& program, const QStringList& arguments) {
            Events << QStringLiteral("start");
            StartedProgram = program;
            StartedArguments = arguments;
            StartedMode = ModeOf(program);
            QFile file(program);
            if (file.open(QIODevice::ReadOnly))
                StartedContent = file.readAll();
            return true;
        };
    }
};

}  // namespace

class TestAutoUpgrader : public QObject {
    Q_OBJECT
private slots:
    void compareVersionNumbers_data();
    void compareVersionNumbers();
    void allowedAddresses_data();
    void allowedAddresses();
    void brokenInformationFiles_data();
    void brokenInformationFiles();
    void eventsArriveAfterCheckReturns();
    void downloads_data();
    void downloads();
#ifdef TARNWICK_SIGN_TOOL
    void signingToolReleaseIsAccepted();
#endif
};

void TestAutoUpgrader::compareVersionNumbers_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");  // -1, 0, 1, or 2 for "cannot compare"
    QTest::newRow("equal") << "1.4.0.19"
                           << "1.4.0.19" << 0;
    QTest::newRow("number, not text") << "1.10.0.0"
                                      << "1.9.0.0" << 1;
    QTest::newRow("last part") << "1.4.0.19"
                               << "1.4.0.20" << -1;
    QTest::newRow("first part outweighs") << "2.0.0.0"
                                          << "1.99.99.99" << 1;
    QTest::newRow("missing parts are zero") << "1.4"
                                            << "1.4.0.0" << 0;
    QTest::newRow("longer and newer") << "1.4.0.0.1"
                                      << "1.4" << 1;
    QTest::newRow("leading zeros") << "1.04.0.19"
                                   << "1.4.0.19" << 0;
    QTest::newRow("empty") << ""
                           << "1.0" << 2;
    QTest::newRow("empty part") << "1..0"
                                << "1.0" << 2;
    QTest::newRow("trailing dot") << "1.0."
                                  << "1.0" << 2;
    QTest::newRow("letters") << "1.4.0.19b"
                             << "1.4.0.19" << 2;
    QTest::newRow("blank") << "1.4.0.19 "
                           << "1.4.0.19" << 2;
    QTest::newRow("minus") << "1.-4"
                           << "1.4" << 2;
    QTest::newRow("too large") << "1.99999999999999999999999"
                               << "1.0" << 2;
}

void TestAutoUpgrader::compareVersionNumbers()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    const auto order = CompareVersionNumbers(a.toStdString(), b.toStdString());
    QCOMPARE(order.has_value() ? (*order > 0) - (*order < 0) : 2, expected);
    if (order) {
        const auto reverse = CompareVersionNumbers(b.toStdString(), a.toStdString());
        QVERIFY(reverse.has_value());
        QCOMPARE((*reverse > 0) - (*reverse < 0), -expected);
    }
}

void TestAutoUpgrader::allowedAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https") << "https://www.quorvel.example/downloads/tarnwick/update.inf" << true;
    QTest::newRow("http to the web") << "http://www.quorvel.example/downloads/tarnwick/update.inf" << false;
    QTest::newRow("http to 127.0.0.1") << "http://127.0.0.1:8080/update.inf" << true;
    QTest::newRow("http to 127.1.2.3") << "http://127.1.2.3/update.inf" << true;
    QTest::newRow("http to ::1") << "http://[::1]:8080/update.inf" << true;
    QTest::newRow("http to a private address") << "http://192.168.1.1/update.inf" << false;
    QTest::newRow("http to a name that looks local") << "http://127.0.0.1.example/update.inf" << false;
    QTest::newRow("ftp") << "ftp://www.quorvel.example/update.inf" << false;
    QTest::newRow("file") << "file:///tmp/update.inf" << false;
    QTest::newRow("no host") << "https:///update.inf" << false;
}

void TestAutoUpgrader::allowedAddresses()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(IsAllowedUpdateAddress(QUrl(url)), allowed);
}

void TestAutoUpgrader::brokenInformationFiles_data()
{
    const QByteArray signature(128, 'a');
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("valid");
    auto file = [&](const QByteArray& fields) {
        return "{\"format\":1,\"version\":\"1.5.0.0\",\"message\":\"m\",\"files\":[{" + fields + "}]}";
    };
    QTest::newRow("complete") << file("\"url\":\"https://h/s\",\"size\":10,\"signature\":\"" + signature +
                                      "\"")
                              << true;
    QTest::newRow("not JSON") << QByteArray("[version]\nnumber=1.5") << false;
    QTest::newRow("a list") << QByteArray("[1,2]") << false;
    QTest::newRow("other format") << QByteArray(file("\"url\":\"https://h/s\",\"size\":1,\"signature\":\"" +
                                                     signature + "\""))
                                         .replace("\"format\":1", "\"format\":2")
                                  << false;
    QTest::newRow("version with letters")
        << QByteArray(file("\"url\":\"https://h/s\",\"size\":1,\"signature\":\"" + signature + "\""))
               .replace("1.5.0.0", "1.5-beta")
        << false;
    QTest::newRow("no files") << QByteArray(
                                     "{\"format\":1,\"version\":\"1.5\",\"message\":\"m\",\"files\":[]}")
                              << false;
    QTest::newRow("no url") << file("\"size\":10,\"signature\":\"" + signature + "\"") << false;
    QTest::newRow("size as text") << file("\"url\":\"https://h/s\",\"size\":\"10\",\"signature\":\"" +
                                          signature + "\"")
                                  << false;
    QTest::newRow("negative size") << file("\"url\":\"https://h/s\",\"size\":-1,\"signature\":\"" +
                                           signature + "\"")
                                   << false;
    QTest::newRow("fractional size") << file("\"url\":\"https://h/s\",\"size\":1.5,\"signature\":\"" +
                                             signature + "\"")
                                     << false;
    QTest::newRow("short signature") << file("\"url\":\"https://h/s\",\"size\":10,\"signature\":\"" +
                                             signature.left(126) + "\"")
                                     << false;
    QTest::newRow("signature not hex")
        << file("\"url\":\"https://h/s\",\"size\":10,\"signature\":\"" + QByteArray(128, 'g') + "\"")
        << false;
    QTest::newRow("no signature") << file("\"url\":\"https://h/s\",\"size\":10") << false;
}

void TestAutoUpgrader::brokenInformationFiles()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, valid);
    QString reason;
    const auto information = ParseUpdateInformation(document, &reason);
    QCOMPARE(information.has_value(), valid);
    QCOMPARE(reason.isEmpty(), valid);
    if (valid) {
        QCOMPARE(information->Version, std::string("1.5.0.0"));
        QCOMPARE(information->Files.size(), std::size_t(1));
        QCOMPARE(information->Files[0].Size, std::int64_t(10));
        QCOMPARE(information->Files[0].Signature[0], std::uint8_t(0xaa));
    }
}

void TestAutoUpgrader::eventsArriveAfterCheckReturns()
{
    // A refused address could be answered on the spot; the owner still has to be able to
    // finish what it does around CheckUpdate before the first event reaches it.
    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    upgrader.InfoFileURL = "http://update.quorvel.example/downloads/tarnwick/update.inf";
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.CheckUpdate();
    QVERIFY(recorder.Events.isEmpty());
    QTRY_COMPARE(recorder.Events, QStringList{QStringLiteral("noinfo")});
}

void TestAutoUpgrader::downloads_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("lostCode");
    QTest::newRow("verified") << "verified" << QStringList{"begin", "end", "start"} << 0;
    QTest::newRow("bad signature") << "bad signature" << QStringList{"begin", "lost"} << int(lfBadSignature);
    QTest::newRow("signed by another key")
        << "other key" << QStringList{"begin", "lost"} << int(lfBadSignature);
    QTest::newRow("shorter than listed") << "short" << QStringList{"begin", "lost"} << int(lfWrongSize);
    QTest::newRow("longer than listed") << "long" << QStringList{"begin", "lost"} << int(lfWrongSize);
    QTest::newRow("no key in this build") << "no key" << QStringList{"begin", "lost"} << int(lfNoPublicKey);
    QTest::newRow("file over plain http")
        << "plain http" << QStringList{"begin", "lost"} << int(lfAddressRefused);
    QTest::newRow("file missing") << "404" << QStringList{"begin", "lost"} << 404;
    QTest::newRow("redirect within this machine")
        << "redirect local" << QStringList{"begin", "end", "start"} << 0;
    QTest::newRow("redirect to plain http elsewhere")
        << "redirect away" << QStringList{"begin", "lost"} << 302;
    QTest::newRow("setup cannot start")
        << "start fails" << QStringList{"begin", "end", "start", "lost"} << int(lfCannotStart);
}

void TestAutoUpgrader::downloads()
{
    QFETCH(QString, variant);
    QFETCH(QStringList, events);
    QFETCH(int, lostCode);

    const TTestKeyPair key;
    const TTestKeyPair otherKey;
    TLoopbackHttpServer server;
    const QByteArray setup = TestSetupScript;
    QByteArray served = setup;
    QByteArray signature = key.SignatureHex(setup);
    qint64 listedSize = setup.size();
    QString fileUrl = server.Url(QStringLiteral("/setup.sh"));
    if (variant == "bad signature")
        signature[10] = signature[10] == '0' ? '1' : '0';
    else if (variant == "other key")
        signature = otherKey.SignatureHex(setup);
    else if (variant == "short")
        served.chop(5);
    else if (variant == "long")
        served.append("rm -rf $HOME\n");
    else if (variant == "plain http")
        fileUrl = QStringLiteral("http://downloads.quorvel.example/setup.sh");
    server.Serve(QStringLiteral("/update.inf"),
                 {200, UpdateInformationFile("1.5.0.0", "history", {{fileUrl, listedSize, signature}})});
    if (variant == "redirect local") {
        server.Serve(QStringLiteral("/setup.sh"),
                     {302, "", -1, -1, server.Url(QStringLiteral("/moved.sh")).toLatin1()});
        server.Serve(QStringLiteral("/moved.sh"), {200, served});
    } else if (variant == "redirect away") {
        server.Serve(QStringLiteral("/setup.sh"),
                     {302, "", -1, -1, "http://downloads.quorvel.example/setup.sh"});
    } else if (variant != "404") {
        server.Serve(QStringLiteral("/setup.sh"), {200, served});
    }

    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    if (variant == "start fails")
        upgrader.StartSetupAndQuit = [&recorder](const QString&, const QStringList&) {
            recorder.Events << QStringLiteral("start");
            return false;
        };
    upgrader.InfoFileURL = server.Url(QStringLiteral("/update.inf")).toStdString();
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.RestartParams = "/suppressmsgboxes /verysilent";
    upgrader.PublicKey = key.Public;
    if (variant == "no key")
        upgrader.PublicKey.reset();

    upgrader.CheckUpdate();
    QTRY_COMPARE(recorder.Events, events);
    QCOMPARE(recorder.LostCode, lostCode);
    // No key, no download: there would be nothing to verify it with.
    if (variant == "no key" || variant == "plain http")
        QCOMPARE(server.Requests(QStringLiteral("/setup.sh")), 0);

    if (variant == "verified" || variant == "redirect local") {
        QCOMPARE(recorder.StartedArguments, (QStringList{"/suppressmsgboxes", "/verysilent"}));
        QCOMPARE(recorder.StartedContent, setup);
        QCOMPARE(recorder.StartedMode, 0700u);
        QCOMPARE(recorder.FolderMode, 0700u);
        QCOMPARE(QFileInfo(recorder.StartedProgram).absolutePath(),
                 QFileInfo(recorder.Folder).absoluteFilePath());
        // The setup program runs from the folder, so the component leaves it behind.
        QVERIFY(QFileInfo::exists(recorder.StartedProgram));
        QDir(recorder.Folder).removeRecursively();
    } else {
        // Nothing of a lost download survives the upgrade.
        QVERIFY(upgrader.DownloadFolder().isEmpty());
        if (!recorder.Folder.isEmpty())
            QVERIFY(!QFileInfo::exists(recorder.Folder));
    }
}

#ifdef TARNWICK_SIGN_TOOL
void TestAutoUpgrader::signingToolReleaseIsAccepted()
{
    // A release made the way the maker's documentation says, end to end: the tool's key
    // pair, its information file and its signatures are what the component accepts.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    auto run = [&work](const QStringList& arguments) {
        QProcess tool;
        tool.setWorkingDirectory(work.path());
        tool.start(QStringLiteral(TARNWICK_SIGN_TOOL), arguments);
        if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
            return QByteArray();
        return tool.readAllStandardOutput().trimmed();
    };
    const QByteArray publicHex = run({"keygen", "--secret-key", "release.key"});
    QCOMPARE(publicHex.size(), 64);
    QFile setup(work.filePath("setup.sh"));
    QVERIFY(setup.open(QIODevice::WriteOnly));
    setup.write(TestSetupScript);
    setup.close();
    QFile history(work.filePath("history.html"));
    QVERIFY(history.open(QIODevice::WriteOnly));
    history.write("<!-- version:1.5.0.0 timestamp:20261210 -->\n<p>Faster</p>\n");
    history.close();

    TLoopbackHttpServer server;
    const QString setupUrl = server.Url(QStringLiteral("/setup.sh"));
    run({"info", "--secret-key", "release.key", "--version", "1.5.0.0", "--history", "history.html", "--file",
         setupUrl + "=setup.sh", "--output", "update.inf"});
    QFile info(work.filePath("update.inf"));
    QVERIFY(info.open(QIODevice::ReadOnly));
    server.Serve(QStringLiteral("/update.inf"), {200, info.readAll()});
    server.Serve(QStringLiteral("/setup.sh"), {200, TestSetupScript});

    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    std::string message;
    upgrader.OnBeginUpgrade = [&](auto*, const std::string& text, TUpgradeMethod,
                                  const std::vector<std::string>& files, bool&) {
        recorder.Events << QStringLiteral("begin");
        message = text;
        QCOMPARE(files, std::vector<std::string>{setupUrl.toStdString()});
    };
    upgrader.InfoFileURL = server.Url(QStringLiteral("/update.inf")).toStdString();
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.PublicKey = PublicKeyFromHex(publicHex.toStdString());
    QVERIFY(upgrader.PublicKey.has_value());
    upgrader.CheckUpdate();
    QTRY_COMPARE(recorder.Events, (QStringList{"begin", "end", "start"}));
    QCOMPARE(message, std::string("<!-- version:1.5.0.0 timestamp:20261210 -->\n<p>Faster</p>\n"));
    QCOMPARE(recorder.StartedContent, TestSetupScript);
    QDir(recorder.Folder).removeRecursively();
}
#endif

QTEST_GUILESS_MAIN(TestAutoUpgrader)
#include "test_AutoUpgrader.moc"
