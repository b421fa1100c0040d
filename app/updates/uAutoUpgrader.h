#pragma once
// TauAutoUpgrader: checks the maker's web site for a newer version, downloads its setup
// program, verifies it and starts it.
//
// The update information file (docs/update-information-file.md) carries one text signed
// with the maker's Ed25519 key: the announced version, the version history to show,
// every file to download with its name, address, size and SHA-256, and which of them is
// started. The signature is checked before anything is downloaded, so that whoever
// controls the file or a redirect can neither announce an old setup program under a new
// version nor make a companion file the program that runs; a version that is not newer
// than the running one is never offered. A downloaded file is trusted only when its size
// and its SHA-256 are the signed ones; only then is the named program made executable
// and started. The transfers run on Qt Network's own threads; every event reaches the
// caller on the thread that owns the component, after CheckUpdate has returned, and
// never while another event handler of this component is still running.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryDir;
class QTimer;
class QUrl;

enum TUpgradeMethod {
    // The download is a setup program that the component starts.
    umUseExternalSetup,
};

enum TVersionControl {
    // Versions are dot-separated numbers compared number by number.
    byNumber,
};

// The outcomes for which a component with a user interface would show a message box of
// its own. This component shows none; the setting records which ones its owner leaves
// to it, and an owner that reports every outcome itself leaves only the password
// request, which this component answers by failing the transfer.
enum TUpgradeMessage {
    mAskUpgrade,
    mConnLost,
    mHostUnreachable,
    mLostFile,
    mNoInfoFile,
    mNoUpdateAvailable,
    mPasswordRequest,
};
using TUpgradeMessages = std::set<TUpgradeMessage>;

// Why a file was lost, as passed to OnLostFile. A positive code is the HTTP status the
// server answered with.
enum TLostFileCode : int {
    lfTransferFailed = -1,  // the transfer failed without an HTTP status
    lfAddressRefused = -2,  // neither HTTPS nor a loopback address
    lfWrongSize = -3,       // more or fewer bytes than the information file lists
    lfBadSignature = -4,    // the bytes are not the ones the maker signed (their SHA-256)
    lfNoPublicKey = -5,     // this build carries no key, so nothing can be verified
    lfCannotStore = -6,     // the private download folder or file could not be written
    lfCannotStart = -7,     // the verified setup program could not be started
    lfTimedOut = -8,        // the downloads took too long, or data came too slowly
};

using TPublicKey = std::array<std::uint8_t, 32>;
using TSignature = std::array<std::uint8_t, 64>;
using TSha256 = std::array<std::uint8_t, 32>;

// What the maker's signature is made over: this text, then the signed text itself. The
// prefix keeps a signature of anything else made with the same key from ever passing for
// the signature of an information file.
inline constexpr char UpdateInformationSignaturePrefix[] = "Tarnwick update information\n";

struct TUpdateFile {
    std::string Name;  // the name it is stored and started under
    std::string URL;
    std::int64_t Size = 0;
    TSha256 Sha256{};
};

struct TUpdateInformation {
    std::string Version;
    std::string Message;  // UTF-8 HTML version history
    std::vector<TUpdateFile> Files;
    std::string Run;          // the name of the file that is started
    std::string Package;      // the name of the package file for installed copies; may be empty
    std::string PackagePage;  // the web page of the new package; may be empty
    bool Verified = false;    // the signature was checked against a key and holds
};

// Bounds on the work of one check. The defaults fit any real release with room to spare;
// tests set small ones.
struct TUpdateLimits {
    std::size_t MaxFiles = 16;
    std::int64_t MaxTotalBytes = 0x7fffffff;  // all files together; the events carry 32-bit sizes
    int DeadlineMs = 30 * 60 * 1000;          // the information file, and then all downloads together
    int RateWindowMs = 60 * 1000;             // a transfer must move MinBytesPerWindow in every such period
    std::int64_t MinBytesPerWindow = 64 * 1024;
};

// Reads an update information file; nullopt (and a reason in error) when it is not one.
// With a key, a document whose signature does not hold under it is not one either;
// without a key the content is read unverified (Verified false), which is enough to show
// it and never enough to download or start anything.
[[nodiscard]] std::optional<TUpdateInformation> ParseUpdateInformation(const QByteArray& document,
                                                                       const std::optional<TPublicKey>& key,
                                                                       const TUpdateLimits& limits = {},
                                                                       QString* error = nullptr);

// Whether name is fit to be a file name in the download folder and on a command line:
// letters, digits, ".", "_" and "-" only, not starting with a dot (so never "." or "..",
// nor hidden), at most 128 characters.
[[nodiscard]] bool IsSafeUpdateFileName(std::string_view name);

// The name the maker's tool gives a file published at url: the last segment of the
// address, every other character made "_", leading dots dropped; empty when nothing is
// left.
[[nodiscard]] std::string SafeFileNameFromUrl(const std::string& url);

// Whether a program whose executable lies in executableFolder runs from the installed
// package, that is from the folder the build installs its programs to (both compared as
// real paths). An empty installBinFolder means the build has no install location.
[[nodiscard]] bool IsInstalledLocation(const QString& executableFolder, const QString& installBinFolder);

// Compares two versions number by number, missing trailing numbers counting as 0:
// negative, 0 or positive as a is older than, the same as or newer than b; nullopt when
// either is not a dot-separated list of decimal numbers.
[[nodiscard]] std::optional<int> CompareVersionNumbers(std::string_view a, std::string_view b);

// Whether the component may fetch from url: HTTPS anywhere, plain HTTP only to this
// machine's loopback addresses.
[[nodiscard]] bool IsAllowedUpdateAddress(const QUrl& url);

// A key from 64 hex digits; nullopt for anything else (the empty text included).
[[nodiscard]] std::optional<TPublicKey> PublicKeyFromHex(std::string_view hex);

class TauAutoUpgrader : public QObject {
    Q_OBJECT
public:
    struct TInfoFileSettings {
        TUpgradeMethod UpgradeMethod = umUseExternalSetup;
    };
    struct TWizardSettings {
        // The component has no window of its own; the owner reports every outcome.
        bool Enabled = false;
    };

    explicit TauAutoUpgrader(QObject* owner = nullptr);
    ~TauAutoUpgrader() override;

    // Settings.
    std::string InfoFileURL;
    TInfoFileSettings InfoFile;
    std::string RestartParams;
    TVersionControl VersionControl = byNumber;
    std::string VersionNumber;
    TUpgradeMessages ShowMessages{mPasswordRequest};
    TWizardSettings Wizard;
    // The maker's key; the build's key by default, none when the build has none.
    std::optional<TPublicKey> PublicKey;
    TUpdateLimits Limits;
    // When set (by the owner, from OnBeginUpgrade), the upgrade downloads only the
    // announced package file, verifies it as any download, and stores it under this path
    // instead of starting anything; OnPackageSaved reports it.
    QString SavePackageTo;

    // Starts the verified setup program with the given arguments and ends the running
    // program; false when the program could not be started. Tests replace it.
    std::function<bool(const QString& program, const QStringList& arguments)> StartSetupAndQuit;

    // Starts a check and returns at once; the outcome arrives through the events. A
    // check that is still running is abandoned without further events.
    void CheckUpdate();

    // The address of the file being downloaded (or last downloaded); empty before.
    [[nodiscard]] const std::string& CurrentFileURL() const { return FCurrentFileURL; }
    // The private folder of the current download; empty when there is none.
    [[nodiscard]] QString DownloadFolder() const;
    // The announcement being offered, from OnBeginUpgrade on; null before.
    [[nodiscard]] const TUpdateInformation* Announcement() const
    {
        return FAnnouncement ? &*FAnnouncement : nullptr;
    }

    // Events.
    std::function<void(TauAutoUpgrader* Sender, const std::string& URL, const std::string& Hostname)>
        OnHostUnreachable;
    std::function<void(TauAutoUpgrader* Sender)> OnNoInfoFile;
    std::function<void(TauAutoUpgrader* Sender)> OnNoUpdateAvailable;
    std::function<void(TauAutoUpgrader* Sender, const std::string& UpgradeMsg, TUpgradeMethod UpgradeMethod,
                       const std::vector<std::string>& Files, bool& CanUpgrade)>
        OnBeginUpgrade;
    std::function<void(TauAutoUpgrader* Sender, const std::string& FileURL, int FileSize, int BytesRead,
                       int ElapsedTime, int EstimatedTimeLeft, std::uint8_t PercentsDone,
                       std::uint8_t TotalPercentsDone, float TransferRate)>
        OnProgress;
    std::function<void(TauAutoUpgrader* Sender, const std::string& FileURL, int ErrorCode,
                       bool& ContinueUpgrade)>
        OnLostFile;
    std::function<void(TauAutoUpgrader* Sender)> OnConnLost;
    std::function<void(TauAutoUpgrader* Sender, bool& RestartImediately)> OnEndUpgrade;
    std::function<void(TauAutoUpgrader* Sender, const QString& Path)> OnPackageSaved;

private:
    // A GET under the update rules: redirects only to allowed addresses, stalled
    // transfers end, nothing from a cache. The reply is also FReply.
    QNetworkReply* StartGet(const QUrl& url);
    void Post(std::function<void()> step);
    void Deliver(std::function<void()> step);
    void Abandon();
    void InfoFileFinished();
    void BeginUpgrade(const TUpdateInformation& information);
    void DownloadNext();
    void FileDataArrived();
    void FileFinished();
    void FileLost(int code);
    void FinishUpgrade();
    void SavePackage();
    [[nodiscard]] bool Verify(const TUpdateFile& file, int& code);
    // The deadline and the rate rule over the transfers of one phase: the information
    // file, or the downloads. Watch starts a phase, WatchTransfer a transfer within it.
    void Watch();
    void WatchTransfer();
    void Unwatch();
    void WatchTick();
    void TimeOut();

    QNetworkAccessManager* FNetwork = nullptr;
    QNetworkReply* FReply = nullptr;
    std::uint64_t FGeneration = 0;
    std::deque<std::function<void()>> FPending;
    bool FDelivering = false;
    bool FDestroying = false;

    std::optional<TUpdateInformation> FAnnouncement;
    QString FPackageTarget;
    std::vector<TUpdateFile> FFiles;
    std::size_t FFileIndex = 0;
    std::vector<QString> FLocalFiles;
    bool FAnyFileLost = false;
    std::unique_ptr<QTemporaryDir> FFolder;
    std::unique_ptr<QFile> FFile;
    std::int64_t FFileBytes = 0;
    bool FFileTooLong = false;
    bool FWriteFailed = false;
    std::int64_t FBytesBefore = 0;
    std::int64_t FTotalBytes = 0;
    qint64 FFileStartedMs = 0;
    std::string FCurrentFileURL;
    QTimer* FDeadline = nullptr;
    QTimer* FRateTimer = nullptr;
    std::int64_t FWindowBytes = 0;
    bool FTimedOut = false;
};
