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

// The controller builds this screen in its own constructor, before the application holds it, and a screen may
// live without a controller at all; the rule then is the controller's own, applied to the daemon's current client.
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

    // One movie for the screen's life; each showing points it at the animation of the device connected then.
    cable_movie = new QMovie(this);
    pic_label->setMovie(cable_movie);
    chooseAnimation();

    title_label->setText(QStringLiteral("<font color=\"#00aa00\">%1</font>")
                             .arg(QCoreApplication::translate("recover_complete_form", "Completion")));
    msg_label->setText(QCoreApplication::translate("recover_complete_form", "Last_Remind_Msg"));
    setWindowIcon(QIcon(QStringLiteral(":/dorv_icon.jpg")));
    setWindowTitle(QCoreApplication::translate("recover_complete_form", "Vexmor Update"));
}

void recover_complete_form::showEvent(QShowEvent* event)
{
    // The screen is built at start-up, often before any device is plugged in.
    chooseAnimation();
    QWidget::showEvent(event);
}

void recover_complete_form::chooseAnimation()
{
    const QString animation =
        isWatchDevice() ? QStringLiteral(":/release_cable.gif") : QStringLiteral(":/zelto_release_cable.gif");
    if (cable_movie->fileName() == animation && cable_movie->state() == QMovie::Running)
        return;
    cable_movie->stop();
    cable_movie->setFileName(animation);
    cable_movie->start();
}
