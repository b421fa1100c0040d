#include "ufrmWebUpdateInformation.h"

#include "uDialogs.h"
#include "uVersionInfo.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QStringDecoder>
#include <QTextBrowser>

namespace {

// The window's designed size; the anchored controls keep their distance to the right
// and bottom edges as measured at this size.
constexpr int DesignWidth = 520;
constexpr int DesignHeight = 555;

const QString VersionMarker = QStringLiteral("<!-- version:");

// The history arrives as UTF-8; a single malformed sequence means the file was damaged
// or written in another encoding, and showing a garbled history would be worse than
// showing none.
QString DecodeStrictUtf8(const std::string& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError())
        return QString();
    return text;
}

QFrame* BottomLine(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

QVariant THistoryBrowser::loadResource(int type, const QUrl&)
{
    // An invalid answer would send the document to read the file itself; an empty one
    // of the asked kind makes it show nothing in its place.
    if (type == QTextDocument::ImageResource)
        return QImage();
    return QByteArray("");
}

TfrmUpdateInformation::TfrmUpdateInformation(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Web Update"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setMinimumSize(DesignWidth, DesignHeight);
    resize(DesignWidth, DesignHeight);
    setSizeGripEnabled(true);

    Image1 = new QLabel(this);
    Image1->setGeometry(14, 14, 48, 48);
    Image1->setPixmap(ProgramPicture());

    lblCurrentVersion = new QLabel(this);
    lblCurrentVersion->move(72, 16);
    lblCurrentVersion->setTextFormat(Qt::PlainText);

    Bevel2 = BottomLine(this);
    Label4 = new QLabel(QStringLiteral("Version history"), this);
    Label4->move(16, 104);
    Label4->adjustSize();

    htmlWhatsNew = new THistoryBrowser(this);
    htmlWhatsNew->setFrameShape(QFrame::Box);
    htmlWhatsNew->setLineWidth(1);
    htmlWhatsNew->setAutoFillBackground(true);
    QPalette white = htmlWhatsNew->palette();
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::Text, Qt::black);
    htmlWhatsNew->setPalette(white);
    // The history comes from the network: links in it are shown but followed nowhere,
    // neither inside the viewer (which keeps no history) nor in a browser.
    htmlWhatsNew->setOpenLinks(false);
    htmlWhatsNew->setOpenExternalLinks(false);
    htmlWhatsNew->setTextInteractionFlags(Qt::TextBrowserInteraction);
    htmlWhatsNew->setFont(QFont(QStringLiteral("Tahoma"), 8));
    htmlWhatsNew->document()->setDefaultFont(QFont(QStringLiteral("Tahoma"), 8));
    htmlWhatsNew->document()->setDefaultStyleSheet(
        QStringLiteral("pre, code, tt, kbd, samp { font-family: 'Courier New'; }"));

    Bevel1 = BottomLine(this);

    btnUpdate = new QPushButton(QStringLiteral("Update now"), this);
    connect(btnUpdate, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(btnUpdate, btnCancel);

    FormCreate();
}

void TfrmUpdateInformation::resizeEvent(QResizeEvent* event)
{
    const int dw = event->size().width() - DesignWidth;
    const int dh = event->size().height() - DesignHeight;
    Bevel2->setGeometry(16, 80, 482 + dw, 10);
    htmlWhatsNew->setGeometry(16, 136, 482 + dw, 312 + dh);
    Bevel1->setGeometry(16, 459 + dh, 482 + dw, 10);
    btnUpdate->setGeometry(336 + dw, 487 + dh, 75, 25);
    btnCancel->setGeometry(423 + dw, 487 + dh, 75, 25);
    QDialog::resizeEvent(event);
}

void TfrmUpdateInformation::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TfrmUpdateInformation::FormCreate()
{
    FIsLatestVersion = false;
}

void TfrmUpdateInformation::FormShow()
{
    if (FIsLatestVersion)
        btnCancel->setFocus();
}

void TfrmUpdateInformation::SetUpdateMessage(const std::string& message)
{
    FLatestVersion.clear();
    FCurrentVersion = QString::fromStdString(VersionResourceValue("FileVersion").value_or(std::string()));

    QString text = DecodeStrictUtf8(message);
    // The file writes braces as words so that its own template engine leaves them alone.
    text.replace(QStringLiteral("<openbrace>"), QStringLiteral("{"));
    text.replace(QStringLiteral("<closebrace>"), QStringLiteral("}"));
    bool cut = false;
    if (text.size() > MaxHistoryLength) {
        // At a line break, so that no marker and no tag on the last line is split.
        const qsizetype lineEnd = text.lastIndexOf(QLatin1Char('\n'), MaxHistoryLength - 1);
        text.truncate(lineEnd > 0 ? lineEnd + 1 : MaxHistoryLength);
        cut = true;
    }
    ScanVersionHistory(text);
    if (cut)
        text += QString::fromLatin1(TruncatedHistoryNote);
    htmlWhatsNew->setHtml(text);

    btnCancel->setText(QStringLiteral("&Cancel"));
    lblCurrentVersion->setText(QStringLiteral("This version of Tarnwick is %1.").arg(FCurrentVersion));
    if (FCurrentVersion == FLatestVersion) {
        FIsLatestVersion = true;
        lblCurrentVersion->setText(
            QStringLiteral("This version of Tarnwick is %1, which is the latest available version.")
                .arg(FCurrentVersion));
        btnCancel->setText(QStringLiteral("&Close"));
        btnUpdate->hide();
    }
    lblCurrentVersion->adjustSize();
}

void TfrmUpdateInformation::ScanVersionHistory(QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    QStringList lines = text.split(lineBreak);
    // A text that ends with a line break has no line after it.
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (const QString& line : lines) {
        const qsizetype marker = line.indexOf(VersionMarker);
        if (marker < 0)
            continue;
        const QString rest = line.mid(marker + VersionMarker.size());
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        if (blank < 0)
            continue;
        const QString version = rest.left(blank);
        if (!version.isEmpty() && FLatestVersion.isEmpty())
            FLatestVersion = version;
    }
    text.clear();
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
}
