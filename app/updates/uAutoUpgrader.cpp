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
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
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

constexpr std::size_t MaxFileNameLength = 128;

bool IsSafeNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
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

bool IsSafeUpdateFileName(std::string_view name)
{
    return !name.empty() && name.size() <= MaxFileNameLength && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), IsSafeNameCharacter);
}

std::string SafeFileNameFromUrl(const std::string& url)
{
    // The segment after the last slash, before any query or fragment.
    std::string name = url.substr(0, url.find_first_of("?#"));
    name = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    for (char& c : name)
        if (!IsSafeNameCharacter(c))
            c = '_';
    name.erase(0,
               name.find_first_not_of('.') == std::string::npos ? name.size() : name.find_first_not_of('.'));
    if (name.size() > MaxFileNameLength)
        name.resize(MaxFileNameLength);
    return name;
}

bool IsInstalledLocation(const QString& executableFolder, const QString& installBinFolder)
{
    if (executableFolder.isEmpty() || installBinFolder.isEmpty())
        return false;
    const QString running = QFileInfo(executableFolder).canonicalFilePath();
    const QString installed = QFileInfo(installBinFolder).canonicalFilePath();
    return !running.isEmpty() && running == installed;
}

std::optional<TUpdateInformation> ParseUpdateInformation(const QByteArray& document,
                                                         const std::optional<TPublicKey>& key,
                                                         const TUpdateLimits& limits, QString* error)
{
    auto fail = [error](const QString& reason) -> std::optional<TUpdateInformation> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument outer = QJsonDocument::fromJson(document, &parseError);
    if (outer.isNull())
        return fail(QStringLiteral("not JSON: ") + parseError.errorString());
    if (!outer.isObject())
        return fail(QStringLiteral("not a JSON object"));
    const QJsonObject envelope = outer.object();
    // Format 1 listed files with signatures of their bytes only; it is refused, since
    // accepting it would bring back everything the signed text is there to prevent.
    if (envelope.value(QStringLiteral("format")).toInt(0) != 2)
        return fail(QStringLiteral("unknown format"));
    const QJsonValue signedValue = envelope.value(QStringLiteral("signed"));
    if (!signedValue.isString())
        return fail(QStringLiteral("signed is not a text"));
    const QByteArray signedText = signedValue.toString().toUtf8();
    TSignature signature{};
    if (!HexToBytes(envelope.value(QStringLiteral("signature")).toString().toStdString(), signature.data(),
                    signature.size()))
        return fail(QStringLiteral("the signature is not 128 hex digits"));
    if (key) {
        const QByteArray message = QByteArray(UpdateInformationSignaturePrefix) + signedText;
        if (crypto_sign_verify_detached(signature.data(),
                                        reinterpret_cast<const unsigned char*>(message.constData()),
                                        static_cast<unsigned long long>(message.size()), key->data()) != 0)
            return fail(QStringLiteral("the signature does not match the maker's key"));
    }

    const QJsonDocument json = QJsonDocument::fromJson(signedText, &parseError);
    if (!json.isObject())
        return fail(QStringLiteral("the signed text is not a JSON object"));
    const QJsonObject root = json.object();
    if (root.value(QStringLiteral("product")).toString() != QLatin1String("tarnwick"))
        return fail(QStringLiteral("the information is not about this program"));

    TUpdateInformation information;
    information.Verified = key.has_value();
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
    if (static_cast<std::size_t>(files.toArray().size()) > limits.MaxFiles)
        return fail(QStringLiteral("more files than an update may have"));
    std::int64_t total = 0;
    std::set<std::string> names;
    for (const QJsonValue& entry : files.toArray()) {
        const QJsonObject object = entry.toObject();
        TUpdateFile file;
        file.Name = object.value(QStringLiteral("name")).toString().toStdString();
        if (!IsSafeUpdateFileName(file.Name))
            return fail(QStringLiteral("a file's name is not a plain file name"));
        if (!names.insert(file.Name).second)
            return fail(QStringLiteral("two files have the same name"));
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
        total += file.Size;
        if (total > limits.MaxTotalBytes)
            return fail(QStringLiteral("the files are larger together than an update may be"));
        const std::string hash = object.value(QStringLiteral("sha256")).toString().toStdString();
        if (!HexToBytes(hash, file.Sha256.data(), file.Sha256.size()))
            return fail(QStringLiteral("a file's sha256 is not 64 hex digits"));
        information.Files.push_back(std::move(file));
    }
    information.Run = root.value(QStringLiteral("run")).toString().toStdString();
    if (!names.count(information.Run))
        return fail(QStringLiteral("run does not name one of the files"));
    const QJsonValue package = root.value(QStringLiteral("package"));
    if (!package.isUndefined()) {
        information.Package = package.toString().toStdString();
        if (!names.count(information.Package))
            return fail(QStringLiteral("package does not name one of the files"));
    }
    const QJsonValue page = root.value(QStringLiteral("packagePage"));
    if (!page.isUndefined()) {
        information.PackagePage = page.toString().toStdString();
        if (!IsAllowedUpdateAddress(QUrl(QString::fromStdString(information.PackagePage))))
            return fail(QStringLiteral("packagePage is not an HTTPS address"));
    }
    return information;
}

TauAutoUpgrader::TauAutoUpgrader(QObject* owner)
    : QObject(owner), PublicKey(PublicKeyFromHex(TARNWICK_UPDATE_PUBLIC_KEY)),
      StartSetupAndQuit(DefaultStartSetupAndQuit), FNetwork(new QNetworkAccessManager(this)),
      FDeadline(new QTimer(this)), FRateTimer(new QTimer(this))
{
    if (sodium_init() < 0)
        PublicKey.reset();  // without a working libsodium nothing can be verified
    FDeadline->setSingleShot(true);
    connect(FDeadline, &QTimer::timeout, this, [this] { TimeOut(); });
    connect(FRateTimer, &QTimer::timeout, this, [this] { WatchTick(); });
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

void TauAutoUpgrader::Watch()
{
    FTimedOut = false;
    FDeadline->start(std::max(Limits.DeadlineMs, 1));
}

void TauAutoUpgrader::WatchTransfer()
{
    // The stall timeout of each request ends a transfer that moves nothing at all; this
    // also ends one that keeps itself open by moving a byte now and then.
    FWindowBytes = 0;
    FRateTimer->start(std::max(Limits.RateWindowMs, 1));
}

void TauAutoUpgrader::Unwatch()
{
    FDeadline->stop();
    FRateTimer->stop();
}

void TauAutoUpgrader::WatchTick()
{
    if (FReply && FWindowBytes < Limits.MinBytesPerWindow) {
        TimeOut();
        return;
    }
    FWindowBytes = 0;
}

void TauAutoUpgrader::TimeOut()
{
    Unwatch();
    FTimedOut = true;
    if (FReply)
        FReply->abort();  // its finished signal reports the outcome
}

void TauAutoUpgrader::Abandon()
{
    ++FGeneration;
    FPending.clear();
    Unwatch();
    FTimedOut = false;
    FAnnouncement.reset();
    FPackageTarget.clear();
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
    SavePackageTo.clear();  // the owner chooses again for every announcement
    const QUrl url(QString::fromStdString(InfoFileURL));
    if (!IsAllowedUpdateAddress(url)) {
        Post([this] {
            if (OnNoInfoFile)
                OnNoInfoFile(this);
        });
        return;
    }
    Watch();
    QNetworkReply* reply = StartGet(url);
    WatchTransfer();
    auto counted = std::make_shared<qint64>(0);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply, counted](qint64 received, qint64) {
        FWindowBytes += received - *counted;
        *counted = received;
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
    Unwatch();

    const QUrl url = reply->request().url();
    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A server too slow to hand over a few kilobytes in time is as good as unreachable.
    if (FTimedOut || (error != QNetworkReply::NoError && status == 0 && IsUnreachable(error))) {
        if (OnHostUnreachable)
            OnHostUnreachable(this, InfoFileURL, url.host().toStdString());
        return;
    }
    QString reason;
    // The progress signal stops a long transfer early; a body that arrived whole before
    // it could is held to the same limit here.
    const QByteArray body = reply->read(MaxInformationFileSize + 1);
    const auto information =
        error == QNetworkReply::NoError && status == 200 && body.size() <= MaxInformationFileSize
            ? ParseUpdateInformation(body, PublicKey, Limits, &reason)
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
    // Also what keeps an old signed information file, replayed, from offering the
    // version it once announced.
    if (*order <= 0) {
        if (OnNoUpdateAvailable)
            OnNoUpdateAvailable(this);
        return;
    }
    FAnnouncement = *information;
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

    FPackageTarget = SavePackageTo;
    FFiles.clear();
    if (FPackageTarget.isEmpty()) {
        FFiles = information.Files;
    } else {
        for (const TUpdateFile& file : information.Files)
            if (file.Name == information.Package)
                FFiles.push_back(file);
    }
    FCurrentFileURL = information.Files.front().URL;
    if (FFiles.empty()) {
        FileLost(lfCannotStore);  // there is no package to save
        return;
    }
    // Without a key the information was read unverified: nothing of it is fetched.
    if (!information.Verified || !PublicKey) {
        FCurrentFileURL = FFiles.front().URL;
        FileLost(lfNoPublicKey);
        return;
    }
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
    Watch();
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
    if (FTimedOut) {  // the deadline passed between two files
        FileLost(lfTimedOut);
        return;
    }
    const QUrl url(QString::fromStdString(file.URL));
    if (!PublicKey) {
        FileLost(lfNoPublicKey);
        return;
    }
    if (!IsAllowedUpdateAddress(url)) {
        FileLost(lfAddressRefused);
        return;
    }
    const QString localName = FFolder->filePath(QString::fromStdString(file.Name));
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
    WatchTransfer();
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
    FWindowBytes += data.size();
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
    if (FTimedOut) {
        FileLost(lfTimedOut);
        return;
    }
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
            Unwatch();
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
    TSha256 hash{};
    crypto_hash_sha256(hash.data(), bytes, static_cast<unsigned long long>(file.Size));
    const bool genuine = sodium_memcmp(hash.data(), file.Sha256.data(), hash.size()) == 0;
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
    Unwatch();
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
    Unwatch();
    if (FAnyFileLost) {
        FFolder.reset();
        return;
    }
    if (!FPackageTarget.isEmpty()) {
        SavePackage();
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
    // Only the file the signed text names is started, wherever it stands in the list; the
    // others are its companions in the folder.
    const auto run = std::find_if(FFiles.begin(), FFiles.end(), [this](const TUpdateFile& file) {
        return file.Name == FAnnouncement->Run;
    });
    if (run == FFiles.end() || FLocalFiles.size() != FFiles.size()) {
        FFolder.reset();
        return;
    }
    const QString setup = FLocalFiles[static_cast<std::size_t>(run - FFiles.begin())];
    const QStringList arguments = QProcess::splitCommand(QString::fromStdString(RestartParams));
    if (!QFile::setPermissions(setup, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !StartSetupAndQuit || !StartSetupAndQuit(setup, arguments)) {
        FCurrentFileURL = run->URL;
        FFileIndex = FFiles.size();
        FileLost(lfCannotStart);
        return;
    }
    // The setup program runs from the folder, so it stays.
    FFolder->setAutoRemove(false);
}

void TauAutoUpgrader::SavePackage()
{
    // Written beside the target and renamed over it only when complete, so that a failed
    // copy leaves neither a cut package nor a changed old file.
    const QString target = FPackageTarget;
    QFile verified(FLocalFiles.front());
    QSaveFile out(target);
    bool saved = verified.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly);
    while (saved && !verified.atEnd()) {
        const QByteArray part = verified.read(1 << 20);
        saved = !part.isEmpty() && out.write(part) == part.size();
    }
    saved = saved && out.commit();
    verified.close();
    if (!saved) {
        out.cancelWriting();
        FFileIndex = FFiles.size();
        FileLost(lfCannotStore);
        return;
    }
    FFolder.reset();
    FFiles.clear();
    FLocalFiles.clear();
    if (OnPackageSaved)
        OnPackageSaved(this, target);
}
