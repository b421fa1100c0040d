// The upgrade component on its own: version order, the information file's checks, the
// address rule, and what it does with a download before anything is started.

#include "uAutoUpgrader.h"
#include "uLoopbackHttpServer.h"
#include "uUpdateTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
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
    void fileNames_data();
    void fileNames();
    void namesFromAddresses_data();
    void namesFromAddresses();
    void installedLocation_data();
    void installedLocation();
    void informationFileSizeLimit_data();
    void informationFileSizeLimit();
    void eventsArriveAfterCheckReturns();
    void downloads_data();
    void downloads();
    void signedAnnouncements_data();
    void signedAnnouncements();
    void limits_data();
    void limits();
    void savesThePackage_data();
    void savesThePackage();
#ifdef TARNWICK_SIGN_TOOL
    void signingToolReleaseIsAccepted();
    void signingToolCommandLine_data();
    void signingToolCommandLine();
    void signingToolVerify_data();
    void signingToolVerify();
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

namespace {

// One key for the tables and the tests that read them.
const TTestKeyPair& TableKey()
{
    static const TTestKeyPair key;
    return key;
}

QJsonObject TableFile(const QString& name, double size)
{
    return {{"name", name}, {"url", "https://h/" + name}, {"size", size}, {"sha256", QString(64, 'a')}};
}

// A complete signed text; change replaces or (with a null value) drops fields.
QByteArray TableDocument(const QJsonObject& change, const QJsonArray& files = {TableFile("setup.sh", 10)})
{
    QJsonObject text{{"product", "tarnwick"},
                     {"version", "1.5.0.0"},
                     {"message", "m"},
                     {"run", "setup.sh"},
                     {"files", files}};
    for (auto it = change.begin(); it != change.end(); ++it) {
        if (it.value().isNull())
            text.remove(it.key());
        else
            text[it.key()] = it.value();
    }
    const QByteArray bytes = QJsonDocument(text).toJson(QJsonDocument::Compact);
    return InformationEnvelope(bytes, TableKey().InformationSignatureHex(bytes));
}

}  // namespace

void TestAutoUpgrader::brokenInformationFiles_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("valid");
    const QJsonValue dropped(QJsonValue::Null);
    const QByteArray good = TableDocument({});
    QTest::newRow("complete") << good << true;
    QTest::newRow("not JSON") << QByteArray("[version]\nnumber=1.5") << false;
    QTest::newRow("a list") << QByteArray("[1,2]") << false;
    QTest::newRow("unsigned format 1")
        << QByteArray(
               "{\"format\":1,\"version\":\"1.5.0.0\",\"message\":\"m\",\"files\":[{\"url\":\"https://h/s\","
               "\"size\":10,\"signature\":\"" +
               QByteArray(128, 'a') + "\"}]}")
        << false;
    QTest::newRow("format 3") << QByteArray(good).replace("\"format\": 2", "\"format\": 3") << false;
    {
        QJsonObject envelope = QJsonDocument::fromJson(good).object();
        QString text = envelope["signed"].toString();
        text.replace("1.5.0.0", "1.6.0.0");
        envelope["signed"] = text;
        QTest::newRow("signed text changed after signing") << QJsonDocument(envelope).toJson() << false;
        envelope = QJsonDocument::fromJson(good).object();
        QByteArray signature = envelope["signature"].toString().toLatin1();
        signature[0] = signature[0] == '0' ? '1' : '0';
        envelope["signature"] = QString::fromLatin1(signature);
        QTest::newRow("signature changed") << QJsonDocument(envelope).toJson() << false;
        envelope["signature"] = QString(128, 'g');
        QTest::newRow("signature not hex") << QJsonDocument(envelope).toJson() << false;
        envelope.remove("signature");
        QTest::newRow("no signature") << QJsonDocument(envelope).toJson() << false;
        const TTestKeyPair other;
        const QByteArray bytes = QJsonDocument::fromJson(good).object()["signed"].toString().toUtf8();
        QTest::newRow("signed by another key")
            << InformationEnvelope(bytes, other.InformationSignatureHex(bytes)) << false;
        // A signature of the same text without the prefix: what signing the bytes of a
        // file (the old scheme) would give.
        TSignature plain{};
        crypto_sign_detached(plain.data(), nullptr, reinterpret_cast<const unsigned char*>(bytes.constData()),
                             bytes.size(), TableKey().Secret.data());
        QTest::newRow("signed without the prefix")
            << InformationEnvelope(bytes, QByteArray(reinterpret_cast<const char*>(plain.data()), 64).toHex())
            << false;
    }
    QTest::newRow("another product") << TableDocument({{"product", "other"}}) << false;
    QTest::newRow("version with letters") << TableDocument({{"version", "1.5-beta"}}) << false;
    QTest::newRow("no files") << TableDocument({}, QJsonArray{}) << false;
    QTest::newRow("run names no file") << TableDocument({{"run", "other.sh"}}) << false;
    QTest::newRow("no run") << TableDocument({{"run", dropped}}) << false;
    QTest::newRow("package names a file")
        << TableDocument({{"package", "t.deb"}}, QJsonArray{TableFile("setup.sh", 10), TableFile("t.deb", 5)})
        << true;
    QTest::newRow("package names no file") << TableDocument({{"package", "t.deb"}}) << false;
    QTest::newRow("package page over HTTPS")
        << TableDocument({{"packagePage", "https://h/tarnwick/"}}) << true;
    QTest::newRow("package page over HTTP")
        << TableDocument({{"packagePage", "http://h/tarnwick/"}}) << false;
    QTest::newRow("two files of one name")
        << TableDocument({}, QJsonArray{TableFile("setup.sh", 10), TableFile("setup.sh", 10)}) << false;
    QTest::newRow("the largest file")
        << TableDocument({}, QJsonArray{TableFile("setup.sh", 2147483647.0)}) << true;
    QTest::newRow("2 GiB") << TableDocument({}, QJsonArray{TableFile("setup.sh", 2147483648.0)}) << false;
    QTest::newRow("2 GiB together") << TableDocument({}, QJsonArray{TableFile("setup.sh", 1073741824.0),
                                                                    TableFile("b", 1073741824.0)})
                                    << false;
    QTest::newRow("negative size") << TableDocument({}, QJsonArray{TableFile("setup.sh", -1)}) << false;
    QTest::newRow("fractional size") << TableDocument({}, QJsonArray{TableFile("setup.sh", 1.5)}) << false;
    {
        QJsonObject file = TableFile("setup.sh", 10);
        file["size"] = "10";
        QTest::newRow("size as text") << TableDocument({}, QJsonArray{file}) << false;
        file = TableFile("setup.sh", 10);
        file["sha256"] = QString(62, 'a');
        QTest::newRow("short sha256") << TableDocument({}, QJsonArray{file}) << false;
        file = TableFile("setup.sh", 10);
        file.remove("url");
        QTest::newRow("no url") << TableDocument({}, QJsonArray{file}) << false;
        file = TableFile("setup.sh", 10);
        file["name"] = "../setup.sh";
        QTest::newRow("name leaves the folder")
            << TableDocument({{"run", "../setup.sh"}}, QJsonArray{file}) << false;
    }
    QJsonArray many;
    for (int i = 0; i < 17; ++i)
        many.append(TableFile(i == 0 ? QStringLiteral("setup.sh") : QStringLiteral("f%1").arg(i), 1));
    QTest::newRow("more than 16 files") << TableDocument({}, many) << false;
    many.removeLast();
    QTest::newRow("16 files") << TableDocument({}, many) << true;
}

void TestAutoUpgrader::brokenInformationFiles()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, valid);
    QString reason;
    const auto information = ParseUpdateInformation(document, TableKey().Public, {}, &reason);
    QCOMPARE(information.has_value(), valid);
    QCOMPARE(reason.isEmpty(), valid);
    if (valid) {
        QVERIFY(information->Verified);
        QCOMPARE(information->Version, std::string("1.5.0.0"));
        QCOMPARE(information->Run, std::string("setup.sh"));
        QCOMPARE(information->Files[0].Name, std::string("setup.sh"));
        QCOMPARE(information->Files[0].URL, std::string("https://h/setup.sh"));
        QCOMPARE(information->Files[0].Sha256[0], std::uint8_t(0xaa));
    }
    // Without a key the same text is read but never counted as verified.
    const auto unverified = ParseUpdateInformation(document, std::nullopt);
    if (unverified)
        QVERIFY(!unverified->Verified);
}

void TestAutoUpgrader::fileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");
    QTest::newRow("setup program") << "tarnwick-setup-1.4.0.20.sh" << true;
    QTest::newRow("package") << "tarnwick_1.4.0.20_amd64.deb" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("hidden") << ".profile" << false;
    QTest::newRow("a folder") << "bin/sh" << false;
    QTest::newRow("backslash") << "bin\\sh" << false;
    QTest::newRow("blank") << "setup 1.sh" << false;
    QTest::newRow("option-like is still plain") << "-rf" << true;
    QTest::newRow("shell characters") << "a;b" << false;
    QTest::newRow("not ASCII") << QString::fromUtf8("s\xc3\xa9tup") << false;
    QTest::newRow("128 characters") << QString(128, 'a') << true;
    QTest::newRow("129 characters") << QString(129, 'a') << false;
}

void TestAutoUpgrader::fileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(IsSafeUpdateFileName(name.toStdString()), safe);
}

void TestAutoUpgrader::namesFromAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "https://h/downloads/setup-1.5.sh"
                           << "setup-1.5.sh";
    QTest::newRow("query and fragment") << "https://h/d/setup.sh?x=1/2#y"
                                        << "setup.sh";
    QTest::newRow("leading dots") << "https://h/d/..setup.sh"
                                  << "setup.sh";
    QTest::newRow("dot dot") << "https://h/d/.."
                             << "";
    QTest::newRow("ends in a slash") << "https://h/d/"
                                     << "";
    QTest::newRow("odd characters") << "https://h/d/set up;$(x).sh"
                                    << "set_up___x_.sh";
    QTest::newRow("escaped slash stays escaped") << "https://h/d/a%2F..%2Fb"
                                                 << "a_2F.._2Fb";
}

void TestAutoUpgrader::namesFromAddresses()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    const std::string made = SafeFileNameFromUrl(url.toStdString());
    QCOMPARE(QString::fromStdString(made), name);
    QCOMPARE(IsSafeUpdateFileName(made), !name.isEmpty());
}

void TestAutoUpgrader::installedLocation_data()
{
    QTest::addColumn<QString>("running");  // relative to a temporary folder; "" for none
    QTest::addColumn<QString>("installed");
    QTest::addColumn<bool>("expected");
    QTest::newRow("the install folder") << "usr/bin"
                                        << "usr/bin" << true;
    QTest::newRow("through a link") << "link"
                                    << "usr/bin" << true;
    QTest::newRow("with a trailing slash") << "usr/bin/"
                                           << "usr/bin" << true;
    QTest::newRow("a build tree") << "build/dev/app"
                                  << "usr/bin" << false;
    QTest::newRow("a folder below it") << "usr/bin/sub"
                                       << "usr/bin" << false;
    QTest::newRow("no install location") << "usr/bin"
                                         << "" << false;
    QTest::newRow("install folder missing") << "usr/bin"
                                            << "opt/none" << false;
}

void TestAutoUpgrader::installedLocation()
{
    QFETCH(QString, running);
    QFETCH(QString, installed);
    QFETCH(bool, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath("usr/bin/sub"));
    QVERIFY(QDir(root.path()).mkpath("build/dev/app"));
    QVERIFY(QFile::link(root.filePath("usr/bin"), root.filePath("link")));
    QCOMPARE(IsInstalledLocation(root.filePath(running),
                                 installed.isEmpty() ? QString() : root.filePath(installed)),
             expected);
}

void TestAutoUpgrader::informationFileSizeLimit_data()
{
    QTest::addColumn<int>("extra");  // bytes over 4 MiB
    QTest::addColumn<QStringList>("events");
    QTest::newRow("4 MiB") << 0 << QStringList{"noupdate"};
    QTest::newRow("one byte more") << 1 << QStringList{"noinfo"};
}

void TestAutoUpgrader::informationFileSizeLimit()
{
    QFETCH(int, extra);
    QFETCH(QStringList, events);
    TLoopbackHttpServer server;
    const TTestKeyPair key;
    QByteArray document =
        key.InformationFile("1.4.0.19", "history", {{server.Url("/s.sh"), 1, Sha256Hex("x")}});
    document.append(QByteArray(4 * 1024 * 1024 + extra - document.size(), ' '));
    server.Serve(QStringLiteral("/update.inf"), {200, document});
    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    upgrader.InfoFileURL = server.Url(QStringLiteral("/update.inf")).toStdString();
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.PublicKey = key.Public;
    upgrader.CheckUpdate();
    QTRY_COMPARE(recorder.Events, events);
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
    QTest::newRow("other bytes than signed")
        << "other bytes" << QStringList{"begin", "lost"} << int(lfBadSignature);
    QTest::newRow("information signed by another key") << "other key" << QStringList{"noinfo"} << 0;
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
    qint64 listedSize = setup.size();
    QString fileUrl = server.Url(QStringLiteral("/setup.sh"));
    if (variant == "other bytes")
        served[served.size() - 2] = '!';
    else if (variant == "short")
        served.chop(5);
    else if (variant == "long")
        served.append("rm -rf $HOME\n");
    else if (variant == "plain http")
        fileUrl = QStringLiteral("http://downloads.quorvel.example/setup.sh");
    const std::vector<TTestFileEntry> files{
        {fileUrl, listedSize, Sha256Hex(setup), QStringLiteral("setup.sh")}};
    server.Serve(
        QStringLiteral("/update.inf"),
        {200, (variant == "other key" ? otherKey : key).InformationFile("1.5.0.0", "history", files)});
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
    if (variant == "no key" || variant == "plain http" || variant == "other key")
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

void TestAutoUpgrader::signedAnnouncements_data()
{
    // What whoever controls the information file or a redirect could try, with signed
    // pieces of the maker's own releases at hand.
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("lostCode");
    QTest::newRow("the old version's text with a new version number")
        << "tampered" << QStringList{"noinfo"} << 0;
    QTest::newRow("an old signed information file replayed") << "replay" << QStringList{"noupdate"} << 0;
    QTest::newRow("the running version's information file replayed")
        << "replay current" << QStringList{"noupdate"} << 0;
    QTest::newRow("the old setup program served for the new version")
        << "old setup" << QStringList{"begin", "lost"} << int(lfBadSignature);
    QTest::newRow("a companion listed first")
        << "companion first" << QStringList{"begin", "end", "start"} << 0;
    QTest::newRow("an unsigned information file of the old format")
        << "format 1" << QStringList{"noinfo"} << 0;
}

void TestAutoUpgrader::signedAnnouncements()
{
    QFETCH(QString, variant);
    QFETCH(QStringList, events);
    QFETCH(int, lostCode);

    const TTestKeyPair key;
    TLoopbackHttpServer server;
    const QByteArray setup = TestSetupScript;
    QByteArray oldSetup = "#!/bin/sh\necho old $*\n";
    oldSetup.append(QByteArray(setup.size() - oldSetup.size(), '#'));
    const QByteArray companion = "#!/bin/sh\necho companion $*\n";
    const QString setupUrl = server.Url(QStringLiteral("/setup.sh"));
    const QString companionUrl = server.Url(QStringLiteral("/companion.sh"));
    const TTestFileEntry newEntry{setupUrl, setup.size(), Sha256Hex(setup)};
    const TTestFileEntry oldEntry{setupUrl, oldSetup.size(), Sha256Hex(oldSetup)};

    QByteArray information;
    QByteArray served = setup;
    if (variant == "tampered") {
        const QByteArray text = SignedInformationText("1.4.0.18", "history", {oldEntry});
        QByteArray changed = text;
        changed.replace("1.4.0.18", "1.5.0.0");
        information = InformationEnvelope(changed, key.InformationSignatureHex(text));
        served = oldSetup;
    } else if (variant == "replay") {
        information = key.InformationFile("1.4.0.18", "history", {oldEntry});
        served = oldSetup;
    } else if (variant == "replay current") {
        information = key.InformationFile("1.4.0.19", "history", {oldEntry});
        served = oldSetup;
    } else if (variant == "old setup") {
        information = key.InformationFile("1.5.0.0", "history", {newEntry});
        served = oldSetup;
    } else if (variant == "companion first") {
        information = key.InformationFile("1.5.0.0", "history",
                                          {{companionUrl, companion.size(), Sha256Hex(companion)}, newEntry},
                                          QStringLiteral("setup.sh"));
    } else {
        information = "{\"format\":1,\"version\":\"1.5.0.0\",\"message\":\"m\",\"files\":[{\"url\":\"" +
                      setupUrl.toLatin1() + "\",\"size\":" + QByteArray::number(setup.size()) +
                      ",\"signature\":\"" + QByteArray(128, 'a') + "\"}]}";
    }
    server.Serve(QStringLiteral("/update.inf"), {200, information});
    server.Serve(QStringLiteral("/setup.sh"), {200, served});
    server.Serve(QStringLiteral("/companion.sh"), {200, companion});

    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    upgrader.InfoFileURL = server.Url(QStringLiteral("/update.inf")).toStdString();
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.PublicKey = key.Public;
    upgrader.CheckUpdate();
    QTRY_COMPARE(recorder.Events, events);
    QCOMPARE(recorder.LostCode, lostCode);
    if (!events.contains("begin")) {
        // Refused before anything was downloaded.
        QCOMPARE(server.Requests(QStringLiteral("/setup.sh")), 0);
        QCOMPARE(server.Requests(QStringLiteral("/companion.sh")), 0);
    }
    if (variant == "companion first") {
        // The program started is the one the signed text names, not the first listed.
        QCOMPARE(QFileInfo(recorder.StartedProgram).fileName(), QStringLiteral("setup.sh"));
        QCOMPARE(recorder.StartedContent, setup);
        QFile beside(QDir(recorder.Folder).filePath(QStringLiteral("companion.sh")));
        QVERIFY(beside.open(QIODevice::ReadOnly));
        QCOMPARE(beside.readAll(), companion);
        QDir(recorder.Folder).removeRecursively();
    } else {
        QVERIFY(recorder.StartedProgram.isEmpty());
        QVERIFY(upgrader.DownloadFolder().isEmpty());
    }
}

void TestAutoUpgrader::limits_data()
{
    // Small limits so that the slow servers are found out quickly; the defaults are the
    // same rules with room for real releases.
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("lostCode");
    QTest::newRow("at the limits") << "at the limits" << QStringList{"begin", "end", "start"} << 0;
    QTest::newRow("one file too many") << "too many" << QStringList{"noinfo"} << 0;
    QTest::newRow("one byte too many together") << "too large" << QStringList{"noinfo"} << 0;
    QTest::newRow("a download that trickles") << "trickle" << QStringList{"begin", "lost"} << int(lfTimedOut);
    QTest::newRow("downloads past the deadline")
        << "deadline" << QStringList{"begin", "lost"} << int(lfTimedOut);
    QTest::newRow("an information file that trickles")
        << "trickling information" << QStringList{"unreachable:127.0.0.1"} << 0;
}

void TestAutoUpgrader::limits()
{
    QFETCH(QString, variant);
    QFETCH(QStringList, events);
    QFETCH(int, lostCode);

    const TTestKeyPair key;
    TLoopbackHttpServer server;
    const QByteArray setup = TestSetupScript + QByteArray(4000, '#');
    const QByteArray companion = "companion data\n";
    const QByteArray information = key.InformationFile(
        "1.5.0.0", "history",
        {{server.Url(QStringLiteral("/setup.sh")), setup.size(), Sha256Hex(setup)},
         {server.Url(QStringLiteral("/data.txt")), companion.size(), Sha256Hex(companion)}});
    TRoute setupRoute{200, setup};
    TRoute informationRoute{200, information};
    if (variant == "trickle" || variant == "deadline")
        setupRoute.DripEveryMs = variant == "trickle" ? 40 : 5;
    if (variant == "trickling information") {
        informationRoute.HoldAfter = 10;
        informationRoute.DripEveryMs = 40;
    }
    server.Serve(QStringLiteral("/update.inf"), informationRoute);
    server.Serve(QStringLiteral("/setup.sh"), setupRoute);
    server.Serve(QStringLiteral("/data.txt"), {200, companion});

    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    upgrader.InfoFileURL = server.Url(QStringLiteral("/update.inf")).toStdString();
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.PublicKey = key.Public;
    upgrader.Limits.MaxFiles = variant == "too many" ? 1 : 2;
    upgrader.Limits.MaxTotalBytes = setup.size() + companion.size() - (variant == "too large" ? 1 : 0);
    if (variant == "trickle" || variant == "trickling information") {
        // 64 bytes in each 300 ms; the server sends about 8.
        upgrader.Limits.RateWindowMs = 300;
        upgrader.Limits.MinBytesPerWindow = 64;
    } else if (variant == "deadline") {
        // Fast enough for any rate rule, but 4 KiB at 200 bytes a second take 20 s.
        upgrader.Limits.DeadlineMs = 500;
        upgrader.Limits.MinBytesPerWindow = 0;
    }
    upgrader.CheckUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.Events, events, 15000);
    QCOMPARE(recorder.LostCode, lostCode);
    if (variant == "at the limits") {
        QCOMPARE(recorder.StartedContent, setup);
        QDir(recorder.Folder).removeRecursively();
    } else {
        QVERIFY(recorder.StartedProgram.isEmpty());
        QVERIFY(upgrader.DownloadFolder().isEmpty());
    }
    if (variant == "too many" || variant == "too large")
        QCOMPARE(server.Requests(QStringLiteral("/setup.sh")), 0);
}

void TestAutoUpgrader::savesThePackage_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("saved") << true;
    QTest::newRow("the chosen folder does not exist") << false;
}

void TestAutoUpgrader::savesThePackage()
{
    QFETCH(bool, writable);
    const TTestKeyPair key;
    TLoopbackHttpServer server;
    const QByteArray package = "!<arch>\na package\n";
    server.Serve(QStringLiteral("/update.inf"),
                 {200, key.InformationFile(
                           "1.5.0.0", "history",
                           {{server.Url(QStringLiteral("/setup.sh")), TestSetupScript.size(),
                             Sha256Hex(TestSetupScript)},
                            {server.Url(QStringLiteral("/t.deb")), package.size(), Sha256Hex(package)}},
                           {}, QJsonObject{{"package", "t.deb"}})});
    server.Serve(QStringLiteral("/setup.sh"), {200, TestSetupScript});
    server.Serve(QStringLiteral("/t.deb"), {200, package});
    QTemporaryDir target;
    QVERIFY(target.isValid());
    const QString path =
        target.filePath(writable ? QStringLiteral("new.deb") : QStringLiteral("none/new.deb"));

    TauAutoUpgrader upgrader;
    TRecorder recorder;
    recorder.Attach(upgrader);
    upgrader.OnBeginUpgrade = [&](TauAutoUpgrader* sender, const std::string&, TUpgradeMethod,
                                  const std::vector<std::string>&, bool&) {
        recorder.Events << QStringLiteral("begin");
        QVERIFY(sender->Announcement());
        QCOMPARE(sender->Announcement()->Package, std::string("t.deb"));
        sender->SavePackageTo = path;
    };
    QString savedPath;
    upgrader.OnPackageSaved = [&](TauAutoUpgrader*, const QString& saved) {
        recorder.Events << QStringLiteral("saved");
        savedPath = saved;
    };
    upgrader.InfoFileURL = server.Url(QStringLiteral("/update.inf")).toStdString();
    upgrader.VersionNumber = "1.4.0.19";
    upgrader.PublicKey = key.Public;
    upgrader.CheckUpdate();
    const QStringList expected = writable ? QStringList{"begin", "saved"} : QStringList{"begin", "lost"};
    QTRY_COMPARE(recorder.Events, expected);
    QCOMPARE(server.Requests(QStringLiteral("/setup.sh")), 0);
    QVERIFY(recorder.StartedProgram.isEmpty());
    QVERIFY(upgrader.DownloadFolder().isEmpty());
    if (writable) {
        QCOMPARE(savedPath, path);
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), package);
    } else {
        QCOMPARE(recorder.LostCode, int(lfCannotStore));
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

#ifdef TARNWICK_SIGN_TOOL
namespace {

struct TToolRun {
    int Status = -1;
    QByteArray Out;
    QByteArray Err;
};

TToolRun RunSigningTool(const QString& folder, const QStringList& arguments)
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.start(QStringLiteral(TARNWICK_SIGN_TOOL), arguments);
    TToolRun run;
    if (tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit)
        run.Status = tool.exitCode();
    run.Out = tool.readAllStandardOutput();
    run.Err = tool.readAllStandardError();
    return run;
}

}  // namespace

void TestAutoUpgrader::signingToolCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("out");  // texts standard output must contain
    QTest::addColumn<bool>("error");       // one "tarnwick-sign: " line on standard error
    QTest::newRow("version") << QStringList{"--version"} << 0
                             << QStringList{"tarnwick-sign " TARNWICK_TEST_PROJECT_VERSION "\n"} << false;
    QTest::newRow("help") << QStringList{"--help"} << 0
                          << QStringList{"--version",      "keygen",   "--secret-key", "info",
                                         "--history",      "--file",   "--run",        "--package ",
                                         "--package-page", "--output", "verify",       "--public-key",
                                         "--info",         "--dir",    "Exit status",  "  2  "}
                          << false;
    QTest::newRow("no command") << QStringList{} << 2 << QStringList{} << true;
    QTest::newRow("unknown option") << QStringList{"keygen", "--secret", "k"} << 2 << QStringList{} << true;
    QTest::newRow("missing option") << QStringList{"verify", "--info", "u.inf"} << 2 << QStringList{} << true;
    QTest::newRow("no such key file")
        << QStringList{"info",   "--secret-key",        "none.key", "--version", "1.5", "--history", "h.html",
                       "--file", "https://h/s.sh=s.sh", "--output", "u.inf"}
        << 1 << QStringList{} << true;
    QTest::newRow("version not a number")
        << QStringList{"info",   "--secret-key", "release.key",         "--version", "1.5b", "--history",
                       "h.html", "--file",       "https://h/s.sh=s.sh", "--output",  "u.inf"}
        << 1 << QStringList{} << true;
    QTest::newRow("address without a file name")
        << QStringList{"info",   "--secret-key", "release.key",         "--version", "1.5",  "--history",
                       "h.html", "--file",       "https://h/d/..=s.sh", "--output",  "u.inf"}
        << 1 << QStringList{} << true;
    QTest::newRow("run names no file")
        << QStringList{"info",      "--secret-key", "release.key", "--version",           "1.5",
                       "--history", "h.html",       "--file",      "https://h/s.sh=s.sh", "--run",
                       "other.sh",  "--output",     "u.inf"}
        << 1 << QStringList{} << true;
}

void TestAutoUpgrader::signingToolCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, out);
    QFETCH(bool, error);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QCOMPARE(RunSigningTool(work.path(), {"keygen", "--secret-key", "release.key"}).Status, 0);
    for (const char* name : {"h.html", "s.sh"}) {
        QFile file(work.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<p>x</p>\n");
    }
    const TToolRun run = RunSigningTool(work.path(), arguments);
    QCOMPARE(run.Status, status);
    for (const QString& text : out)
        QVERIFY2(run.Out.contains(text.toUtf8()), qPrintable(text));
    if (error) {
        QVERIFY2(run.Err.startsWith("tarnwick-sign: "), run.Err.constData());
        QVERIFY(run.Err.endsWith('\n'));
        QCOMPARE(run.Err.count('\n'), 1);
        QVERIFY(!QFileInfo::exists(work.filePath("u.inf")));
    } else {
        QCOMPARE(run.Err, QByteArray());
    }
}

void TestAutoUpgrader::signingToolVerify_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("says");
    QTest::newRow("as signed") << "good" << 0 << QByteArray("good ");
    QTest::newRow("a file changed") << "changed" << 1 << QByteArray("BAD  ");
    QTest::newRow("the signed text changed") << "tampered" << 1 << QByteArray("signature does not match");
    QTest::newRow("a name that leaves the folder") << "outside" << 1 << QByteArray("not a plain file name");
}

void TestAutoUpgrader::signingToolVerify()
{
    QFETCH(QString, variant);
    QFETCH(int, status);
    QFETCH(QByteArray, says);
    const TTestKeyPair key;
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir("dist"));
    auto write = [&work](const QString& name, const QByteArray& bytes) {
        QFile file(work.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("dist/setup.sh", TestSetupScript);
    // The same bytes beside the folder: found only by a tool that follows "..".
    write("outside.sh", TestSetupScript);
    const QString name = variant == "outside" ? QStringLiteral("../outside.sh") : QStringLiteral("setup.sh");
    QByteArray text = SignedInformationText(
        "1.5.0.0", "history",
        {{QStringLiteral("https://h/d/setup.sh"), TestSetupScript.size(), Sha256Hex(TestSetupScript), name}},
        name);
    const QByteArray signature = key.InformationSignatureHex(text);
    if (variant == "tampered")
        text.replace("1.5.0.0", "1.6.0.0");
    write("update.inf", InformationEnvelope(text, signature));
    if (variant == "changed")
        write("dist/setup.sh", TestSetupScript + "\n");

    const QByteArray publicHex =
        QByteArray(reinterpret_cast<const char*>(key.Public.data()), int(key.Public.size())).toHex();
    const TToolRun run =
        RunSigningTool(work.path(), {"verify", "--public-key", QString::fromLatin1(publicHex), "--info",
                                     "update.inf", "--dir", "dist"});
    QCOMPARE(run.Status, status);
    QVERIFY2((run.Out + run.Err).contains(says), (run.Out + run.Err).constData());
    QCOMPARE(run.Out.contains("good "), variant == "good");
}
#endif

QTEST_GUILESS_MAIN(TestAutoUpgrader)
#include "test_AutoUpgrader.moc"
