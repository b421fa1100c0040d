#include "ufrmMain.h"

#include "uBackupTree.h"
#include "uCommonUtils.h"
#include "uShellOpen.h"
#include "u_MTFReader.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QStyleOption>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <vector>

static void InitTarnwickResources()
{
    // The pictures live in this library; naming them here keeps the linker from
    // dropping them.
    Q_INIT_RESOURCE(tarnwick);
}

namespace {

const std::string Section = "frmMain";

// Show states of a window placement, as the settings file has always stored them.
constexpr int ShowNormal = 1;
constexpr int ShowMinimized = 2;
constexpr int ShowMaximized = 3;
// Placement flag: a minimised window comes back maximised.
constexpr int RestoreToMaximized = 2;

QFont FixedFont(int pixelSize)
{
    QFont font;
    // Liberation Mono has the metrics of Courier New, where that is not installed.
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(pixelSize);
    return font;
}

QString Lines(const std::vector<std::u16string>& lines)
{
    QStringList list;
    list.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::u16string& line : lines)
        list << QString::fromStdU16String(line);
    return list.join(QLatin1Char('\n'));
}

QString ScreenSizeSuffix()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize();
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

// "%d,%d,%d,%d" as left, top, right, bottom; nothing for any other text or an empty
// rectangle.
std::optional<QRect> ParseRect(const std::string& text)
{
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (v[2] <= v[0] || v[3] <= v[1])
        return std::nullopt;
    return QRect(QPoint(v[0], v[1]), QSize(v[2] - v[0], v[3] - v[1]));
}

QToolButton* AddToolButton(QToolBar* bar, QAction* action)
{
    bar->addAction(action);
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    if (button) {
        button->setFixedSize(55, 54);
        button->setAutoRaise(true);
    }
    return button;
}

void AddToolSeparator(QToolBar* bar)
{
    auto* gap = new QWidget(bar);
    gap->setFixedWidth(8);
    bar->addWidget(gap);
}

}  // namespace

void TBackupTreeView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    const int indent = indentation();
    const int middle = rect.top() + rect.height() / 2;
    auto hasNextSibling = [](const QModelIndex& i) { return i.siblingAtRow(i.row() + 1).isValid(); };
    // The row's own branch is the rightmost indentation step; its ancestors' are to
    // the left of it, one step each.
    const int own = rect.right() + 1 - indent;
    const bool hasChildren = model()->hasChildren(index);
    const int arrowHalf = hasChildren ? 5 : 0;

    painter->save();
    painter->setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DotLine));
    const int x = own + indent / 2;
    if (index.row() > 0 || index.parent().isValid())
        painter->drawLine(x, rect.top(), x, middle - arrowHalf);
    if (hasNextSibling(index))
        painter->drawLine(x, middle + arrowHalf, x, rect.bottom());
    painter->drawLine(x + arrowHalf, middle, own + indent - 2, middle);
    int ancestorX = x - indent;
    for (QModelIndex ancestor = index.parent(); ancestor.isValid();
         ancestor = ancestor.parent(), ancestorX -= indent)
        if (hasNextSibling(ancestor))
            painter->drawLine(ancestorX, rect.top(), ancestorX, rect.bottom());
    painter->restore();

    if (hasChildren) {
        QStyleOption option;
        option.initFrom(this);
        option.rect = QRect(own, rect.top(), indent, rect.height());
        option.state = QStyle::State_Item | QStyle::State_Children;
        if (isExpanded(index))
            option.state |= QStyle::State_Open;
        style()->drawPrimitive(QStyle::PE_IndicatorBranch, &option, painter, this);
    }
}

void TClickableImage::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

bool IsDebugSwitch(const QString& argument)
{
    QString upper = argument;
    for (QChar& c : upper)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return upper == QLatin1String("-QUORVELDEBUGMODE");
}

TfrmMain::TfrmMain(const QStringList& arguments, QWidget* parent) : QMainWindow(parent)
{
    InitTarnwickResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tarnwick"));
    setMinimumSize(640, 480);
    resize(998, 640);
    setAcceptDrops(true);
    QFont windowFont = font();
    windowFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    windowFont.setPixelSize(11);
    setFont(windowFont);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(48, 48));
    ToolBar1->setFixedHeight(57);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    auto makeAction = [this](const char* name, const char* image, const char* hint) {
        auto* action = new QAction(QIcon(QString::fromLatin1(image)), QString::fromLatin1(hint), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(QString::fromLatin1(hint));
        return action;
    };
    btnOpenFile = makeAction("btnOpenFile", ":/images/open.png", "Open backup file");
    ToolButton1 = makeAction("ToolButton1", ":/images/updates.png", "Check for updates");
    btnAbout = makeAction("btnAbout", ":/images/about.png", "About");
    btnClose = makeAction("btnClose", ":/images/close.png", "Close");
    AddToolButton(ToolBar1, btnOpenFile);
    AddToolSeparator(ToolBar1);
    AddToolButton(ToolBar1, ToolButton1);
    AddToolButton(ToolBar1, btnAbout);
    AddToolSeparator(ToolBar1);
    AddToolButton(ToolBar1, btnClose);
    connect(btnOpenFile, &QAction::triggered, this, [this] { Guarded([this] { btnOpenFileClick(); }); });
    connect(ToolButton1, &QAction::triggered, this, [this] { Guarded([this] { ToolButton1Click(); }); });
    connect(btnAbout, &QAction::triggered, this, [this] { Guarded([this] { btnAboutClick(); }); });
    connect(btnClose, &QAction::triggered, this, [this] { Guarded([this] { btnCloseClick(); }); });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);

    pgcMain = new QTabWidget(central);
    pgcMain->setObjectName(QStringLiteral("pgcMain"));
    pgcMain->setDocumentMode(true);
    TabSheet1 = new QWidget(pgcMain);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget(pgcMain);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    pgcMain->addTab(TabSheet1, QStringLiteral("TabSheet1"));
    pgcMain->addTab(TabSheet2, QStringLiteral("TabSheet2"));
    layout->addWidget(pgcMain, 1);

    grdBAK = new TBackupTreeView(TabSheet1);
    grdBAK->setObjectName(QStringLiteral("grdBAK"));
    grdBAKModel = new TBackupTreeModel(grdBAK);
    grdBAK->setModel(grdBAKModel);
    grdBAK->setHeaderHidden(true);
    grdBAK->setSelectionBehavior(QAbstractItemView::SelectItems);
    grdBAK->setSelectionMode(QAbstractItemView::SingleSelection);
    grdBAK->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdBAK->setUniformRowHeights(true);
    grdBAK->setFont(FixedFont(13));
    grdBAK->setFocusPolicy(Qt::StrongFocus);
    // The columns keep the widths of the fit; measure every row for it, not only the
    // rows on screen.
    grdBAK->header()->setStretchLastSection(false);
    grdBAK->header()->setResizeContentsPrecision(-1);
    grdBAK->setColumnWidth(0, 200);
    grdBAK->setColumnWidth(1, 240);
    grdBAK->installEventFilter(this);
    auto* sheet1Layout = new QVBoxLayout(TabSheet1);
    sheet1Layout->setContentsMargins(0, 0, 0, 0);
    sheet1Layout->addWidget(grdBAK);

    mmLog = new QTextEdit(TabSheet2);
    mmLog->setObjectName(QStringLiteral("mmLog"));
    mmLog->setReadOnly(true);
    mmLog->setAcceptRichText(false);
    mmLog->setLineWrapMode(QTextEdit::NoWrap);
    mmLog->setFont(FixedFont(11));
    // A file dropped on the memos opens like one dropped anywhere else in the window.
    mmLog->setAcceptDrops(false);
    mmLog->viewport()->setAcceptDrops(false);
    auto* sheet2Layout = new QVBoxLayout(TabSheet2);
    sheet2Layout->setContentsMargins(0, 0, 0, 0);
    sheet2Layout->addWidget(mmLog);

    mmErrors = new QPlainTextEdit(central);
    mmErrors->setObjectName(QStringLiteral("mmErrors"));
    mmErrors->setReadOnly(true);
    mmErrors->setFixedHeight(89);
    mmErrors->setAcceptDrops(false);
    mmErrors->viewport()->setAcceptDrops(false);
    mmErrors->hide();
    layout->addWidget(mmErrors);

    auto makeBanner = [central](const char* name, const char* image) {
        auto* banner = new TClickableImage(central);
        banner->setObjectName(QString::fromLatin1(name));
        const QPixmap picture(QString::fromLatin1(image));
        banner->setPixmap(picture);
        banner->setAlignment(Qt::AlignCenter);
        banner->setFixedHeight(picture.height());
        banner->setCursor(Qt::PointingHandCursor);
        return banner;
    };
    imgAd2 = makeBanner("imgAd2", ":/images/banner2.png");
    imgAd1 = makeBanner("imgAd1", ":/images/banner1.png");
    imgAd2->hide();
    layout->addWidget(imgAd2);
    layout->addWidget(imgAd1);
    connect(imgAd1, &TClickableImage::clicked, this, [this] { Guarded([this] { imgAd1Click(); }); });
    connect(imgAd2, &TClickableImage::clicked, this, [this] { Guarded([this] { imgAd2Click(); }); });

    timerMain = new QTimer(this);
    timerMain->setObjectName(QStringLiteral("timerMain"));
    timerMain->setInterval(100);
    connect(timerMain, &QTimer::timeout, this, [this] { Guarded([this] { timerMainTimer(); }); });

    FormCreate(arguments);
    RestorePlacement();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate(const QStringList& arguments)
{
    SettingsFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                     QStringLiteral("/Quorvel/Tarnwick/");
    // When the folder cannot be made, the writes below fail quietly and the window
    // simply starts without remembered values next time.
    QDir().mkpath(SettingsFolder);
    SettingsFile = SettingsFolder + QStringLiteral("settings.ini");
    iniMain = std::make_unique<TIniFile>(QFile::encodeName(SettingsFile).toStdString());

    pgcMain->tabBar()->hide();
    pgcMain->setCurrentWidget(TabSheet1);
    for (const QString& argument : arguments) {
        if (IsDebugSwitch(argument)) {
            DebugMode = true;
            pgcMain->tabBar()->show();
            break;
        }
    }
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        Guarded([this] { FormShow(); });
    }
}

void TfrmMain::FormShow()
{
    const int adID = iniMain->ReadInteger(Section, "AdID", -1);
    if (adID == -1 || adID == 1) {
        (void)iniMain->WriteInteger(Section, "AdID", 0);
        imgAd2->hide();
        imgAd1->show();
    } else if (adID == 0) {
        (void)iniMain->WriteInteger(Section, "AdID", 1);
        imgAd1->hide();
        imgAd2->show();
    }
    timerMain->start();
}

void TfrmMain::timerMainTimer()
{
    timerMain->stop();
    if (DebugMode) {
        OpenBackupFile(QString::fromLatin1(DebugTestFile));
        pgcMain->setCurrentWidget(TabSheet2);
    } else {
        btnOpenFileClick();
    }
}

void TfrmMain::btnOpenFileClick()
{
    std::optional<QString> path;
    if (OpenFileDialog) {
        path = OpenFileDialog(this);
    } else {
        QFileDialog dlgOpen(this, QStringLiteral("Open"), QString(), QString::fromLatin1(BackupFileFilter));
        dlgOpen.setAcceptMode(QFileDialog::AcceptOpen);
        dlgOpen.setFileMode(QFileDialog::ExistingFile);
        // Wide enough for the size and date columns of the file list.
        dlgOpen.resize(760, 480);
        if (dlgOpen.exec() == QDialog::Accepted && !dlgOpen.selectedFiles().isEmpty())
            path = dlgOpen.selectedFiles().constFirst();
    }
    if (path)
        OpenBackupFile(*path);
}

void TfrmMain::ToolButton1Click()
{
    emit CheckForUpdatesRequested();
}

void TfrmMain::btnAboutClick()
{
    emit AboutRequested();
}

void TfrmMain::btnCloseClick()
{
    close();
}

void TfrmMain::imgAd1Click()
{
    ShellOpen(QString::fromLatin1(BannerAddress1).toStdU16String());
}

void TfrmMain::imgAd2Click()
{
    ShellOpen(QString::fromLatin1(BannerAddress2).toStdU16String());
}

TBackupFileReport TfrmMain::ReadBackup(const std::u16string& path)
{
    TReadOptions options;
    options.KeepLog = DebugMode;
    return ReadBackupFile(path, options);
}

void TfrmMain::OpenBackupFile(const QString& path)
{
    setWindowTitle(QStringLiteral("Tarnwick - ") + path);
    grdBAK->setUpdatesEnabled(false);
    grdBAKModel->Clear();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    {
        // The cursor and the grid's painting come back also when the read or the fill
        // throws.
        struct TRestore {
            QTreeView* Grid;
            ~TRestore()
            {
                QGuiApplication::restoreOverrideCursor();
                Grid->setUpdatesEnabled(true);
            }
        } restore{grdBAK};
        const TBackupFileReport report = ReadBackup(path.toStdU16String());
        if (DebugMode)
            mmLog->setPlainText(Lines(report.LogLines));
        mmErrors->setPlainText(Lines(report.ErrorLines));
        mmErrors->setVisible(!report.ErrorLines.empty());
        ShowBackupSets(report.Sets);
    }
    grdBAK->setFocus();
}

void TfrmMain::ShowBackupSets(const TBackupSets& sets)
{
    grdBAKModel->SetValueBackground(palette().brush(QPalette::ToolTipBase));
    grdBAKModel->Append(RowsForBackupSets(sets));
    // Every row starts expanded, so after a fill the whole tree is open.
    grdBAK->expandAll();

    for (int column = 0; column < grdBAKModel->columnCount(); ++column) {
        grdBAK->resizeColumnToContents(column);
        const int fitted = std::max(grdBAK->columnWidth(column), grdBAK->header()->minimumSectionSize());
        grdBAK->setColumnWidth(column, fitted + 64);
    }

    // Once shown, the other banner stays for the rest of the session.
    if (AnySetHasPassword(sets)) {
        imgAd1->hide();
        imgAd2->show();
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == grdBAK && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        Guarded([&] { grdBAKKeyDown(key->key(), key->modifiers()); });
        // The view would copy its current cell, which need not be the selected one.
        if (key->key() == Qt::Key_C && key->modifiers().testFlag(Qt::ControlModifier))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::grdBAKKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_C || !modifiers.testFlag(Qt::ControlModifier))
        return;
    const QModelIndexList selected = grdBAK->selectionModel()->selectedIndexes();
    // Before the user picks a cell there is nothing to copy, and the clipboard keeps
    // what it holds.
    if (selected.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(selected.first().data(Qt::DisplayRole).toString());
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    Guarded([&] { OpenBackupFile(path); });
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    Guarded([this] { SavePlacement(); });
    QMainWindow::closeEvent(event);
}

void TfrmMain::SavePlacement()
{
    const Qt::WindowStates states = windowState();
    int showCmd = ShowNormal;
    if (states.testFlag(Qt::WindowMinimized))
        showCmd = ShowMinimized;
    else if (states.testFlag(Qt::WindowMaximized))
        showCmd = ShowMaximized;
    const int flags =
        states.testFlag(Qt::WindowMinimized) && states.testFlag(Qt::WindowMaximized) ? RestoreToMaximized : 0;
    const QScreen* screen = this->screen();
    const int pixelsPerInch = screen ? qRound(screen->logicalDotsPerInch()) : 96;
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    // Window rectangles are stored as right and bottom outside the window.
    const std::string normPos = QStringLiteral("%1,%2,%3,%4")
                                    .arg(normal.left())
                                    .arg(normal.top())
                                    .arg(normal.left() + normal.width())
                                    .arg(normal.top() + normal.height())
                                    .toStdString();
    // The minimised and maximised positions are the system's to choose: -1 says so.
    const std::string minMaxPos = "-1,-1,-1,-1";
    const std::string suffix = ScreenSizeSuffix().toStdString();
    (void)iniMain->WriteInteger(Section, "ShowCmd", showCmd);
    (void)iniMain->WriteInteger(Section, "Flags", flags);
    (void)iniMain->WriteInteger(Section, "PixelsPerInch", pixelsPerInch);
    (void)iniMain->WriteString(Section, "MinMaxPos", minMaxPos);
    (void)iniMain->WriteString(Section, "MinMaxPos" + suffix, minMaxPos);
    (void)iniMain->WriteString(Section, "NormPos", normPos);
    (void)iniMain->WriteString(Section, "NormPos" + suffix, normPos);
}

void TfrmMain::RestorePlacement()
{
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect desktop = primary ? primary->availableGeometry() : QRect(0, 0, 1024, 768);
    const std::string sizedKey = "NormPos" + ScreenSizeSuffix().toStdString();
    const std::string key = iniMain->ValueExists(Section, sizedKey) ? sizedKey : std::string("NormPos");
    std::optional<QRect> normal = ParseRect(iniMain->ReadString(Section, key, {}));
    if (normal) {
        // A window placed on a screen that is no longer attached would open out of
        // reach: it must show at least a corner of itself on some screen.
        bool reachable = false;
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRect visible = screen->availableGeometry().intersected(*normal);
            reachable = reachable || (visible.width() >= 64 && visible.height() >= 32);
        }
        if (!reachable)
            normal.reset();
    }
    if (normal) {
        setGeometry(QRect(normal->topLeft(), normal->size().expandedTo(minimumSize())));
    } else {
        QRect centred(QPoint(), QSize(998, 640));
        centred.moveCenter(desktop.center());
        setGeometry(centred);
    }
    const int showCmd = iniMain->ReadInteger(Section, "ShowCmd", ShowNormal);
    const int flags = iniMain->ReadInteger(Section, "Flags", 0);
    // A program that starts minimised looks as if it had not started: a window closed
    // while minimised comes back as it was before it was minimised.
    if (showCmd == ShowMaximized || (showCmd == ShowMinimized && (flags & RestoreToMaximized) != 0))
        setWindowState(Qt::WindowMaximized);
}

void TfrmMain::Guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
}

void TfrmMain::ShowErrorBox(const QString& message)
{
    const QString text = QString::fromStdU16String(ErrorMessageText(message.toStdU16String()));
    if (ErrorBox) {
        ErrorBox(this, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationName(), text, QMessageBox::Ok, this);
    box.exec();
}
