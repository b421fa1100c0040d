#include "ufrmAbout.h"

#include "uDialogs.h"
#include "uShellOpen.h"
#include "uVersionInfo.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QString>

namespace {

QFont SansSerifFont(int pixelHeight, bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

QString FromUtf8(const std::optional<std::string>& value)
{
    return value ? QString::fromStdString(*value) : QString();
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* owner)
    // A fixed dialog frame with a caption and no title-bar buttons: the only way out is
    // the Close button.
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(457, 205);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    Image1 = new QLabel(this);
    Image1->setGeometry(16, 16, 48, 48);
    Image1->setPixmap(ProgramPicture());

    lblCopyright = new QLabel(this);
    lblCopyright->move(80, 20);
    lblCopyright->setFont(SansSerifFont(16, true));
    lblCopyright->setTextFormat(Qt::PlainText);

    Label2 = new QLabel(QStringLiteral("Check out our other database applications at"), this);
    Label2->move(16, 88);
    Label2->setFont(SansSerifFont(15, false));
    Label2->adjustSize();

    Label3 = new QLabel(QString::fromUtf16(WebSite), this);
    Label3->move(16, 112);
    QFont linkFont = SansSerifFont(15, false);
    linkFont.setUnderline(true);
    Label3->setFont(linkFont);
    QPalette linkPalette = Label3->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    Label3->setPalette(linkPalette);
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->adjustSize();
    Label3->installEventFilter(this);

    btnClose = new QPushButton(this);
    btnClose->setGeometry(191, 160, 75, 25);
    btnClose->setDefault(true);
    btnClose->setFocus();
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label3Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::FormShow()
{
    lblCopyright->setText(QStringLiteral("Tarnwick ") + FromUtf8(VersionResourceValue("FileVersion")) +
                          QLatin1Char('\n') + FromUtf8(VersionResourceValue("LegalCopyright")));
    lblCopyright->adjustSize();
    btnClose->setText(QStringLiteral("Close"));
}

void TfrmAbout::Label3Click()
{
    ShellOpen(WebSite);
}
