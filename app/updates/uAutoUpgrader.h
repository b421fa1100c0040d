#pragma once
// TauAutoUpgrader: checks the maker's web site for a newer version, downloads its setup
// program, verifies it and starts it.
//
// The update information file (docs/update-information-file.md) names the announced
// version, the version history to show and every file to download with its address,
// size and Ed25519 signature. A downloaded file is trusted only when its size and its
// signature under the maker's public key match; only then is it made executable and
// started. The transfers run on Qt Network's own threads; every event reaches the
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
    lfBadSignature = -4,    // the bytes are not signed by the maker's key
    lfNoPublicKey = -5,     // this build carries no key, so nothing can be verified
    lfCannotStore = -6,     // the private download folder or file could not be written
    lfCannotStart = -7,     // the verified setup program could not be started
};

using TPublicKey = std::array<std::uint8_t, 32>;
using TSignature = std::array<std::uint8_t, 64>;

struct TUpdateFile {
    std::string URL;
    std::int64_t Size = 0;
    TSignature Signature{};
};

struct TUpdateInformation {
    std::string Version;
    std::string Message;  // UTF-8 HTML version history
    std::vector<TUpdateFile> Files;
};

// Reads an update information file; nullopt (and a reason in error) when it is not one.
[[nodiscard]] std::optional<TUpdateInformation> ParseUpdateInformation(const QByteArray& document,
                                                                       QString* error = nullptr);

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
    [[nodiscard]] bool Verify(const TUpdateFile& file, int& code);

    QNetworkAccessManager* FNetwork = nullptr;
    QNetworkReply* FReply = nullptr;
    std::uint64_t FGeneration = 0;
    std::deque<std::function<void()>> FPending;
    bool FDelivering = false;
    bool FDestroying = false;

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
};
