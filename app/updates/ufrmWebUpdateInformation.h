#pragma once
// The window in which the user decides whether to install a newer version: it shows the
// running version and the version history that the update information file carries.

#include <QDialog>
#include <QString>

#include <string>

class QFrame;
class QLabel;
class QPushButton;
class QTextBrowser;

class TfrmUpdateInformation : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUpdateInformation(QWidget* owner);

    // Fills the window from the message text of the update information file (UTF-8).
    void SetUpdateMessage(const std::string& message);

    // Finds the first version marker of the history and keeps its version in
    // LatestVersion; rejoins the lines of text, each ended by CR LF.
    void ScanVersionHistory(QString& text);

    // True after SetUpdateMessage when the history's newest version is the running one.
    [[nodiscard]] bool IsLatestVersion() const { return FIsLatestVersion; }
    [[nodiscard]] const QString& CurrentVersion() const { return FCurrentVersion; }
    [[nodiscard]] const QString& LatestVersion() const { return FLatestVersion; }

    QLabel* Image1 = nullptr;
    QLabel* lblCurrentVersion = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* Label4 = nullptr;
    QTextBrowser* htmlWhatsNew = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* btnUpdate = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void FormShow();

    QString FCurrentVersion;
    QString FLatestVersion;
    bool FIsLatestVersion = false;
};
