#include "recover_complete.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QMovie>

#include "device/jxclient.h"
#include "jxdaemon.h"
#include "screencommon.h"

namespace {

using DorvScreen::makeLabel;
using DorvScreen::textFont;

// The controller builds this screen in its own constructor, before the application holds it; the rule then is
// the controller's own, applied to the daemon's current client.
bool isWatchDevice()
{
    DorvApp* app = DorvApp::instance();
    if (DorvController* controller = app ? app->getController() : nullptr)
        return controller->isWatchDevice();
    JXClient* client = JXDaemon::getInstance()->getClient();
    return !client || client->getDeviceType() != 1;
}

} // namespace

recover_complete_form::recover_complete_form(QWidget* parent) : QWidget(parent)
{
    Q_INIT_RESOURCE(dorv);

    background_label = DorvScreen::setUpScreen(this, QStringLiteral("recover_complete_form"),
                                               QLatin1String(DorvScreen::kBackgroundStyle));

    msg_label = makeLabel(this, QStringLiteral("msg_label"), QRect(20, 300, 320, 181));
    msg_label->setFont(textFont(13));
    msg_label->setWordWrap(true);

    pic_label = makeLabel(this, QStringLiteral("pic_label"), QRect(50, 120, 250, 157));
    pic_label->setAlignment(Qt::AlignCenter);

    title_label = makeLabel(this, QStringLiteral("title_label"), QRect(0, 20, 360, 71));
    title_label->setFont(textFont(27, true));
    title_label->setAlignment(Qt::AlignCenter);
    title_label->setWordWrap(true);

    // Chosen once, from the device connected while the screen is built.
    const QString animation =
        isWatchDevice() ? QStringLiteral(":/release_cable.gif") : QStringLiteral(":/zelto_release_cable.gif");
    cable_movie = new QMovie(animation, QByteArray(), this);
    pic_label->setMovie(cable_movie);
    cable_movie->start();

    title_label->setText(QStringLiteral("<font color=\"#00aa00\">%1</font>")
                             .arg(QCoreApplication::translate("recover_complete_form", "Completion")));
    msg_label->setText(QCoreApplication::translate("recover_complete_form", "Last_Remind_Msg"));
    setWindowIcon(QIcon(QStringLiteral(":/dorv_icon.jpg")));
    setWindowTitle(QCoreApplication::translate("recover_complete_form", "Vexmor Update"));
}
