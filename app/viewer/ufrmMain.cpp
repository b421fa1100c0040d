#include "ufrmMain.h"

#include "uBackupTree.h"
#include "uCatalogPage.h"
#include "uCommonUtils.h"
#include "uFileKind.h"
#include "uRestorePlanFiles.h"
#include "uShellOpen.h"
#include "u_MTFReader.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <new>
#include <unordered_map>
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

// A stored window rectangle; 64-bit, because the file may hold any 32-bit numbers and
// their differences do not fit in 32 bits.
struct TStoredRect {
    int64_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// "%d,%d,%d,%d" as left, top, right, bottom; nothing for any other text or an empty
// rectangle.
std::optional<TStoredRect> ParseRect(const std::string& text)
{
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    int64_t v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (v[2] <= v[0] || v[3] <= v[1])
        return std::nullopt;
    return TStoredRect{v[0], v[1], v[2], v[3]};
}

// The part of a stored rectangle that lies on a screen area, in pixels.
int64_t OverlapArea(const TStoredRect& r, const QRect& area)
{
    const int64_t w = std::min<int64_t>(r.Right, int64_t(area.left()) + area.width()) -
                      std::max<int64_t>(r.Left, area.left());
    const int64_t h = std::min<int64_t>(r.Bottom, int64_t(area.top()) + area.height()) -
                      std::max<int64_t>(r.Top, area.top());
    return w >= 64 && h >= 32 ? w * h : 0;
}

// Fits a stored rectangle onto a screen area: no larger than the area (a size written by
// hand or by a damaged file would make a window the system cannot paint), no smaller
// than the window's minimum, and moved inside the area where it reaches out of it.
QRect ClampToArea(const TStoredRect& r, const QRect& area, const QSize& minimum)
{
    const int64_t w = std::max<int64_t>(std::min<int64_t>(r.Right - r.Left, area.width()), minimum.width());
    const int64_t h = std::max<int64_t>(std::min<int64_t>(r.Bottom - r.Top, area.height()), minimum.height());
    const int64_t left =
        std::max<int64_t>(std::min<int64_t>(r.Left, int64_t(area.left()) + area.width() - w), area.left());
    const int64_t top =
        std::max<int64_t>(std::min<int64_t>(r.Top, int64_t(area.top()) + area.height() - h), area.top());
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(w), static_cast<int>(h));
}

// The widest text of each grid column, for the fit after a fill. Laying every cell out
// as the view would costs a text shaping per row, seconds for the 622,000 rows of a
// large set; instead every text is summed from the advances of its characters, and
// only the few widest of each column are measured exactly as the view measures a cell.
// Text in scripts whose shaping changes the advances is measured exactly every time,
// once per distinct text.
class TColumnFit {
public:
    explicit TColumnFit(const TBackupTreeView& view)
        : FView(view), FMetrics(view.font()), FIndent(view.indentation()),
          FDecorated(view.rootIsDecorated() ? 1 : 0)
    {
        for (char16_t c = 0; c < 128; ++c)
            FAscii[c] = FMetrics.horizontalAdvance(QChar(c));
    }

    void Add(int level, std::u16string_view label, std::u16string_view value)
    {
        AddText(0, label, FIndent * (level + FDecorated));
        if (!value.empty())
            AddText(1, value, 0);
    }

    // The width of a column as the view's own fit would give it; 0 with no rows.
    [[nodiscard]] int Width(int column)
    {
        TColumn& c = FColumns[column];
        int width = c.Exact;
        for (const TCandidate& candidate : c.Widest)
            width = std::max(width, Measure(candidate.Text) + candidate.Indent);
        if (c.Dropped >= 0)
            width = std::max(width, static_cast<int>(std::ceil(c.Dropped)) + Measure({}));
        return width;
    }

private:
    static constexpr size_t Kept = 32;

    struct TCandidate {
        qreal Approximate = 0;
        int Indent = 0;
        std::u16string Text;
        bool operator>(const TCandidate& other) const { return Approximate > other.Approximate; }
    };
    struct TColumn {
        std::vector<TCandidate> Widest;  // a heap, the narrowest on top
        int Exact = 0;
        qreal Dropped = -1;
    };

    void AddText(int column, std::u16string_view text, int indent)
    {
        TColumn& c = FColumns[column];
        qreal sum = indent;
        for (const char16_t ch : text) {
            if (ch < 128) {
                sum += FAscii[ch];
            } else if (ch < 0x0590) {  // Latin, Greek, Cyrillic, Armenian: no shaping
                auto it = FOther.find(ch);
                if (it == FOther.end())
                    it = FOther.emplace(ch, FMetrics.horizontalAdvance(QChar(ch))).first;
                sum += it->second;
            } else {
                c.Exact = std::max(c.Exact, Measure(text) + indent);
                return;
            }
        }
        auto narrower = std::greater<TCandidate>();
        if (c.Widest.size() == Kept) {
            if (sum <= c.Widest.front().Approximate) {
                c.Dropped = std::max(c.Dropped, sum);
                return;
            }
            std::pop_heap(c.Widest.begin(), c.Widest.end(), narrower);
            c.Dropped = std::max(c.Dropped, c.Widest.back().Approximate);
            c.Widest.pop_back();
        }
        c.Widest.push_back({sum, indent, std::u16string(text)});
        std::push_heap(c.Widest.begin(), c.Widest.end(), narrower);
    }

    int Measure(std::u16string_view text)
    {
        const QString key = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
        auto it = FMeasured.constFind(key);
        if (it != FMeasured.constEnd())
            return *it;
        const int width = FView.CellWidthHint(key);
        FMeasured.insert(key, width);
        return width;
    }

    const TBackupTreeView& FView;
    QFontMetricsF FMetrics;
    int FIndent;
    int FDecorated;
    qreal FAscii[128] = {};
    std::unordered_map<char16_t, qreal> FOther;
    QHash<QString, int> FMeasured;
    TColumn FColumns[2];
};

QString CancelledLine(int64_t position)
{
    return QStringLiteral("The read was cancelled at byte %1; the backup sets read until then are shown.")
        .arg(position);
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

int TBackupTreeView::CellWidthHint(const QString& text) const
{
    // As the item delegate sizes a cell that holds only a display text.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = text;
    return style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width();
}

void TBackupTreeView::ExpandEveryRow()
{
    // expandAll keeps a persistent index for every row, also for those without children:
    // for the 622,000 rows of a large set that is some 60 MB and seconds of hashing.
    // While a layout is pending, expand() only notes the row, and the one layout then
    // opens what was noted; only rows with children are noted.
    scheduleDelayedItemsLayout();
    std::vector<QModelIndex> pending{QModelIndex()};
    while (!pending.empty()) {
        const QModelIndex parent = pending.back();
        pending.pop_back();
        const int rows = model()->rowCount(parent);
        for (int row = 0; row < rows; ++row) {
            const QModelIndex child = model()->index(row, 0, parent);
            if (model()->hasChildren(child)) {
                expand(child);
                pending.push_back(child);
            }
        }
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

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    TCommandLine result;
    QStringList files;
    for (const QString& argument : arguments) {
        if (IsDebugSwitch(argument)) {
            result.DebugMode = true;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            result.UnknownOption = true;
            result.Messages << QStringLiteral("tarnwick: unknown option: %1").arg(argument);
        } else {
            files << argument;
        }
    }
    if (result.UnknownOption) {
        result.Messages << QStringLiteral("Usage: tarnwick [FILE|FOLDER]...");
        return result;
    }
    if (!files.isEmpty())
        result.File = files.constFirst();
    result.Files = files;
    return result;
}

struct TfrmMain::TReadJob {
    std::u16string Path;
    std::atomic<bool> Cancel{false};
    std::atomic<int64_t> Position{0};
    std::atomic<int64_t> Size{0};
    TBackupFileReport Report;
    std::exception_ptr Failure;
};

struct TfrmMain::TFolderJob {
    std::vector<std::string> Inputs;
    std::atomic<bool> Cancel{false};
    std::atomic<size_t> Done{0};
    std::atomic<size_t> Total{0};
    std::mutex Mutex;
    // Files read that the window has not taken yet; it takes them in batches, so that
    // a folder of thousands of small files does not cost an event per file.
    std::vector<TPlanFile> Ready;
    std::vector<TPlanSkipped> Problems;
    std::exception_ptr Failure;
};

namespace {

// The lines of the error memo for one file: the reader's errors, what the file is when
// it is no backup, the warnings, and where a cancelled read stopped.
std::vector<std::u16string> MemoLines(const TBackupFileReport& report, const std::u16string& explanation)
{
    std::vector<std::u16string> memo = report.ErrorLines;
    if (!explanation.empty())
        memo.push_back(explanation);
    memo.insert(memo.end(), report.Warnings.begin(), report.Warnings.end());
    if (report.Cancelled)
        memo.push_back(CancelledLine(report.CancelledAt).toStdU16String());
    return memo;
}

std::u16string Utf16Path(const std::string& path)
{
    return QString::fromStdString(path).toStdU16String();
}

}  // namespace

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
    btnOpenFile = makeAction("btnOpenFile", ":/images/open.png", "Open backup files");
    btnOpenFolder = makeAction("btnOpenFolder", ":/images/open.png", "Open folder");
    ToolButton1 = makeAction("ToolButton1", ":/images/updates.png", "Check for updates");
    btnAbout = makeAction("btnAbout", ":/images/about.png", "About");
    btnClose = makeAction("btnClose", ":/images/close.png", "Close");
    AddToolButton(ToolBar1, btnOpenFile);
    AddToolButton(ToolBar1, btnOpenFolder);
    AddToolSeparator(ToolBar1);
    AddToolButton(ToolBar1, ToolButton1);
    AddToolButton(ToolBar1, btnAbout);
    AddToolSeparator(ToolBar1);
    AddToolButton(ToolBar1, btnClose);
    connect(btnOpenFile, &QAction::triggered, this, [this] { Guarded([this] { btnOpenFileClick(); }); });
    connect(btnOpenFolder, &QAction::triggered, this, [this] { Guarded([this] { btnOpenFolderClick(); }); });
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
    pgcMain->addTab(TabSheet1, QStringLiteral("Tree"));
    pgcMain->addTab(TabSheet2, QStringLiteral("TabSheet2"));
    pgCatalog = new TCatalogPage(pgcMain);
    pgCatalog->setObjectName(QStringLiteral("pgCatalog"));
    pgcMain->addTab(pgCatalog, QStringLiteral("Catalog"));
    connect(pgCatalog, &TCatalogPage::SetSelected, this, [this](const QString& path, int setIndex) {
        Guarded([&] { CatalogSetSelected(path, setIndex); });
    });
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

    // The status bar appears only while a file is read, so the banner stays at the
    // bottom of the window otherwise.
    pbRead = new QProgressBar(this);
    pbRead->setObjectName(QStringLiteral("pbRead"));
    pbRead->setRange(0, 1000);
    pbRead->setMinimumWidth(320);
    btnCancelRead = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancelRead->setObjectName(QStringLiteral("btnCancelRead"));
    btnCancelRead->setToolTip(QStringLiteral("Stop reading the file (Esc)"));
    statusBar()->addWidget(pbRead, 1);
    statusBar()->addPermanentWidget(btnCancelRead);
    statusBar()->hide();
    connect(btnCancelRead, &QPushButton::clicked, this, [this] { CancelRead(); });
    actCancelRead = new QAction(QStringLiteral("Cancel reading"), this);
    actCancelRead->setObjectName(QStringLiteral("actCancelRead"));
    actCancelRead->setShortcut(QKeySequence(Qt::Key_Escape));
    actCancelRead->setShortcutContext(Qt::WindowShortcut);
    actCancelRead->setEnabled(false);
    addAction(actCancelRead);
    connect(actCancelRead, &QAction::triggered, this, [this] { CancelRead(); });
    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(100);
    connect(FProgressTimer, &QTimer::timeout, this, [this] { UpdateProgress(); });

    FormCreate(arguments);
    RestorePlacement();
}

TfrmMain::~TfrmMain()
{
    // A worker calls into this window; it must be done before the window goes. A read
    // stops at its next block, so this waits at most for one read of the file system.
    WaitForReads();
    for (QThread* thread : FThreads)
        delete thread;
    if (FBusy)
        QGuiApplication::restoreOverrideCursor();
}

void TfrmMain::FormCreate(const QStringList& arguments)
{
    SettingsFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                     QStringLiteral("/Quorvel/Tarnwick/");
    // When the folder cannot be made, the writes below fail quietly and the window
    // simply starts without remembered values next time.
    QDir().mkpath(SettingsFolder);
    SettingsFile = SettingsFolder + QStringLiteral("settings.ini");
    iniMain = std::make_unique<TIniFile>(QFile::encodeName(SettingsFile).toStdString());

    pgcMain->setCurrentWidget(TabSheet1);
    const TCommandLine commandLine = ParseCommandLine(arguments);
    DebugMode = commandLine.DebugMode;
    UpdateTabs();
    StartFiles = commandLine.Files;
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
        // A file named on the command line takes the place of the fixed test file.
        if (StartFiles.isEmpty())
            OpenBackupFile(QString::fromLatin1(DebugTestFile));
        else
            OpenPaths(StartFiles);
        pgcMain->setCurrentWidget(TabSheet2);
    } else if (!StartFiles.isEmpty()) {
        OpenPaths(StartFiles);
    } else {
        btnOpenFileClick();
    }
}

void TfrmMain::btnOpenFileClick()
{
    QStringList paths;
    if (OpenFileDialog) {
        if (std::optional<QString> path = OpenFileDialog(this))
            paths << *path;
    } else {
        QFileDialog dlgOpen(this, QStringLiteral("Open"), QString(), QString::fromLatin1(BackupFileFilter));
        dlgOpen.setAcceptMode(QFileDialog::AcceptOpen);
        dlgOpen.setFileMode(QFileDialog::ExistingFiles);
        // Wide enough for the size and date columns of the file list.
        dlgOpen.resize(760, 480);
        if (dlgOpen.exec() == QDialog::Accepted)
            paths = dlgOpen.selectedFiles();
    }
    if (!paths.isEmpty())
        OpenPaths(paths);
}

void TfrmMain::btnOpenFolderClick()
{
    std::optional<QString> folder;
    if (OpenFolderDialog) {
        folder = OpenFolderDialog(this);
    } else {
        const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Open folder"));
        if (!chosen.isEmpty())
            folder = chosen;
    }
    if (folder)
        OpenPaths({*folder});
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

TBackupFileReport TfrmMain::ReadBackup(const std::u16string& path, const TReadOptions& options)
{
    return ReadBackupFile(path, options);
}

void TfrmMain::OpenBackupFile(const QString& path)
{
    setWindowTitle(QStringLiteral("Tarnwick - ") + path);
    // A read still running for an earlier open is no longer wanted: it stops at its next
    // block and its result is dropped.
    if (FJob)
        FJob->Cancel = true;
    if (FFolderJob) {
        FFolderJob->Cancel = true;
        FFolderJob.reset();
    }
    grdBAKModel->Clear();
    pgCatalog->Clear();
    FFiles.clear();
    FFileIndex.clear();
    FFolderMemo.clear();
    FCatalogShown = false;
    if (FRestore.Clear)
        FRestore.Clear();
    UpdateTabs();
    if (pgcMain->currentWidget() != TabSheet2)
        pgcMain->setCurrentWidget(TabSheet1);

    auto job = std::make_shared<TReadJob>();
    job->Path = path.toStdU16String();
    FJob = job;
    StartBusy();

    TReadOptions options;
    options.KeepLog = DebugMode;
    options.OnProgress = [job = job.get()](int64_t position, int64_t size) {
        job->Position.store(position, std::memory_order_relaxed);
        job->Size.store(size, std::memory_order_relaxed);
        return !job->Cancel.load(std::memory_order_relaxed);
    };
    QThread* thread = QThread::create([this, job, options] {
        try {
            job->Report = ReadBackup(job->Path, options);
        } catch (...) {
            job->Failure = std::current_exception();
        }
    });
    FThreads.push_back(thread);
    connect(thread, &QThread::finished, this, [this, thread, job] {
        std::erase(FThreads, thread);
        thread->deleteLater();
        ReadEnded(job);
    });
    thread->start();
}

void TfrmMain::StartBusy()
{
    if (!FBusy) {
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        FBusy = true;
    }
    pbRead->setValue(0);
    pbRead->setFormat(QStringLiteral("Reading"));
    btnCancelRead->setEnabled(true);
    actCancelRead->setEnabled(true);
    statusBar()->show();
    FProgressTimer->start();
}

void TfrmMain::OpenPaths(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    if (paths.size() == 1 && !QFileInfo(paths.constFirst()).isDir()) {
        OpenBackupFile(QFileInfo(paths.constFirst()).absoluteFilePath());
        return;
    }
    setWindowTitle(QStringLiteral("Tarnwick - ") +
                   (paths.size() == 1 ? paths.constFirst() : QStringLiteral("%1 items").arg(paths.size())));
    if (FJob) {
        FJob->Cancel = true;
        FJob.reset();
    }
    if (FFolderJob)
        FFolderJob->Cancel = true;
    grdBAKModel->Clear();
    mmErrors->clear();
    mmErrors->hide();
    pgCatalog->Clear();
    FFiles.clear();
    FFileIndex.clear();
    FFolderMemo.clear();
    FCatalogShown = true;
    if (FRestore.Clear)
        FRestore.Clear();
    UpdateTabs();
    if (pgcMain->currentWidget() != TabSheet2)
        pgcMain->setCurrentWidget(pgCatalog);

    auto job = std::make_shared<TFolderJob>();
    for (const QString& path : paths)
        job->Inputs.push_back(QFileInfo(path).absoluteFilePath().toStdString());
    FFolderJob = job;
    StartBusy();

    const bool keepLog = DebugMode;
    QThread* thread = QThread::create([this, job, keepLog] {
        try {
            TPlanInputs inputs = FindPlanInputs(job->Inputs);
            {
                std::lock_guard lock(job->Mutex);
                job->Problems = std::move(inputs.Problems);
            }
            job->Total = inputs.Files.size();
            // One file after the other: the window's own read, so that a file is read
            // here exactly as when it is opened alone.
            for (const std::string& file : inputs.Files) {
                if (job->Cancel)
                    break;
                TReadOptions options;
                options.KeepLog = keepLog;
                options.OnProgress = [job = job.get()](int64_t, int64_t) { return !job->Cancel.load(); };
                TBackupFileReport report = ReadBackup(Utf16Path(file), options);
                std::lock_guard lock(job->Mutex);
                job->Ready.push_back(TPlanFile{file, std::move(report)});
                ++job->Done;
            }
        } catch (...) {
            job->Failure = std::current_exception();
        }
    });
    FThreads.push_back(thread);
    connect(thread, &QThread::finished, this, [this, thread, job] {
        std::erase(FThreads, thread);
        thread->deleteLater();
        FolderReadEnded(job);
    });
    thread->start();
}

void TfrmMain::TakeReadFiles(TFolderJob& job)
{
    std::vector<TPlanFile> ready;
    {
        std::lock_guard lock(job.Mutex);
        ready.swap(job.Ready);
    }
    if (ready.empty())
        return;
    std::vector<TCatalogInput> inputs;
    inputs.reserve(ready.size());
    for (TPlanFile& file : ready) {
        TCatalogInput input{Utf16Path(file.Path), file.Report};
        // The reader's empty set of a file that is no backup is no backup set.
        if (!NotABackupExplanation(input.Report).empty())
            input.Report.Sets.clear();
        FFileIndex.emplace(input.Path, FFiles.size());
        inputs.push_back(std::move(input));
        FFiles.push_back(std::move(file));
    }
    pgCatalog->AppendFiles(inputs);
}

void TfrmMain::FolderReadEnded(const std::shared_ptr<TFolderJob>& job)
{
    if (job != FFolderJob)
        return;
    FFolderJob.reset();
    std::exception_ptr failure = job->Failure;
    try {
        TakeReadFiles(*job);
        std::vector<std::u16string> memo;
        for (const TPlanSkipped& problem : job->Problems)
            memo.push_back(
                QStringLiteral("Skipped %1: %2")
                    .arg(QString::fromStdString(problem.File), QString::fromStdString(problem.Reason))
                    .toStdU16String());
        for (const TPlanFile& file : FFiles) {
            const std::u16string explanation = NotABackupExplanation(file.Report);
            QString reason;
            if (!explanation.empty())
                reason = QString::fromStdU16String(explanation);
            else if (file.Report.Sets.empty())
                reason = file.Report.ErrorLines.empty()
                             ? QStringLiteral("it holds no backup set")
                             : QString::fromStdU16String(file.Report.ErrorLines.front());
            if (!reason.isEmpty())
                memo.push_back(QStringLiteral("Skipped %1: %2")
                                   .arg(QString::fromStdString(file.Path), reason)
                                   .toStdU16String());
        }
        if (job->Cancel)
            memo.push_back(QStringLiteral("The read was cancelled after %1 of %2 files; the backup sets read "
                                          "until then are shown.")
                               .arg(job->Done.load())
                               .arg(job->Total.load())
                               .toStdU16String());
        FFolderMemo = memo;
        mmErrors->setPlainText(Lines(memo));
        mmErrors->setVisible(!memo.empty());
        if (FRestore.SetFiles)
            FRestore.SetFiles(FFiles);
        UpdateTabs();
        // The first row shown is the set the tree shows, as a single file opens on its
        // first set.
        QTableView* view = pgCatalog->View();
        if (view->model()->rowCount() > 0 && !view->currentIndex().isValid())
            view->setCurrentIndex(view->model()->index(0, 0));
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    EndBusy();
    if (failure)
        Guarded([&] { std::rethrow_exception(failure); });
    emit ReadFinished();
}

void TfrmMain::CatalogSetSelected(const QString& path, int setIndex)
{
    const auto found = FFileIndex.find(path.toStdU16String());
    if (found == FFileIndex.end())
        return;
    const TBackupFileReport& report = FFiles[found->second].Report;
    std::vector<std::u16string> memo = FFolderMemo;
    const std::vector<std::u16string> own = MemoLines(report, NotABackupExplanation(report));
    memo.insert(memo.end(), own.begin(), own.end());
    mmErrors->setPlainText(Lines(memo));
    mmErrors->setVisible(!memo.empty());
    grdBAKModel->Clear();
    TBackupSets sets;
    if (setIndex >= 0 && static_cast<size_t>(setIndex) < report.Sets.size())
        sets.push_back(report.Sets[static_cast<size_t>(setIndex)]);
    struct TRestore {
        QTreeView* Grid;
        ~TRestore() { Grid->setUpdatesEnabled(true); }
    } restore{grdBAK};
    grdBAK->setUpdatesEnabled(false);
    ShowBackupSets(std::move(sets));
}

void TfrmMain::UpdateTabs()
{
    pgcMain->setTabVisible(pgcMain->indexOf(TabSheet2), DebugMode);
    pgcMain->setTabVisible(pgcMain->indexOf(pgCatalog), FCatalogShown);
    if (pgRestore)
        pgcMain->setTabVisible(pgcMain->indexOf(pgRestore), !FFiles.empty());
    int visible = 0;
    for (int i = 0; i < pgcMain->count(); ++i)
        visible += pgcMain->isTabVisible(i) ? 1 : 0;
    pgcMain->tabBar()->setVisible(visible > 1);
}

void TfrmMain::SetRestorePage(QWidget* page, TRestorePageLink link)
{
    pgRestore = page;
    FRestore = std::move(link);
    pgcMain->addTab(page, QStringLiteral("Restore"));
    if (FRestore.SetFolders) {
        const std::string section = RestoreSection;
        FRestore.SetFolders({QString::fromStdString(iniMain->ReadString(section, "DataDir", {})),
                             QString::fromStdString(iniMain->ReadString(section, "LogDir", {})),
                             QString::fromStdString(iniMain->ReadString(section, "ServerDir", {}))});
    }
    if (FRestore.SetFiles && !FFiles.empty())
        FRestore.SetFiles(FFiles);
    UpdateTabs();
}

void TfrmMain::SaveRestoreFolders()
{
    if (!FRestore.Folders)
        return;
    const TRestoreFolders folders = FRestore.Folders();
    const std::string section = RestoreSection;
    (void)iniMain->WriteString(section, "DataDir", folders.DataDir.toStdString());
    (void)iniMain->WriteString(section, "LogDir", folders.LogDir.toStdString());
    (void)iniMain->WriteString(section, "ServerDir", folders.ServerDir.toStdString());
}

void TfrmMain::WaitForReads()
{
    if (FJob)
        FJob->Cancel = true;
    if (FFolderJob)
        FFolderJob->Cancel = true;
    for (QThread* thread : FThreads)
        thread->wait();
}

void TfrmMain::CancelRead()
{
    if (FFolderJob)
        FFolderJob->Cancel = true;
    else if (FJob)
        FJob->Cancel = true;
    else
        return;
    btnCancelRead->setEnabled(false);
    pbRead->setFormat(QStringLiteral("Cancelling"));
}

void TfrmMain::UpdateProgress()
{
    if (FFolderJob) {
        if (FFolderJob->Cancel)
            return;
        TakeReadFiles(*FFolderJob);
        const size_t done = FFolderJob->Done, total = FFolderJob->Total;
        pbRead->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
        pbRead->setFormat(QStringLiteral("Reading: %1 of %2 files").arg(done).arg(total));
        return;
    }
    if (!FJob || FJob->Cancel)
        return;
    const int64_t position = FJob->Position.load(std::memory_order_relaxed);
    const int64_t size = FJob->Size.load(std::memory_order_relaxed);
    pbRead->setValue(size > 0 ? static_cast<int>(std::clamp<int64_t>(position, 0, size) * 1000 / size) : 0);
    // The format is taken literally apart from %-codes; the sizes hold none.
    pbRead->setFormat(QStringLiteral("Reading: %1 of %2")
                          .arg(QString::fromStdU16String(FormatByteSize(position)),
                               QString::fromStdU16String(FormatByteSize(size))));
}

void TfrmMain::EndBusy()
{
    FProgressTimer->stop();
    statusBar()->hide();
    actCancelRead->setEnabled(false);
    if (FBusy) {
        QGuiApplication::restoreOverrideCursor();
        FBusy = false;
    }
}

void TfrmMain::ReadEnded(const std::shared_ptr<TReadJob>& job)
{
    if (job != FJob)
        return;
    FJob.reset();
    std::exception_ptr failure;
    try {
        ShowReport(*job);
    } catch (...) {
        failure = std::current_exception();
    }
    EndBusy();
    if (failure)
        Guarded([&] { std::rethrow_exception(failure); });
    emit ReadFinished();
}

void TfrmMain::ShowReport(TReadJob& job)
{
    if (job.Failure)
        std::rethrow_exception(job.Failure);
    TBackupFileReport& report = job.Report;
    if (DebugMode)
        mmLog->setPlainText(Lines(report.LogLines));
    const std::u16string explanation = NotABackupExplanation(report);
    const std::vector<std::u16string> memo = MemoLines(report, explanation);
    if (FRestore.SetFiles) {
        FFiles.push_back(TPlanFile{QString::fromStdU16String(job.Path).toStdString(), report});
        FRestore.SetFiles(FFiles);
        UpdateTabs();
    }
    // The reader keeps an empty set for a file that is no backup; its fields are all
    // zero and would read as a backup of 1899.
    if (!explanation.empty())
        report.Sets.clear();
    mmErrors->setPlainText(Lines(memo));
    mmErrors->setVisible(!memo.empty());
    {
        // The grid paints once, after the fill and the fit, also when the fill throws.
        struct TRestore {
            QTreeView* Grid;
            ~TRestore() { Grid->setUpdatesEnabled(true); }
        } restore{grdBAK};
        grdBAK->setUpdatesEnabled(false);
        ShowBackupSets(std::move(report.Sets));
    }
    grdBAK->setFocus();
}

void TfrmMain::ShowBackupSets(TBackupSets sets)
{
    const bool password = AnySetHasPassword(sets);
    grdBAKModel->SetValueBackground(palette().brush(QPalette::ToolTipBase));
    TColumnFit fit(*grdBAK);
    grdBAKModel->Append(std::move(sets), [&fit](int level, std::u16string_view label,
                                                std::u16string_view value) { fit.Add(level, label, value); });
    // Every row starts expanded, so after a fill the whole tree is open.
    grdBAK->ExpandEveryRow();

    for (int column = 0; column < grdBAKModel->columnCount(); ++column) {
        const int fitted = std::max(fit.Width(column), grdBAK->header()->minimumSectionSize());
        grdBAK->setColumnWidth(column, fitted + 64);
    }

    // Once shown, the other banner stays for the rest of the session.
    if (password) {
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
    QStringList paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            paths << url.toLocalFile();
    Guarded([&] { OpenPaths(paths); });
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
    const std::optional<TStoredRect> stored = ParseRect(iniMain->ReadString(Section, key, {}));
    // A window placed on a screen that is no longer attached would open out of reach: it
    // must show at least a corner of itself on some screen, and it goes to the screen
    // that shows the most of it.
    std::optional<QRect> area;
    int64_t bestOverlap = 0;
    if (stored) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            const int64_t overlap = OverlapArea(*stored, screen->availableGeometry());
            if (overlap > bestOverlap) {
                bestOverlap = overlap;
                area = screen->availableGeometry();
            }
        }
    }
    if (area) {
        setGeometry(ClampToArea(*stored, *area, minimumSize()));
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
    } catch (const std::bad_alloc&) {
        ShowErrorBox(QString::fromLatin1(OutOfMemoryText));
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
