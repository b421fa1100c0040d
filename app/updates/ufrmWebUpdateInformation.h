#pragma once
// The window in which the user decides whether to install a newer version: it shows the
// running version and the version history that the update information file carries.

#include <QDialog>
#include <QString>
#include <QTextBrowser>

#include <string>

class QFrame;
class QLabel;
class QPushButton;

// The viewer of the version history. The history is HTML from the network; a viewer that
// fetched what it names would read any local file or device an <img> or a style sheet
// points at (a device without end, a pipe that never answers). It fetches nothing.
class THistoryBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override;
};

class TfrmUpdateInformation : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUpdateInformation(QWidget* owner);

    // The longest history shown, in characters; a longer one is cut at a line break
    // before this length and ends with a note saying so.
    static constexpr qsizetype MaxHistoryLength = 256 * 1024;
    static constexpr char TruncatedHistoryNote[] =
        "<p><i>The version history is too long to be shown here in full.</i></p>";

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
