#ifndef SCREENCOMMON_H
#define SCREENCOMMON_H

// What the updater's screens share: their text sizes and the way to the controller.

#include <QFont>
#include <QLabel>

#include "dorvapp.h"
#include "dorvcontroller.h"
#include "jxlog.h"

namespace DorvScreen {

// The screens' absolute geometry was laid out where one point is one pixel (72 dpi). At the 96 dpi of Linux
// desktops the same point sizes, and the desktop's larger default font, overflow the fixed boxes, so the screens
// give their text sizes in pixels: the layout's sizes, and 12 px where the layout keeps the default font.
const int kDefaultPixelSize = 12;

inline QFont textFont(int pixelSize, bool bold = false)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setWeight(bold ? 75 : 50);
    return font;
}

// Also spells out what it leaves plain, so that nothing is taken from the parent.
inline QFont plainFont(int pixelSize, bool bold)
{
    QFont font = textFont(pixelSize, bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

inline QFont buttonFont()
{
    QFont font = plainFont(12, true);
    font.setKerning(true);
    return font;
}

// The controller is made after the screens (it builds them), and tests run the screens without one.
inline DorvController* controller()
{
    DorvApp* app = DorvApp::instance();
    DorvController* result = app ? app->getController() : nullptr;
    if (!result)
        JX_WARNING << "no controller to take the request";
    return result;
}

// A plain label, named so that the screen's tests and style sheets find it, at a fixed place on its screen.
inline QLabel* makeLabel(QWidget* parent, const QString& objectName, const QRect& geometry)
{
    QLabel* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setGeometry(geometry);
    return label;
}

// Sets up one of the fixed-size top-level screens and gives it its background picture.
inline QLabel* setUpScreen(QWidget* screen, const QString& objectName, const QString& backgroundStyle)
{
    if (screen->objectName().isEmpty())
        screen->setObjectName(objectName);
    screen->resize(360, 525);
    screen->setMinimumSize(QSize(360, 525));
    screen->setMaximumSize(QSize(360, 525));
    screen->setStyleSheet(QString());
    screen->setFont(textFont(kDefaultPixelSize));

    QLabel* background = makeLabel(screen, QStringLiteral("background_label"), QRect(0, 0, 360, 525));
    background->setStyleSheet(backgroundStyle);
    return background;
}

const char* const kBackgroundStyle = "background-image: url(:/background.png);";

} // namespace DorvScreen

#endif
