// Draws the toolbar pictures and the two banners of the main window into PNG files.
// Not part of the build: run it once when a picture changes and commit the PNGs.
//   g++ -std=c++20 -fPIC uDrawImages.cpp $(pkg-config --cflags --libs Qt6Gui) -o draw
//   QT_QPA_PLATFORM=offscreen ./draw app/resources

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

QImage Canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void Disc(QPainter& p, QColor light, QColor dark)
{
    QRadialGradient g(QPointF(18, 14), 34);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(130), 1.5));
    p.setBrush(g);
    p.drawEllipse(QRectF(4, 4, 40, 40));
}

QImage OpenFile()
{
    QImage image = Canvas(48, 48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A folder, its front flap open, with a backup tape cartridge inside.
    QPainterPath back;
    back.moveTo(4, 12);
    back.lineTo(17, 12);
    back.lineTo(21, 16);
    back.lineTo(40, 16);
    back.lineTo(40, 40);
    back.lineTo(4, 40);
    back.closeSubpath();
    p.setPen(QPen(QColor(150, 105, 20), 1.5));
    p.setBrush(QColor(232, 178, 60));
    p.drawPath(back);
    p.setPen(QPen(QColor(40, 60, 90), 1.2));
    p.setBrush(QColor(70, 100, 150));
    p.drawRoundedRect(QRectF(12, 9, 22, 16), 2, 2);
    p.setBrush(QColor(220, 225, 235));
    p.drawRect(QRectF(15, 12, 16, 5));
    QPainterPath flap;
    flap.moveTo(9, 22);
    flap.lineTo(46, 22);
    flap.lineTo(40, 40);
    flap.lineTo(4, 40);
    flap.closeSubpath();
    QLinearGradient g(0, 22, 0, 40);
    g.setColorAt(0, QColor(255, 214, 110));
    g.setColorAt(1, QColor(236, 176, 50));
    p.setPen(QPen(QColor(150, 105, 20), 1.5));
    p.setBrush(g);
    p.drawPath(flap);
    return image;
}

QImage Close()
{
    QImage image = Canvas(48, 48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor(250, 120, 110), QColor(190, 30, 30));
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 16), QPointF(32, 32));
    p.drawLine(QPointF(32, 16), QPointF(16, 32));
    return image;
}

QImage About()
{
    QImage image = Canvas(48, 48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor(120, 170, 250), QColor(30, 80, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(21, 11, 6, 6));
    p.drawRoundedRect(QRectF(21, 20, 6, 17), 2, 2);
    return image;
}

QImage Updates()
{
    QImage image = Canvas(48, 48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor(130, 215, 120), QColor(30, 130, 40));
    // Two arrows chasing each other round a circle.
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(14, 14, 20, 20);
    p.drawArc(ring, 30 * 16, 140 * 16);
    p.drawArc(ring, 210 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    auto head = [&](double angle) {
        const double a = angle * M_PI / 180.0;
        const QPointF tip(24 + 10 * std::cos(a), 24 - 10 * std::sin(a));
        const QPointF dir(std::sin(a), std::cos(a));  // clockwise tangent
        const QPointF normal(std::cos(a), -std::sin(a));
        QPolygonF arrow;
        arrow << tip + dir * 6 << tip + normal * 5 << tip - normal * 5;
        p.drawPolygon(arrow);
    };
    head(30);
    head(210);
    return image;
}

QImage Banner(const QString& headline, const QString& line, QColor from, QColor to)
{
    QImage image = Canvas(960, 105);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 960, 105);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    p.fillRect(image.rect(), g);
    // A stack of tapes at the left, the maker's mark.
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 200), 2));
        p.setBrush(QColor(255, 255, 255, 60 + 40 * i));
        p.drawRoundedRect(QRectF(30 + 8 * i, 20 + 8 * i, 70, 46), 6, 6);
    }
    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(140, 12, 800, 44), Qt::AlignLeft | Qt::AlignVCenter, headline);
    QFont body(QStringLiteral("Liberation Sans"));
    body.setPixelSize(18);
    p.setFont(body);
    p.setPen(QColor(235, 240, 255));
    p.drawText(QRectF(140, 58, 800, 30), Qt::AlignLeft | Qt::AlignVCenter, line);
    return image;
}

}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok =
        OpenFile().save(dir + "/open.png") && Close().save(dir + "/close.png") &&
        About().save(dir + "/about.png") && Updates().save(dir + "/updates.png") &&
        Banner(QStringLiteral("Quorvel"),
               QStringLiteral("Tools for the people who keep SQL Server running  \u2014  quorvel.example"),
               QColor(20, 60, 120), QColor(40, 130, 190))
            .save(dir + "/banner1.png") &&
        Banner(QStringLiteral("Locked backup sets?"),
               QStringLiteral(
                   "See what else Quorvel makes for SQL Server backups  \u2014  quorvel.example/products"),
               QColor(110, 40, 20), QColor(210, 120, 30))
            .save(dir + "/banner2.png");
    return ok ? 0 : 1;
}
