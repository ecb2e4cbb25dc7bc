// Draws the updater's pictures and animations into Dorv/res. Run at development time:
//   cmake -S Dorv/tools/drawassets -B build-drawassets && cmake --build build-drawassets
//   QT_QPA_PLATFORM=offscreen build-drawassets/drawassets Dorv/res
// The output is kept in the repository, so building the updater does not need this tool.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>

#include "gifwriter.h"

namespace {

// One palette for everything.
const QColor kTeal(0x1B, 0x7F, 0x95);
const QColor kTealDark(0x13, 0x5E, 0x6F);
const QColor kTealLight(0xDD, 0xF1, 0xF5);
const QColor kInk(0x2E, 0x3A, 0x40);
const QColor kGrey(0x9A, 0xA6, 0xAD);
const QColor kGreyLight(0xD5, 0xDB, 0xDF);
const QColor kBackgroundTop(0xFA, 0xFC, 0xFD);
const QColor kBackgroundBottom(0xE6, 0xEE, 0xF2);
const QColor kOrange(0xF0, 0x8A, 0x24);
const QColor kRed(0xE5, 0x48, 0x3B);
const QColor kGreen(0x2E, 0xAA, 0x4F);
const QColor kAmber(0xF5, 0xA6, 0x23);

const int kWindowHeight = 525;

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void smooth(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

QFont font(int pixelSize, bool bold = true, qreal letterSpacing = 0)
{
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setPixelSize(pixelSize);
    result.setBold(bold);
    if (letterSpacing != 0)
        result.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return result;
}

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// The window background's colour at a given height, for animations shown on it.
QColor backgroundAt(int y)
{
    return mix(kBackgroundTop, kBackgroundBottom, qreal(y) / kWindowHeight);
}

QImage background(bool beta)
{
    QImage image = canvas(360, kWindowHeight);
    QPainter painter(&image);
    smooth(painter);
    QLinearGradient fill(0, 0, 0, kWindowHeight);
    fill.setColorAt(0, kBackgroundTop);
    fill.setColorAt(1, kBackgroundBottom);
    painter.fillRect(image.rect(), fill);
    painter.fillRect(QRect(0, 0, 360, 4), kTeal);
    if (beta) {
        painter.translate(21, 504);
        painter.rotate(45);
        painter.fillRect(QRectF(-60, -10, 120, 20), kOrange);
        painter.setPen(Qt::white);
        painter.setFont(font(11, true, 1.5));
        painter.drawText(QRectF(-60, -10, 120, 20), Qt::AlignCenter, QStringLiteral("BETA"));
    }
    return image;
}

enum class ButtonState { Enabled, Hover, Pressed, Disabled };

QImage button(int width, int height, ButtonState state)
{
    QImage image = canvas(width, height);
    QPainter painter(&image);
    smooth(painter);
    const QRectF body(1.5, 1.5, width - 3, height - 5);
    const qreal radius = 9;
    QColor top, bottom, border;
    qreal borderWidth = 1.6;
    switch (state) {
    case ButtonState::Enabled: top = Qt::white, bottom = QColor(0xEC, 0xF5, 0xF8), border = kTeal; break;
    case ButtonState::Hover:
        top = QColor(0xE8, 0xF6, 0xF9), bottom = QColor(0xD0, 0xEB, 0xF1), border = kTeal, borderWidth = 2;
        break;
    case ButtonState::Pressed:
        top = QColor(0xBE, 0xE0, 0xE8), bottom = QColor(0xCF, 0xE8, 0xEE), border = kTealDark, borderWidth = 2;
        break;
    case ButtonState::Disabled:
        top = QColor(0xEE, 0xF1, 0xF3), bottom = QColor(0xE4, 0xE8, 0xEB), border = QColor(0xC6, 0xCD, 0xD2);
        break;
    }
    if (state != ButtonState::Pressed && state != ButtonState::Disabled) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x13, 0x5E, 0x6F, 45));
        painter.drawRoundedRect(body.translated(0, 2.5), radius, radius);
    }
    const QRectF face = state == ButtonState::Pressed ? body.translated(0, 1.5) : body;
    QLinearGradient fill(0, face.top(), 0, face.bottom());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    painter.setBrush(fill);
    painter.setPen(QPen(border, borderWidth));
    painter.drawRoundedRect(face, radius, radius);
    return image;
}

// The round help and info icons: a ring with a sign, or a filled disc when hovered.
QImage roundIcon(bool hovered, const std::function<void(QPainter&, const QColor&)>& sign)
{
    QImage image = canvas(24, 24);
    QPainter painter(&image);
    smooth(painter);
    painter.setPen(QPen(kTeal, 1.6));
    painter.setBrush(hovered ? kTeal : QColor(Qt::white));
    painter.drawEllipse(QRectF(2, 2, 20, 20));
    sign(painter, hovered ? QColor(Qt::white) : kTeal);
    return image;
}

void questionSign(QPainter& painter, const QColor& colour)
{
    painter.setPen(colour);
    painter.setFont(font(14));
    painter.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
}

void infoSign(QPainter& painter, const QColor& colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(12, 7.6), 1.7, 1.7);
    painter.drawRoundedRect(QRectF(10.8, 10.4, 2.4, 7.6), 1.1, 1.1);
}

QImage updateBadge()
{
    QImage image = canvas(48, 48);
    QPainter painter(&image);
    smooth(painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QPointF(24, 25.5), 17, 17);
    QLinearGradient fill(0, 8, 0, 40);
    fill.setColorAt(0, kRed.lighter(112));
    fill.setColorAt(1, kRed.darker(108));
    painter.setBrush(fill);
    painter.setPen(QPen(Qt::white, 2.2));
    painter.drawEllipse(QPointF(24, 24), 16, 16);
    return image;
}

QImage warningIcon()
{
    QImage image = canvas(48, 48);
    QPainter painter(&image);
    smooth(painter);
    QPainterPath triangle;
    triangle.moveTo(24, 6);
    triangle.lineTo(44, 41);
    triangle.lineTo(4, 41);
    triangle.closeSubpath();
    painter.setPen(QPen(kAmber, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kAmber);
    painter.drawPath(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    QPainterPath bar;
    bar.moveTo(21.6, 17);
    bar.lineTo(26.4, 17);
    bar.lineTo(25.3, 31);
    bar.lineTo(22.7, 31);
    bar.closeSubpath();
    painter.drawPath(bar);
    painter.drawEllipse(QPointF(24, 35.6), 2.6, 2.6);
    return image;
}

QImage cryingFace()
{
    QImage image = canvas(150, 136);
    QPainter painter(&image);
    smooth(painter);
    const QPointF centre(75, 68);
    QRadialGradient skin(centre - QPointF(18, 22), 80);
    skin.setColorAt(0, QColor(0xFF, 0xE4, 0x7E));
    skin.setColorAt(1, QColor(0xFF, 0xC4, 0x35));
    painter.setPen(QPen(QColor(0xE0, 0xA0, 0x20), 2));
    painter.setBrush(skin);
    painter.drawEllipse(centre, 60, 60);

    const QColor line(0x7A, 0x4A, 0x12);
    painter.setPen(QPen(line, 3.6, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    // Brows raised at the inner ends, eyes shut, mouth turned down.
    painter.drawLine(QPointF(40, 45), QPointF(62, 37));
    painter.drawLine(QPointF(88, 37), QPointF(110, 45));
    painter.drawArc(QRectF(41, 50, 22, 16), 200 * 16, 140 * 16);
    painter.drawArc(QRectF(87, 50, 22, 16), 200 * 16, 140 * 16);
    painter.drawArc(QRectF(55, 92, 40, 26), 25 * 16, 130 * 16);

    for (const qreal x : {50.0, 100.0}) {
        QPainterPath tear;
        tear.moveTo(x, 68);
        tear.cubicTo(x + 2, 74, x + 7, 79, x + 7, 85);
        tear.arcTo(QRectF(x - 7, 78, 14, 14), 0, -180);
        tear.cubicTo(x - 7, 79, x - 2, 74, x, 68);
        QLinearGradient water(0, 68, 0, 92);
        water.setColorAt(0, QColor(0x9A, 0xD8, 0xF5));
        water.setColorAt(1, QColor(0x3A, 0xA6, 0xE0));
        painter.setPen(QPen(QColor(0x2A, 0x8C, 0xC4), 1.2));
        painter.setBrush(water);
        painter.drawPath(tear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 170));
        painter.drawEllipse(QPointF(x - 2.4, 84), 1.6, 2.6);
    }
    return image;
}

void drawCircularArrows(QPainter& painter, const QPointF& centre, qreal radius, qreal width, const QColor& colour)
{
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF ring(centre.x() - radius, centre.y() - radius, radius * 2, radius * 2);
    for (const int start : {20, 200}) {
        painter.drawArc(ring, start * 16, 130 * 16);
        const qreal end = qDegreesToRadians(qreal(start + 130));
        const QPointF tip(centre.x() + radius * qCos(end), centre.y() - radius * qSin(end));
        const QPointF along(-qSin(end), -qCos(end)); // direction of travel at the arc's end
        const QPointF outward(qCos(end), -qSin(end));
        QPolygonF head;
        head << tip + along * width * 1.3 << tip + outward * width * 1.1 << tip - outward * width * 1.1;
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPolygon(head);
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
    }
}

QImage appIcon()
{
    QImage image(128, 128, QImage::Format_RGB32);
    QPainter painter(&image);
    smooth(painter);
    QLinearGradient fill(0, 0, 0, 128);
    fill.setColorAt(0, QColor(0x24, 0x95, 0xA8));
    fill.setColorAt(1, kTealDark);
    painter.fillRect(image.rect(), fill);
    drawCircularArrows(painter, QPointF(64, 64), 42, 9, Qt::white);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(50, 44, 28, 40), 6, 6);
    painter.setBrush(kTeal);
    painter.drawRoundedRect(QRectF(54, 49, 20, 22), 2.5, 2.5);
    return image;
}

// A bike computer, upright, its body filling `body`.
void drawBikeComputer(QPainter& painter, const QRectF& body, bool light)
{
    const qreal radius = body.width() * 0.16;
    painter.setPen(Qt::NoPen);
    painter.setBrush(light ? QColor(0xB8, 0xC4, 0xCA) : QColor(0x1A, 0x20, 0x24));
    const qreal buttonHeight = body.height() * 0.12;
    painter.drawRoundedRect(QRectF(body.left() - 3.5, body.top() + body.height() * 0.26, 6, buttonHeight), 2, 2);
    painter.drawRoundedRect(QRectF(body.right() - 2.5, body.top() + body.height() * 0.26, 6, buttonHeight), 2, 2);
    painter.drawRoundedRect(QRectF(body.right() - 2.5, body.top() + body.height() * 0.45, 6, buttonHeight), 2, 2);

    QLinearGradient shell(body.topLeft(), body.bottomRight());
    shell.setColorAt(0, light ? QColor(Qt::white) : QColor(0x44, 0x51, 0x58));
    shell.setColorAt(1, light ? QColor(0xDD, 0xE4, 0xE8) : QColor(0x20, 0x28, 0x2D));
    painter.setPen(QPen(light ? QColor(0xB0, 0xBC, 0xC3) : QColor(0x15, 0x1B, 0x1F), 1.5));
    painter.setBrush(shell);
    painter.drawRoundedRect(body, radius, radius);

    const qreal margin = body.width() * 0.11;
    const QRectF screen(body.left() + margin, body.top() + margin * 1.5, body.width() - 2 * margin,
                        body.height() * 0.64);
    painter.setPen(QPen(light ? kTeal : QColor(0x0E, 0x12, 0x14), 2));
    painter.setBrush(light ? QColor(0x1E, 0x2A, 0x30) : QColor(0xDF, 0xE8, 0xD8));
    painter.drawRoundedRect(screen, 4, 4);

    const QColor text = light ? QColor(Qt::white) : QColor(0x1F, 0x2A, 0x30);
    const qreal unit = screen.height() / 100;
    if (light) {
        // A map with the route ahead.
        painter.setPen(QPen(QColor(0x3A, 0x4C, 0x55), 1.2));
        for (int i = 1; i < 4; ++i)
            painter.drawLine(QPointF(screen.left() + screen.width() * i / 4, screen.top() + 2),
                             QPointF(screen.left() + screen.width() * i / 4 - 8, screen.bottom() - 2));
        painter.drawLine(QPointF(screen.left() + 2, screen.top() + 30 * unit),
                         QPointF(screen.right() - 2, screen.top() + 38 * unit));
        QPainterPath route;
        route.moveTo(screen.left() + screen.width() * 0.3, screen.bottom() - 4);
        route.cubicTo(screen.left() + screen.width() * 0.3, screen.top() + 60 * unit,
                      screen.left() + screen.width() * 0.75, screen.top() + 55 * unit,
                      screen.left() + screen.width() * 0.7, screen.top() + 10 * unit);
        painter.setPen(QPen(QColor(0x3F, 0xC8, 0xDE), 3, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(route);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOrange);
        QPolygonF arrow;
        const QPointF at(screen.left() + screen.width() * 0.38, screen.top() + 68 * unit);
        arrow << at + QPointF(0, -7) << at + QPointF(5, 5) << at + QPointF(0, 2) << at + QPointF(-5, 5);
        painter.drawPolygon(arrow);
        painter.fillRect(QRectF(screen.left() + 1, screen.bottom() - 20 * unit, screen.width() - 2, 20 * unit - 1),
                         QColor(0x12, 0x19, 0x1D, 220));
        painter.setPen(text);
        painter.setFont(font(qRound(12 * unit), true));
        painter.drawText(QRectF(screen.left(), screen.bottom() - 20 * unit, screen.width(), 20 * unit), Qt::AlignCenter,
                         QStringLiteral("24.6 km/h"));
    } else {
        painter.setPen(text);
        painter.setFont(font(qRound(9 * unit), false));
        painter.drawText(QRectF(screen.left() + 4, screen.top() + 2, screen.width() - 8, 12 * unit),
                         Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("SPEED"));
        painter.setFont(font(qRound(30 * unit), true));
        painter.drawText(QRectF(screen.left(), screen.top() + 10 * unit, screen.width(), 34 * unit), Qt::AlignCenter,
                         QStringLiteral("27.5"));
        painter.setFont(font(qRound(9 * unit), false));
        painter.drawText(QRectF(screen.left(), screen.top() + 42 * unit, screen.width() - 6, 10 * unit),
                         Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("km/h"));
        painter.setPen(QPen(QColor(0x1F, 0x2A, 0x30, 120), 1));
        painter.drawLine(QPointF(screen.left() + 4, screen.top() + 56 * unit),
                         QPointF(screen.right() - 4, screen.top() + 56 * unit));
        painter.drawLine(QPointF(screen.center().x(), screen.top() + 60 * unit),
                         QPointF(screen.center().x(), screen.bottom() - 4));
        painter.setPen(text);
        painter.setFont(font(qRound(14 * unit), true));
        painter.drawText(QRectF(screen.left(), screen.top() + 62 * unit, screen.width() / 2, 30 * unit),
                         Qt::AlignCenter, QStringLiteral("12.4"));
        painter.drawText(QRectF(screen.center().x(), screen.top() + 62 * unit, screen.width() / 2, 30 * unit),
                         Qt::AlignCenter, QStringLiteral("0:42"));
    }

    const QRectF brand(body.left(), screen.bottom() + 4, body.width(), body.bottom() - screen.bottom() - 8);
    painter.setPen(light ? kTeal : QColor(0xC9, 0xD3, 0xD8));
    painter.setFont(font(qMax(7, qRound(body.width() * 0.085)), true, 1.2));
    painter.drawText(brand, Qt::AlignCenter, QStringLiteral("VEXMOR"));
}

// A watch, upright, the case centred at `centre` with the given radius.
void drawWatch(QPainter& painter, const QPointF& centre, qreal radius, qreal strapTop, qreal strapBottom)
{
    const qreal strapWidth = radius * 0.95;
    QLinearGradient strap(centre.x() - strapWidth / 2, 0, centre.x() + strapWidth / 2, 0);
    strap.setColorAt(0, QColor(0x25, 0x2E, 0x33));
    strap.setColorAt(0.5, QColor(0x3C, 0x48, 0x4F));
    strap.setColorAt(1, QColor(0x25, 0x2E, 0x33));
    painter.setPen(Qt::NoPen);
    painter.setBrush(strap);
    painter.drawRoundedRect(QRectF(centre.x() - strapWidth / 2, strapTop, strapWidth, centre.y() - strapTop), 8, 8);
    painter.drawRoundedRect(QRectF(centre.x() - strapWidth / 2, centre.y(), strapWidth, strapBottom - centre.y()), 8,
                            8);
    painter.setBrush(QColor(0x15, 0x1B, 0x1F));
    for (int i = 1; i <= 3; ++i) {
        const qreal y = centre.y() + radius + i * radius * 0.28;
        if (y + 2 < strapBottom)
            painter.drawEllipse(QPointF(centre.x(), y), 2, 2);
    }

    painter.setBrush(QColor(0x1A, 0x20, 0x24));
    painter.drawRoundedRect(QRectF(centre.x() + radius * 0.85, centre.y() - radius * 0.55, radius * 0.3, radius * 0.3),
                            2, 2);
    painter.drawRoundedRect(QRectF(centre.x() + radius * 0.85, centre.y() + radius * 0.25, radius * 0.3, radius * 0.3),
                            2, 2);

    QLinearGradient bezel(centre - QPointF(radius, radius), centre + QPointF(radius, radius));
    bezel.setColorAt(0, QColor(0x6A, 0x78, 0x80));
    bezel.setColorAt(1, QColor(0x22, 0x2A, 0x2F));
    painter.setPen(QPen(QColor(0x15, 0x1B, 0x1F), 1.5));
    painter.setBrush(bezel);
    painter.drawEllipse(centre, radius, radius);
    painter.setBrush(QColor(0x14, 0x1C, 0x21));
    painter.setPen(QPen(kTeal, radius * 0.05));
    painter.drawEllipse(centre, radius * 0.8, radius * 0.8);

    painter.setPen(QPen(QColor(0x3F, 0xC8, 0xDE), radius * 0.07, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF progress(centre.x() - radius * 0.66, centre.y() - radius * 0.66, radius * 1.32, radius * 1.32);
    painter.drawArc(progress, 90 * 16, -250 * 16);
    painter.setPen(Qt::white);
    painter.setFont(font(qRound(radius * 0.38), true));
    painter.drawText(QRectF(centre.x() - radius, centre.y() - radius * 0.3, radius * 2, radius * 0.5), Qt::AlignCenter,
                     QStringLiteral("10:08"));
    painter.setPen(QColor(0x9F, 0xB4, 0xBD));
    painter.setFont(font(qMax(6, qRound(radius * 0.16)), true, 0.8));
    painter.drawText(QRectF(centre.x() - radius, centre.y() + radius * 0.22, radius * 2, radius * 0.25),
                     Qt::AlignCenter, QStringLiteral("VEXMOR"));
}

void dropShadow(QPainter& painter, const QPointF& centre, qreal width, qreal height)
{
    QRadialGradient shade(centre, width / 2);
    shade.setColorAt(0, QColor(0x1E, 0x32, 0x3C, 70));
    shade.setColorAt(1, QColor(0x1E, 0x32, 0x3C, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    painter.save();
    painter.translate(centre);
    painter.scale(1, height / width);
    painter.drawEllipse(QPointF(0, 0), width / 2, width / 2);
    painter.restore();
}

// The main window's device pictures. The completion animations draw the same pictures, scaled, so that a model
// looks alike on both screens.
const QSize kDevicePictureSize(136, 202);
const QRectF kBikeComputerBody(14, 14, 108, 168);
const QPointF kWatchCentre(66, 101);
const qreal kWatchRadius = 52;

enum class DeviceLook { DarkBikeComputer, LightBikeComputer, Watch };

void drawDevice(QPainter& painter, DeviceLook look)
{
    if (look == DeviceLook::Watch) {
        dropShadow(painter, QPointF(68, 192), 100, 14);
        drawWatch(painter, kWatchCentre, kWatchRadius, 4, 190);
        return;
    }
    dropShadow(painter, QPointF(68, 190), 120, 14);
    drawBikeComputer(painter, kBikeComputerBody, look == DeviceLook::LightBikeComputer);
}

// Where the cable plugs in: the watch's case between its two buttons, the bike computer's side below its buttons.
QPointF cablePort(DeviceLook look)
{
    if (look == DeviceLook::Watch)
        return kWatchCentre + QPointF(kWatchRadius, 0);
    return QPointF(kBikeComputerBody.right(), kBikeComputerBody.top() + kBikeComputerBody.height() * 0.74);
}

// Where the tick appears once the cable is out: over the device's upper right edge.
QPointF tickPlace(DeviceLook look)
{
    if (look == DeviceLook::Watch)
        return kWatchCentre + QPointF(kWatchRadius * 0.9, -kWatchRadius * 0.85);
    return kBikeComputerBody.topRight() + QPointF(-4, 22);
}

QImage devicePicture(DeviceLook look)
{
    QImage image = canvas(kDevicePictureSize.width(), kDevicePictureSize.height());
    QPainter painter(&image);
    smooth(painter);
    drawDevice(painter, look);
    return image;
}

QImage deviceNotFoundPicture()
{
    QImage image = canvas(kDevicePictureSize.width(), kDevicePictureSize.height());
    QPainter painter(&image);
    smooth(painter);
    const QRectF body(18, 18, 100, 150);
    painter.setPen(QPen(kGrey, 2.4, Qt::DashLine, Qt::RoundCap));
    painter.setBrush(QColor(255, 255, 255, 120));
    painter.drawRoundedRect(body, 16, 16);
    painter.setPen(QPen(kGreyLight, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(30, 34, 76, 96), 5, 5);
    painter.setPen(kGrey);
    painter.setFont(font(52));
    painter.drawText(QRectF(30, 34, 76, 96), Qt::AlignCenter, QStringLiteral("?"));
    // An unplugged cable below the device.
    painter.setPen(QPen(kGrey, 3, Qt::SolidLine, Qt::RoundCap));
    QPainterPath cable;
    cable.moveTo(68, 201);
    cable.cubicTo(68, 192, 80, 190, 80, 184);
    painter.drawPath(cable);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGrey);
    painter.drawRoundedRect(QRectF(73, 176, 14, 9), 2, 2);
    painter.drawRect(QRectF(76, 172, 8, 5));
    return image;
}

QImage titlePicture(const QString& model, const QString& subtitle)
{
    QImage image = canvas(164, 67);
    QPainter painter(&image);
    smooth(painter);
    painter.setPen(kTeal);
    painter.setFont(font(28));
    painter.drawText(QRectF(0, 4, 164, 36), Qt::AlignLeft | Qt::AlignVCenter, model);
    painter.fillRect(QRectF(1, 43, 30, 3), kOrange);
    painter.setPen(QColor(0x6B, 0x78, 0x80));
    painter.setFont(font(9, true, 1.2));
    painter.drawText(QRectF(0, 49, 164, 14), Qt::AlignLeft | Qt::AlignVCenter, subtitle);
    return image;
}

QVector<GifWriter::Frame> spinnerFrames()
{
    QVector<GifWriter::Frame> frames;
    const int count = 12;
    for (int i = 0; i < count; ++i) {
        QImage image = canvas(48, 48);
        QPainter painter(&image);
        smooth(painter);
        painter.setPen(QPen(QColor(0xC4, 0xDD, 0xE4), 1.2));
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(24, 24), 17, 17);
        const QRectF ring(13, 13, 22, 22);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0xD8, 0xEA, 0xEF), 4));
        painter.drawEllipse(ring);
        painter.setPen(QPen(kTeal, 4, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(ring, (90 - i * 360 / count) * 16, -110 * 16);
        painter.end();
        frames.append({image, 80});
    }
    return frames;
}

qreal easeInOut(qreal t)
{
    return t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
}

// The cable's plug leaves the device's side and slides away; a tick confirms it. The device is its main-window
// picture, scaled to the animation's height.
QVector<GifWriter::Frame> releaseCableFrames(DeviceLook look)
{
    const QSize size(250, 157);
    const qreal scale = qreal(size.height()) / kDevicePictureSize.height();
    const QPointF origin(14, 0);
    const QPointF port = origin + cablePort(look) * scale;
    const qreal portY = port.y();
    // The cable sags towards the right edge but stays inside the frame.
    const qreal sag = qMin(44.0, size.height() - 8 - portY);
    const int steps = 9;
    QVector<GifWriter::Frame> frames;
    for (int i = 0; i <= steps + 1; ++i) {
        const qreal t = i == 0 ? 0 : qMin(1.0, qreal(i) / steps);
        const qreal offset = 62 * easeInOut(t);
        QImage image = canvas(size.width(), size.height());
        QPainter painter(&image);
        smooth(painter);
        painter.save();
        painter.translate(origin);
        painter.scale(scale, scale);
        drawDevice(painter, look);
        painter.restore();

        // Cable from the plug to the right edge, sagging a little.
        const qreal plugLeft = port.x() + offset;
        const qreal plugRight = plugLeft + 30;
        QPainterPath cable;
        cable.moveTo(plugRight + 8, portY);
        cable.cubicTo(plugRight + 40, portY, 232, portY + sag + 4 - offset * 0.3, 252, portY + sag - offset * 0.3);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0x3A, 0x44, 0x4A), 7, Qt::SolidLine, Qt::FlatCap));
        painter.drawPath(cable);
        painter.setPen(QPen(QColor(0x5A, 0x66, 0x6D), 2, Qt::SolidLine, Qt::FlatCap));
        painter.drawPath(cable.translated(0, -1.5));

        painter.setPen(QPen(QColor(0x8A, 0x96, 0x9C), 1));
        painter.setBrush(QColor(0xC9, 0xD1, 0xD5));
        painter.drawRect(QRectF(plugLeft, portY - 6, 10, 12));
        QLinearGradient housing(0, portY - 11, 0, portY + 11);
        housing.setColorAt(0, QColor(0x52, 0x5E, 0x65));
        housing.setColorAt(1, QColor(0x2C, 0x35, 0x3A));
        painter.setPen(QPen(QColor(0x1E, 0x25, 0x29), 1));
        painter.setBrush(housing);
        painter.drawRoundedRect(QRectF(plugLeft + 10, portY - 11, 20, 22), 4, 4);
        painter.setBrush(QColor(0x2C, 0x35, 0x3A));
        painter.drawRoundedRect(QRectF(plugRight - 1, portY - 6, 10, 12), 3, 3);

        if (i > 0 && i <= steps) {
            // Motion hint above the cable.
            painter.setPen(QPen(kTeal, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const qreal x = plugLeft + 4;
            const qreal y = portY - 28;
            painter.drawLine(QPointF(x, y), QPointF(x + 26, y));
            painter.drawLine(QPointF(x + 26, y), QPointF(x + 19, y - 6));
            painter.drawLine(QPointF(x + 26, y), QPointF(x + 19, y + 6));
        }
        if (i == steps + 1) {
            const QPointF badge = origin + tickPlace(look) * scale;
            painter.setPen(QPen(Qt::white, 2.5));
            painter.setBrush(kGreen);
            painter.drawEllipse(badge, 15, 15);
            painter.setPen(QPen(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            QPolygonF tick;
            tick << badge + QPointF(-7, 0) << badge + QPointF(-2, 5.5) << badge + QPointF(7.5, -5.5);
            painter.drawPolyline(tick);
        }
        painter.end();
        const int delay = i == 0 ? 900 : i == steps + 1 ? 1600 : 70;
        frames.append({image, delay});
    }
    return frames;
}

bool save(const QImage& image, const QString& path, const char* format = "PNG", int quality = -1)
{
    if (!image.save(path, format, quality)) {
        fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool saveGif(const QVector<GifWriter::Frame>& frames, const QString& path, const QColor& matte)
{
    if (!GifWriter::write(path, frames, matte.rgb())) {
        fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: drawassets OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("device"))) {
        fprintf(stderr, "cannot make %s/device\n", argv[1]);
        return 1;
    }
    const auto at = [&out](const char* name) { return out.filePath(QLatin1String(name)); };

    bool ok = true;
    ok &= save(background(false), at("background.png"));
    ok &= save(background(true), at("background_beta.png"));
    const struct
    {
        ButtonState state;
        const char* name;
    } states[] = {{ButtonState::Enabled, "highlight"},
                  {ButtonState::Hover, "mouseover"},
                  {ButtonState::Pressed, "click"},
                  {ButtonState::Disabled, "disable"}};
    for (const auto& state : states) {
        ok &= save(button(240, 58, state.state), out.filePath(QStringLiteral("%1_1.png").arg(state.name)));
        ok &= save(button(140, 50, state.state), out.filePath(QStringLiteral("%1_3.png").arg(state.name)));
    }
    ok &= save(roundIcon(false, questionSign), at("guide_1.png"));
    ok &= save(roundIcon(true, questionSign), at("guide_2.png"));
    ok &= save(roundIcon(false, infoSign), at("info_2.png"));
    ok &= save(roundIcon(true, infoSign), at("info_1.png"));
    ok &= save(updateBadge(), at("update_noti.png"));
    ok &= save(warningIcon(), at("warning.png"));
    ok &= save(cryingFace(), at("cry.png"));
    ok &= save(appIcon(), at("dorv_icon.jpg"), "JPG", 95);

    ok &= save(deviceNotFoundPicture(), at("device/device_notfound.png"));
    ok &= save(devicePicture(DeviceLook::DarkBikeComputer), at("device/Vexmor_device.png"));
    ok &= save(devicePicture(DeviceLook::LightBikeComputer), at("device/Zelto70_device.png"));
    ok &= save(titlePicture(QStringLiteral("Zelto 70"), QStringLiteral("GPS BIKE COMPUTER")),
               at("device/Zelto70_title.png"));
    ok &= save(devicePicture(DeviceLook::Watch), at("device/Zelto90_device.png"));
    ok &= save(titlePicture(QStringLiteral("Zelto 90"), QStringLiteral("GPS SPORT WATCH")),
               at("device/Zelto90_title.png"));

    // The spinner sits on the software button; the cable animations on the window background.
    ok &= saveGif(spinnerFrames(), at("wait_update.gif"), QColor(0xEC, 0xF5, 0xF8));
    // The completion screen shows the first for a device whose product type is "Watch" or none, the second for any
    // other type: so the first draws the watch of the Zelto 90 picture, the second the Zelto 70 bike computer.
    ok &= saveGif(releaseCableFrames(DeviceLook::Watch), at("release_cable.gif"), backgroundAt(200));
    ok &= saveGif(releaseCableFrames(DeviceLook::LightBikeComputer), at("zelto_release_cable.gif"), backgroundAt(200));
    return ok ? 0 : 1;
}
