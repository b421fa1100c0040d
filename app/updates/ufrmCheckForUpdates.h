#pragma once
// The update check window: runs a check through its upgrade component 200 ms after it
// is shown, reports each outcome in a status line and a memo, offers a retry, and lets
// the update information window decide whether a newer version is installed.
//
// A copy installed by a package manager does not replace its own files: for it a newer
// version is handed to the user instead, as the package file saved where the user
// chooses (verified like any download) or, when the announcement names no package, as
// its download page opened in the browser.

#include "uAutoUpgrader.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class TfrmCheckForUpdates : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCheckForUpdates(QWidget* owner);
    ~TfrmCheckForUpdates() override;

    static constexpr int HelpContext = 31400;
    static constexpr char InfoFileAddress[] = "https://www.quorvel.example/downloads/tarnwick/update.inf";

    // The outcome of the latest event of autoUpgrade (see ShowStatus).
    [[nodiscard]] std::uint8_t OutcomeState() const { return FState; }

    QLabel* Image1 = nullptr;
    QLabel* lblStatus = nullptr;
    QPlainTextEdit* mmMemo = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* btnRetry = nullptr;
    QPushButton* btnClose = nullptr;
    QTimer* timerUpdate = nullptr;
    TauAutoUpgrader* autoUpgrade = nullptr;

    // Whether this copy runs from the installed package; asked at each check. By default
    // the executable's folder is compared with the build's install location.
    std::function<bool()> RunsFromInstalledPackage;
    // Asks where the new package is to be saved, suggesting its name; empty: nowhere.
    std::function<QString(const QString& suggestedName)> ChoosePackageFile;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void TntFormCreate();
    void TntFormShow();
    void TntFormClose();
    void timerUpdateTimer();
    void btnRetryClick();
    void ShowStatus();
    void AddMessage(const QString& text);
    void SetHourglass(bool on);

    void autoUpgradeHostUnreachable(TauAutoUpgrader* Sender, const std::string& URL,
                                    const std::string& Hostname);
    void autoUpgradeNoInfoFile(TauAutoUpgrader* Sender);
    void autoUpgradeNoUpdateAvailable(TauAutoUpgrader* Sender);
    void autoUpgradeBeginUpgrade(TauAutoUpgrader* Sender, const std::string& UpgradeMsg,
                                 TUpgradeMethod UpgradeMethod, const std::vector<std::string>& Files,
                                 bool& CanUpgrade);
    void autoUpgradeProgress(TauAutoUpgrader* Sender, const std::string& FileURL, int FileSize, int BytesRead,
                             int ElapsedTime, int EstimatedTimeLeft, std::uint8_t PercentsDone,
                             std::uint8_t TotalPercentsDone, float TransferRate);
    void autoUpgradeLostFile(TauAutoUpgrader* Sender, const std::string& FileURL, int ErrorCode,
                             bool& ContinueUpgrade);
    void autoUpgradeConnLost(TauAutoUpgrader* Sender);
    void autoUpgradeEndUpgrade(TauAutoUpgrader* Sender, bool& RestartImediately);
    void autoUpgradePackageSaved(TauAutoUpgrader* Sender, const QString& Path);
    // For an installed copy: hands the accepted announcement to the user; true when the
    // package file is to be downloaded.
    bool OfferPackage(TauAutoUpgrader* Sender);

    std::uint8_t FState = 0;
    bool FHourglass = false;
};
