#include "ufrmCheckForUpdates.h"

#include "uDialogs.h"
#include "uShellOpen.h"
#include "uVersionInfo.h"
#include "ufrmWebUpdateInformation.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QWhatsThis>

#include <iterator>
#include <memory>

namespace {

// The message-translation lookup: every text this window shows goes through it. The
// program installs no translator, so each text comes back as written.
QString Translated(const char* text)
{
    return QCoreApplication::translate("TfrmCheckForUpdates", text);
}

QString FromNarrow(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The version this window's definition carries, kept when the running program has no
// version resource.
constexpr char DefinitionVersionNumber[] = "1.2.0.5";

// Where "Segoe UI" is installed the dialog uses it one point larger than designed;
// elsewhere it falls back to the designed Tahoma 8. Controls with a font of their own
// are moved along by the same step.
void ApplyDialogFont(QWidget* window)
{
    const QString segoe = QStringLiteral("Segoe UI");
    QString name;
    int size = 0;
    int step = 0;
    if (window->font().family().compare(segoe, Qt::CaseInsensitive) != 0 && QFontDatabase::hasFamily(segoe)) {
        name = segoe;
        size = window->font().pointSize() + 1;
        step = 1;
    } else {
        name = QStringLiteral("Tahoma");
        size = 8;
    }
    window->setFont(QFont(name, size));
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (auto* viewer = qobject_cast<QTextBrowser*>(child)) {
            QFont font = viewer->document()->defaultFont();
            font.setFamily(name);
            font.setPointSize(font.pointSize() + step);
            viewer->document()->setDefaultFont(font);
        } else if (qobject_cast<QLabel*>(child) && child->testAttribute(Qt::WA_SetFont)) {
            QFont font = child->font();
            font.setFamily(name);
            font.setPointSize(font.pointSize() + step);
            child->setFont(font);
        }
    }
}

}  // namespace

TfrmCheckForUpdates::TfrmCheckForUpdates(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::WindowContextHelpButtonHint)
{
    setWindowTitle(QStringLiteral("Check For Updates"));
    setFixedSize(459, 289);
    setFont(QFont(QStringLiteral("Tahoma"), 8));

    Image1 = new QLabel(this);
    Image1->setGeometry(14, 14, 48, 48);
    Image1->setPixmap(ProgramPicture());

    lblStatus = new QLabel(QStringLiteral("..."), this);
    lblStatus->setGeometry(72, 24, 370, 16);
    lblStatus->setTextFormat(Qt::PlainText);

    mmMemo = new QPlainTextEdit(this);
    mmMemo->setGeometry(16, 72, 425, 145);
    mmMemo->setReadOnly(true);
    mmMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Bevel1 = new QFrame(this);
    Bevel1->setGeometry(16, 224, 425, 10);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    btnRetry = new QPushButton(QStringLiteral("&Retry"), this);
    btnRetry->setGeometry(280, 248, 75, 25);
    btnRetry->setEnabled(false);
    connect(btnRetry, &QPushButton::clicked, this, [this] { btnRetryClick(); });

    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setGeometry(368, 248, 75, 25);
    btnClose->setDefault(true);
    btnClose->setEnabled(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(mmMemo, btnRetry);
    setTabOrder(btnRetry, btnClose);

    timerUpdate = new QTimer(this);
    timerUpdate->setInterval(200);
    connect(timerUpdate, &QTimer::timeout, this, [this] { timerUpdateTimer(); });

    autoUpgrade = new TauAutoUpgrader(this);
    autoUpgrade->InfoFileURL = InfoFileAddress;
    autoUpgrade->InfoFile.UpgradeMethod = umUseExternalSetup;
    autoUpgrade->RestartParams = "/suppressmsgboxes /verysilent";
    autoUpgrade->VersionControl = byNumber;
    autoUpgrade->VersionNumber = DefinitionVersionNumber;
    autoUpgrade->ShowMessages = {mPasswordRequest};
    autoUpgrade->Wizard.Enabled = false;
    autoUpgrade->OnHostUnreachable = [this](auto... a) { autoUpgradeHostUnreachable(a...); };
    autoUpgrade->OnNoInfoFile = [this](auto... a) { autoUpgradeNoInfoFile(a...); };
    autoUpgrade->OnNoUpdateAvailable = [this](auto... a) { autoUpgradeNoUpdateAvailable(a...); };
    autoUpgrade->OnBeginUpgrade = [this](auto* s, const auto& m, auto u, const auto& f, bool& c) {
        autoUpgradeBeginUpgrade(s, m, u, f, c);
    };
    autoUpgrade->OnProgress = [this](auto... a) { autoUpgradeProgress(a...); };
    autoUpgrade->OnLostFile = [this](auto* s, const auto& u, int e, bool& c) {
        autoUpgradeLostFile(s, u, e, c);
    };
    autoUpgrade->OnConnLost = [this](auto... a) { autoUpgradeConnLost(a...); };
    autoUpgrade->OnEndUpgrade = [this](auto* s, bool& r) { autoUpgradeEndUpgrade(s, r); };
    autoUpgrade->OnPackageSaved = [this](auto* s, const QString& p) { autoUpgradePackageSaved(s, p); };

    RunsFromInstalledPackage = [] {
        return IsInstalledLocation(QCoreApplication::applicationDirPath(),
                                   QStringLiteral(TARNWICK_INSTALL_BINDIR));
    };
    ChoosePackageFile = [this](const QString& suggestedName) {
        return QFileDialog::getSaveFileName(this, Translated("Save the new package"),
                                            QDir::home().filePath(suggestedName));
    };

    TntFormCreate();
}

TfrmCheckForUpdates::~TfrmCheckForUpdates()
{
    SetHourglass(false);
}

void TfrmCheckForUpdates::TntFormCreate()
{
    ApplyDialogFont(this);
    if (const auto version = VersionResourceValue("FileVersion"))
        autoUpgrade->VersionNumber = *version;
}

void TfrmCheckForUpdates::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    TntFormShow();
}

void TfrmCheckForUpdates::TntFormShow()
{
    timerUpdate->start();
}

void TfrmCheckForUpdates::done(int result)
{
    TntFormClose();
    QDialog::done(result);
}

void TfrmCheckForUpdates::TntFormClose()
{
    SetHourglass(false);
}

bool TfrmCheckForUpdates::event(QEvent* event)
{
    if (event->type() == QEvent::EnterWhatsThisMode) {
        // The title bar's help button asks for this window's help topic (HelpContext)
        // instead of turning the pointer into a question mark. The program registers
        // no help file, so the request is answered with nothing. The mode is left once
        // every window has heard of it, not in the middle of telling them.
        QMetaObject::invokeMethod(qApp, &QWhatsThis::leaveWhatsThisMode, Qt::QueuedConnection);
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void TfrmCheckForUpdates::SetHourglass(bool on)
{
    if (on == FHourglass)
        return;
    FHourglass = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmCheckForUpdates::timerUpdateTimer()
{
    timerUpdate->stop();
    btnClose->setEnabled(false);
    btnRetry->setEnabled(false);
    mmMemo->clear();
    QCoreApplication::processEvents();
    lblStatus->setText(Translated("Checking for updates ..."));
    SetHourglass(true);
    QCoreApplication::processEvents();
    try {
        autoUpgrade->CheckUpdate();
    } catch (...) {
        SetHourglass(false);
        throw;
    }
    SetHourglass(false);
}

void TfrmCheckForUpdates::btnRetryClick()
{
    timerUpdate->start();
}

void TfrmCheckForUpdates::ShowStatus()
{
    SetHourglass(false);
    struct Row {
        const char* status;
        bool buttons;
        bool hourglass;
    };
    static constexpr Row rows[] = {
        {"Failed with errors", true, false},      // 0 host unreachable
        {"Failed with errors", true, false},      // 1 no information file
        {"Completed", true, false},               // 2 no update available
        {"Downloading updates...", false, true},  // 3 update accepted
        {"Failed with errors", true, false},      // 4 file lost
        {"Failed with errors", true, false},      // 5 connection lost
        {"Completed", true, false},               // 6 update declined
        {"Completed", true, false},               // 7 new package handed to the user
    };
    if (FState >= std::size(rows))
        return;
    const Row& row = rows[FState];
    lblStatus->setText(Translated(row.status));
    btnClose->setEnabled(row.buttons);
    btnRetry->setEnabled(row.buttons);
    SetHourglass(row.hourglass);
}

void TfrmCheckForUpdates::AddMessage(const QString& text)
{
    mmMemo->appendPlainText(text);
}

void TfrmCheckForUpdates::autoUpgradeHostUnreachable(TauAutoUpgrader*, const std::string&,
                                                     const std::string& Hostname)
{
    FState = 0;
    AddMessage(Translated("Failed to contact web site to retrieve update information: ") +
               FromNarrow(Hostname));
    ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeNoInfoFile(TauAutoUpgrader*)
{
    FState = 1;
    AddMessage(Translated("The update information file could not be retrieved."));
    ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeNoUpdateAvailable(TauAutoUpgrader*)
{
    FState = 2;
    AddMessage(Translated("The version you are using is the latest version."));
    ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeBeginUpgrade(TauAutoUpgrader* Sender, const std::string& UpgradeMsg,
                                                  TUpgradeMethod, const std::vector<std::string>&,
                                                  bool& CanUpgrade)
{
    bool latest = false;
    const bool installed = RunsFromInstalledPackage && RunsFromInstalledPackage();
    {
        auto information = std::make_unique<TfrmUpdateInformation>(this);
        information->SetUpdateMessage(UpgradeMsg);
        if (installed)
            information->btnUpdate->setText(Translated("&Download"));
        CanUpgrade = ExecModal(*information) == QDialog::Accepted;
        latest = information->IsLatestVersion();
    }
    mmMemo->setUpdatesEnabled(false);
    bool handed = false;  // the new version went to the user in another way
    if (CanUpgrade && installed && !OfferPackage(Sender)) {
        CanUpgrade = false;
        handed = FState == 7;
    }
    if (CanUpgrade) {
        btnRetry->setEnabled(false);
        btnClose->setEnabled(false);
        FState = 3;
    } else if (!handed) {
        FState = 6;
        AddMessage(Translated("Update skipped"));
    }
    mmMemo->setUpdatesEnabled(true);
    ShowStatus();
    if (latest)
        done(QDialog::Accepted);
}

void TfrmCheckForUpdates::autoUpgradeProgress(TauAutoUpgrader*, const std::string& FileURL, int, int, int,
                                              int, std::uint8_t PercentsDone, std::uint8_t, float)
{
    mmMemo->clear();
    AddMessage(Translated("Downloading: ") + FromNarrow(FileURL));
    AddMessage(QStringLiteral("  ") + Translated("Progress: ") + QString::number(PercentsDone) +
               QStringLiteral("%"));
}

void TfrmCheckForUpdates::autoUpgradeLostFile(TauAutoUpgrader*, const std::string& FileURL, int,
                                              bool& ContinueUpgrade)
{
    mmMemo->setPlainText(
        Translated("Tarnwick failed to download the new setup file from %s.  Please try again later.")
            .replace(QStringLiteral("%s"), FromNarrow(FileURL)));
    FState = 4;
    ShowStatus();
    ContinueUpgrade = false;
}

void TfrmCheckForUpdates::autoUpgradeConnLost(TauAutoUpgrader* Sender)
{
    // The event names no file; the component knows which one it was fetching.
    mmMemo->setPlainText(
        Translated("Tarnwick failed to download the new setup file from %s.  The connection was "
                   "lost.  Please try again later.")
            .replace(QStringLiteral("%s"), FromNarrow(Sender->CurrentFileURL())));
    FState = 5;
    ShowStatus();
}

void TfrmCheckForUpdates::autoUpgradeEndUpgrade(TauAutoUpgrader*, bool&)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Tarnwick"),
                    Translated("Tarnwick will now close to allow the update to proceed.  Once the update has "
                               "completed, Tarnwick will restart."),
                    QMessageBox::Ok, this);
    (void)ExecModal(box);
}

bool TfrmCheckForUpdates::OfferPackage(TauAutoUpgrader* Sender)
{
    FState = 6;
    // Only what the maker signed is offered: an unverified announcement could name any
    // page or file.
    const TUpdateInformation* announcement = Sender->Announcement();
    if (announcement && announcement->Verified && !announcement->Package.empty()) {
        const QString path =
            ChoosePackageFile ? ChoosePackageFile(FromNarrow(announcement->Package)) : QString();
        if (path.isEmpty())
            return false;
        Sender->SavePackageTo = path;
        return true;
    }
    if (announcement && announcement->Verified && !announcement->PackagePage.empty()) {
        ShellOpen(FromNarrow(announcement->PackagePage).toStdU16String());
        FState = 7;
        AddMessage(Translated("The download page of the new version was opened: ") +
                   FromNarrow(announcement->PackagePage));
        return false;
    }
    FState = 7;
    AddMessage(Translated("This copy of Tarnwick was installed by a package manager; install the new version "
                          "with it."));
    return false;
}

void TfrmCheckForUpdates::autoUpgradePackageSaved(TauAutoUpgrader*, const QString& Path)
{
    mmMemo->setPlainText(
        Translated(
            "The package of the new version was saved to %s.  Install it with the system's package manager.")
            .replace(QStringLiteral("%s"), Path));
    FState = 7;
    ShowStatus();
}
