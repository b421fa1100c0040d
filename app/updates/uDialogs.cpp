#include "uDialogs.h"

#include "ufrmAbout.h"
#include "ufrmCheckForUpdates.h"

#include <QDialog>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <memory>

namespace {

std::function<int(QDialog&)>& Runner()
{
    static std::function<int(QDialog&)> runner;
    return runner;
}

}  // namespace

int ExecModal(QDialog& dialog)
{
    return Runner() ? Runner()(dialog) : dialog.exec();
}

void SetModalRunner(std::function<int(QDialog&)> runner)
{
    Runner() = std::move(runner);
}

void ShowAboutWindow(QWidget* owner)
{
    // Owned here rather than by the Qt parent so that it is freed as soon as it closes,
    // not when the main window goes.
    auto about = std::make_unique<TfrmAbout>(owner);
    (void)ExecModal(*about);
}

void ShowCheckForUpdatesWindow(QWidget* owner)
{
    auto check = std::make_unique<TfrmCheckForUpdates>(owner);
    (void)ExecModal(*check);
}

QPixmap ProgramPicture()
{
    // A database cylinder with a magnifying glass: a program that looks into stored
    // databases without changing them.
    QPixmap picture(48, 48);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF body(6, 8, 28, 32);
    const qreal lid = 8;
    QLinearGradient side(body.left(), 0, body.right(), 0);
    side.setColorAt(0, QColor(0x2a, 0x5d, 0xa8));
    side.setColorAt(0.45, QColor(0x6f, 0xa8, 0xf0));
    side.setColorAt(1, QColor(0x1d, 0x3f, 0x7a));
    QPainterPath cylinder;
    cylinder.moveTo(body.left(), body.top() + lid / 2);
    cylinder.lineTo(body.left(), body.bottom() - lid / 2);
    cylinder.arcTo(QRectF(body.left(), body.bottom() - lid, body.width(), lid), 180, 180);
    cylinder.lineTo(body.right(), body.top() + lid / 2);
    cylinder.arcTo(QRectF(body.left(), body.top(), body.width(), lid), 0, -180);
    painter.setPen(QPen(QColor(0x14, 0x2c, 0x55), 1.2));
    painter.setBrush(side);
    painter.drawPath(cylinder);
    painter.setBrush(QColor(0xa9, 0xcc, 0xf7));
    painter.drawEllipse(QRectF(body.left(), body.top(), body.width(), lid));
    painter.setBrush(Qt::NoBrush);
    for (qreal y : {body.top() + 14, body.top() + 23})
        painter.drawArc(QRectF(body.left(), y - lid / 2, body.width(), lid), 180 * 16, 180 * 16);

    painter.setPen(QPen(QColor(0x5a, 0x3a, 0x12), 4.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(38, 38), QPointF(45, 45));
    painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 2.5));
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawEllipse(QPointF(31, 31), 9, 9);
    return picture;
}
