#include "uAutoUpgrader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

// An information file is a few kilobytes of history; anything much larger is not one.
constexpr qint64 MaxInformationFileSize = 4 * 1024 * 1024;
// The events carry sizes as 32-bit integers.
constexpr std::int64_t MaxDownloadSize = std::numeric_limits<int>::max();
// A transfer that moves no byte for this long is given up.
constexpr int StalledTransferMs = 30000;
constexpr int MaxRedirects = 5;

std::optional<std::vector<unsigned long long>> VersionParts(std::string_view text)
{
    std::vector<unsigned long long> parts;
    if (text.empty())
        return std::nullopt;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part =
            text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (part.empty() ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        unsigned long long value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (error != std::errc() || end != part.data() + part.size())
            return std::nullopt;
        parts.push_back(value);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return parts;
}

bool HexToBytes(std::string_view hex, std::uint8_t* out, std::size_t size)
{
    if (hex.size() != size * 2)
        return false;
    std::size_t length = 0;
    return sodium_hex2bin(out, size, hex.data(), hex.size(), nullptr, &length, nullptr) == 0 &&
           length == size;
}

// Failures that mean the web site could not be talked to at all.
bool IsUnreachable(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:  // the stalled-transfer timeout
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return true;
    default:
        return false;
    }
}

// Failures of a transfer that had begun: the connection, not the file, is at fault.
bool IsConnectionLost(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

// The file name under which a download is kept: the last segment of its address, cut
// down to characters that mean nothing to a file system or a command line.
QString LocalFileName(const std::string& url, std::size_t index)
{
    QString name = QUrl(QString::fromStdString(url)).fileName();
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    name.replace(unsafe, QStringLiteral("_"));
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    if (name.isEmpty())
        name = QStringLiteral("setup");
    return QStringLiteral("%1-%2").arg(index + 1).arg(name);
}

bool DefaultStartSetupAndQuit(const QString& program, const QStringList& arguments)
{
    // Started directly, without a shell, so that nothing in the arguments is interpreted.
    if (!QProcess::startDetached(program, arguments, QFileInfo(program).absolutePath()))
        return false;
    QCoreApplication::quit();
    return true;
}

int ClampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<int>::max()));
}

}  // namespace

std::optional<int> CompareVersionNumbers(std::string_view a, std::string_view b)
{
    const auto left = VersionParts(a);
    const auto right = VersionParts(b);
    if (!left || !right)
        return std::nullopt;
    const std::size_t count = std::max(left->size(), right->size());
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned long long x = i < left->size() ? (*left)[i] : 0;
        const unsigned long long y = i < right->size() ? (*right)[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool IsAllowedUpdateAddress(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    // Plain HTTP can be read and changed by anyone on the way; only a server on this
    // machine (a test's) is spared that risk.
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

std::optional<TPublicKey> PublicKeyFromHex(std::string_view hex)
{
    TPublicKey key{};
    if (!HexToBytes(hex, key.data(), key.size()))
        return std::nullopt;
    return key;
}

std::optional<TUpdateInformation> ParseUpdateInformation(const QByteArray& document, QString* error)
{
    auto fail = [error](const QString& reason) -> std::optional<TUpdateInformation> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (json.isNull())
        return fail(QStringLiteral("not JSON: ") + parseError.errorString());
    if (!json.isObject())
        return fail(QStringLiteral("not a JSON object"));
    const QJsonObject root = json.object();
    if (root.value(QStringLiteral("format")).toInt(0) != 1)
        return fail(QStringLiteral("unknown format"));

    TUpdateInformation information;
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isString() || !VersionParts(version.toString().toStdString()))
        return fail(QStringLiteral("version is not a dot-separated list of numbers"));
    information.Version = version.toString().toStdString();
    const QJsonValue message = root.value(QStringLiteral("message"));
    if (!message.isString())
        return fail(QStringLiteral("message is not a text"));
    information.Message = message.toString().toStdString();

    const QJsonValue files = root.value(QStringLiteral("files"));
    if (!files.isArray() || files.toArray().isEmpty())
        return fail(QStringLiteral("files is not a non-empty list"));
    for (const QJsonValue& entry : files.toArray()) {
        const QJsonObject object = entry.toObject();
        TUpdateFile file;
        const QJsonValue url = object.value(QStringLiteral("url"));
        if (!url.isString() || url.toString().isEmpty())
            return fail(QStringLiteral("a file has no url"));
        file.URL = url.toString().toStdString();
        const QJsonValue size = object.value(QStringLiteral("size"));
        const double sizeValue = size.toDouble(-1);
        if (!size.isDouble() || sizeValue < 0 || sizeValue > static_cast<double>(MaxDownloadSize) ||
            sizeValue != static_cast<double>(static_cast<std::int64_t>(sizeValue)))
            return fail(QStringLiteral("a file's size is not a whole number of bytes below 2 GiB"));
        file.Size = static_cast<std::int64_t>(sizeValue);
        const std::string signature = object.value(QStringLiteral("signature")).toString().toStdString();
        if (!HexToBytes(signature, file.Signature.data(), file.Signature.size()))
            return fail(QStringLiteral("a file's signature is not 128 hex digits"));
        information.Files.push_back(std::move(file));
    }
    return information;
}

TauAutoUpgrader::TauAutoUpgrader(QObject* owner)
    : QObject(owner), PublicKey(PublicKeyFromHex(TARNWICK_UPDATE_PUBLIC_KEY)),
      StartSetupAndQuit(DefaultStartSetupAndQuit), FNetwork(new QNetworkAccessManager(this))
{
    if (sodium_init() < 0)
        PublicKey.reset();  // without a working libsodium nothing can be verified
}

TauAutoUpgrader::~TauAutoUpgrader()
{
    FDestroying = true;
    Abandon();
}

QString TauAutoUpgrader::DownloadFolder() const
{
    return FFolder ? FFolder->path() : QString();
}

void TauAutoUpgrader::Post(std::function<void()> step)
{
    const std::uint64_t generation = FGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation, step = std::move(step)]() {
            if (generation == FGeneration && !FDestroying)
                Deliver(step);
        },
        Qt::QueuedConnection);
}

void TauAutoUpgrader::Deliver(std::function<void()> step)
{
    // A handler may run a modal dialog, whose event loop would otherwise let the next
    // network signal call into the owner while the first handler is still on the stack.
    FPending.push_back(std::move(step));
    if (FDelivering)
        return;
    FDelivering = true;
    QPointer<TauAutoUpgrader> alive(this);
    while (!FPending.empty()) {
        auto next = std::move(FPending.front());
        FPending.pop_front();
        next();
        if (!alive)
            return;
    }
    FDelivering = false;
}

void TauAutoUpgrader::Abandon()
{
    ++FGeneration;
    FPending.clear();
    if (FReply) {
        QNetworkReply* reply = FReply;
        FReply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    FFile.reset();
    FFolder.reset();  // removes the private folder and whatever was downloaded into it
    FFiles.clear();
    FLocalFiles.clear();
}

QNetworkReply* TauAutoUpgrader::StartGet(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setTransferTimeout(StalledTransferMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    FReply = FNetwork->get(request);
    QNetworkReply* reply = FReply;
    connect(reply, &QNetworkReply::redirected, this, [reply](const QUrl& target) {
        // A redirect may not lead from HTTPS to plain HTTP elsewhere.
        if (IsAllowedUpdateAddress(target))
            emit reply->redirectAllowed();
        else
            reply->abort();
    });
    return reply;
}

void TauAutoUpgrader::CheckUpdate()
{
    Abandon();
    FCurrentFileURL.clear();
    const QUrl url(QString::fromStdString(InfoFileURL));
    if (!IsAllowedUpdateAddress(url)) {
        Post([this] {
            if (OnNoInfoFile)
                OnNoInfoFile(this);
        });
        return;
    }
    QNetworkReply* reply = StartGet(url);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > MaxInformationFileSize)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this] { Post([this] { InfoFileFinished(); }); });
}

void TauAutoUpgrader::InfoFileFinished()
{
    QNetworkReply* reply = FReply;
    if (!reply)
        return;
    FReply = nullptr;
    reply->deleteLater();

    const QUrl url = reply->request().url();
    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (error != QNetworkReply::NoError && status == 0 && IsUnreachable(error)) {
        if (OnHostUnreachable)
            OnHostUnreachable(this, InfoFileURL, url.host().toStdString());
        return;
    }
    QString reason;
    const auto information = error == QNetworkReply::NoError && status == 200
                                 ? ParseUpdateInformation(reply->readAll(), &reason)
                                 : std::nullopt;
    if (!information) {
        if (OnNoInfoFile)
            OnNoInfoFile(this);
        return;
    }
    const auto order = CompareVersionNumbers(information->Version, VersionNumber);
    if (!order) {
        // The running version is not a number list, so no announcement can be placed
        // against it.
        if (OnNoInfoFile)
            OnNoInfoFile(this);
        return;
    }
    if (*order <= 0) {
        if (OnNoUpdateAvailable)
            OnNoUpdateAvailable(this);
        return;
    }
    BeginUpgrade(*information);
}

void TauAutoUpgrader::BeginUpgrade(const TUpdateInformation& information)
{
    std::vector<std::string> urls;
    for (const TUpdateFile& file : information.Files)
        urls.push_back(file.URL);
    bool canUpgrade = true;
    const std::uint64_t generation = FGeneration;
    if (OnBeginUpgrade)
        OnBeginUpgrade(this, information.Message, InfoFile.UpgradeMethod, urls, canUpgrade);
    if (!canUpgrade || generation != FGeneration || FDestroying)
        return;

    FFiles = information.Files;
    FFileIndex = 0;
    FAnyFileLost = false;
    FBytesBefore = 0;
    FTotalBytes = 0;
    for (const TUpdateFile& file : FFiles)
        FTotalBytes += file.Size;
    FFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarnwick-update-XXXXXX"));
    // QTemporaryDir makes the folder for its owner alone; say so explicitly, since the
    // verified setup program is started from it.
    if (!FFolder->isValid() ||
        !QFile::setPermissions(FFolder->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        FFolder.reset();
        FCurrentFileURL = FFiles.front().URL;
        FileLost(lfCannotStore);
        return;
    }
    DownloadNext();
}

void TauAutoUpgrader::DownloadNext()
{
    if (FFileIndex >= FFiles.size()) {
        FinishUpgrade();
        return;
    }
    const TUpdateFile& file = FFiles[FFileIndex];
    FCurrentFileURL = file.URL;
    const QUrl url(QString::fromStdString(file.URL));
    if (!PublicKey) {
        FileLost(lfNoPublicKey);
        return;
    }
    if (!IsAllowedUpdateAddress(url)) {
        FileLost(lfAddressRefused);
        return;
    }
    const QString localName = FFolder->filePath(LocalFileName(file.URL, FFileIndex));
    FFile = std::make_unique<QFile>(localName);
    if (!FFile->open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner)) {
        FFile.reset();
        FileLost(lfCannotStore);
        return;
    }
    FFileBytes = 0;
    FFileTooLong = false;
    FWriteFailed = false;
    FFileStartedMs = QDateTime::currentMSecsSinceEpoch();

    QNetworkReply* reply = StartGet(url);
    connect(reply, &QNetworkReply::readyRead, this, &TauAutoUpgrader::FileDataArrived);
    connect(reply, &QNetworkReply::finished, this, [this] {
        FileDataArrived();
        Post([this] { FileFinished(); });
    });
}

void TauAutoUpgrader::FileDataArrived()
{
    if (!FReply || !FFile || FFileTooLong || FWriteFailed || !FReply->isOpen())
        return;
    const std::int64_t declared = FFiles[FFileIndex].Size;
    const int status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200) {
        FReply->readAll();  // an error page is not the file
        return;
    }
    const QByteArray data = FReply->readAll();
    if (data.isEmpty())
        return;
    if (FFileBytes + data.size() > declared) {
        // Stop at once: a server that sends more than was announced is not sending the
        // announced file, and may be trying to fill the disk.
        FFileTooLong = true;
        FReply->abort();
        return;
    }
    if (FFile->write(data) != data.size()) {
        FWriteFailed = true;
        FReply->abort();
        return;
    }
    FFileBytes += data.size();

    const std::int64_t read = FFileBytes;
    const std::uint64_t generation = FGeneration;
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - FFileStartedMs;
    Post([this, read, declared, elapsed, generation] {
        if (generation != FGeneration || !OnProgress)
            return;
        const auto percent = static_cast<std::uint8_t>(declared > 0 ? read * 100 / declared : 100);
        const std::int64_t total = FBytesBefore + read;
        const auto totalPercent =
            static_cast<std::uint8_t>(FTotalBytes > 0 ? total * 100 / FTotalBytes : 100);
        const float rate =
            elapsed > 0 ? static_cast<float>(read) * 1000.0f / static_cast<float>(elapsed) : 0.0f;
        const std::int64_t left = read > 0 ? elapsed * (declared - read) / read : 0;
        OnProgress(this, FCurrentFileURL, ClampToInt(declared), ClampToInt(read), ClampToInt(elapsed),
                   ClampToInt(left), percent, totalPercent, rate);
    });
}

void TauAutoUpgrader::FileFinished()
{
    QNetworkReply* reply = FReply;
    if (!reply)
        return;
    FReply = nullptr;
    reply->deleteLater();
    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool written = !FWriteFailed && FFile->flush();
    FFile->close();

    const TUpdateFile& file = FFiles[FFileIndex];
    if (FFileTooLong) {
        FileLost(lfWrongSize);
        return;
    }
    if (!written) {
        FileLost(lfCannotStore);
        return;
    }
    if (status != 0 && status != 200) {
        FileLost(status);
        return;
    }
    if (error != QNetworkReply::NoError) {
        if (IsConnectionLost(error)) {
            FFile->remove();
            FFile.reset();
            FFolder.reset();
            if (OnConnLost)
                OnConnLost(this);
            return;
        }
        FileLost(lfTransferFailed);
        return;
    }
    int code = 0;
    if (!Verify(file, code)) {
        FileLost(code);
        return;
    }
    FLocalFiles.push_back(FFile->fileName());
    FFile.reset();
    FBytesBefore += file.Size;
    ++FFileIndex;
    DownloadNext();
}

bool TauAutoUpgrader::Verify(const TUpdateFile& file, int& code)
{
    if (FFile->size() != file.Size) {
        code = lfWrongSize;
        return false;
    }
    if (!PublicKey) {
        code = lfNoPublicKey;
        return false;
    }
    if (!FFile->open(QIODevice::ReadOnly)) {
        code = lfCannotStore;
        return false;
    }
    static const unsigned char empty = 0;
    const unsigned char* bytes = &empty;
    if (file.Size > 0) {
        bytes = FFile->map(0, file.Size);
        if (!bytes) {
            FFile->close();
            code = lfCannotStore;
            return false;
        }
    }
    const bool genuine =
        crypto_sign_verify_detached(file.Signature.data(), bytes, static_cast<unsigned long long>(file.Size),
                                    PublicKey->data()) == 0;
    FFile->close();  // also unmaps
    if (!genuine)
        code = lfBadSignature;
    return genuine;
}

void TauAutoUpgrader::FileLost(int code)
{
    // Whatever was received of a lost file is of no use and must never be started.
    if (FFile) {
        FFile->remove();
        FFile.reset();
    }
    FAnyFileLost = true;
    bool continueUpgrade = false;
    const std::uint64_t generation = FGeneration;
    if (OnLostFile)
        OnLostFile(this, FCurrentFileURL, code, continueUpgrade);
    if (generation != FGeneration || FDestroying)
        return;
    if (continueUpgrade && FFolder && FFileIndex + 1 < FFiles.size()) {
        FBytesBefore += FFiles[FFileIndex].Size;
        ++FFileIndex;
        DownloadNext();
        return;
    }
    // The upgrade is abandoned, or ends with a file missing: nothing is started.
    FFolder.reset();
    FFiles.clear();
    FLocalFiles.clear();
}

void TauAutoUpgrader::FinishUpgrade()
{
    if (FAnyFileLost) {
        FFolder.reset();
        return;
    }
    bool restartImmediately = true;
    const std::uint64_t generation = FGeneration;
    if (OnEndUpgrade)
        OnEndUpgrade(this, restartImmediately);
    if (generation != FGeneration || FDestroying)
        return;
    if (!restartImmediately || FLocalFiles.empty()) {
        FFolder.reset();
        return;
    }
    // The first file is the setup program; any others are its companions in the folder.
    const QString setup = FLocalFiles.front();
    const QStringList arguments = QProcess::splitCommand(QString::fromStdString(RestartParams));
    if (!QFile::setPermissions(setup, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !StartSetupAndQuit || !StartSetupAndQuit(setup, arguments)) {
        FCurrentFileURL = FFiles.front().URL;
        FFileIndex = FFiles.size();
        FileLost(lfCannotStart);
        return;
    }
    // The setup program runs from the folder, so it stays.
    FFolder->setAutoRemove(false);
}
