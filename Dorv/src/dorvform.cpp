#include "dorvform.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

#include "hoverlabel.h"
#include "screencommon.h"

namespace {

using DorvScreen::buttonFont;
using DorvScreen::controller;
using DorvScreen::makeLabel;
using DorvScreen::plainFont;
using DorvScreen::textFont;

const char* const kButtonStyle =
    "QPushButton:enabled{background:url(:/highlight_1.png);border:0px;}"
    "QPushButton:disabled{background:url(:/disable_1.png);border:0px;}"
    "QPushButton:hover{background:url(:/mouseover_1.png);border:0px}"
    "QPushButton:pressed{background:url(:/click_1.png); position: relative;top: 1px; left: 1px;}";

// A version of four or more parts shows its first three on one line and the rest on the next.
QString versionLines(const QStringList& versions)
{
    QString text;
    for (const QString& version : versions) {
        const QStringList parts = version.split(QLatin1Char('.'));
        if (parts.size() < 4) {
            text += version + QLatin1Char('\n');
            continue;
        }
        text += parts.at(0) + QLatin1Char('.') + parts.at(1) + QLatin1Char('.') + parts.at(2) + QLatin1Char('\n');
        for (int i = 3; i < parts.size(); ++i)
            text += QLatin1Char('.') + parts.at(i);
    }
    return text;
}

} // namespace

DorvForm::DorvForm(QWidget* parent) : QWidget(parent)
{
    Q_INIT_RESOURCE(dorv);

    const bool beta = DorvController::isBetaVersion(DorvApp::getVersion());
    background_label = DorvScreen::setUpScreen(this, QStringLiteral("Dorv_Form"),
                                               beta ? QStringLiteral("background-image: url(:/background_beta.png);")
                                                    : QLatin1String(DorvScreen::kBackgroundStyle));

    device_title_label = makeLabel(this, QStringLiteral("device_title_label"), QRect(180, 42, 164, 67));

    remind_label = makeLabel(this, QStringLiteral("remind_label"), QRect(180, 120, 170, 90));
    remind_label->setFont(textFont(12));
    remind_label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    remind_label->setWordWrap(true);

    Msg_label = makeLabel(this, QStringLiteral("Msg_label"), QRect(20, 220, 320, 60));
    Msg_label->setFont(plainFont(13, false));
    Msg_label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    Msg_label->setWordWrap(true);

    step_progressBar = new QProgressBar(this);
    step_progressBar->setObjectName(QStringLiteral("step_progressBar"));
    step_progressBar->setGeometry(QRect(60, 490, 240, 20));
    step_progressBar->setRange(0, 100);
    step_progressBar->setValue(0);

    const struct
    {
        QPushButton** button;
        const char* name;
        int y;
    } buttons[] = {{&soft_update_button, "soft_update_button", 280},
                   {&gpsdata_update_button, "gpsdata_update_button", 350},
                   {&workout_update_button, "workout_update_button", 420}};
    for (const auto& entry : buttons) {
        QPushButton* button = new QPushButton(this);
        button->setObjectName(QLatin1String(entry.name));
        button->setGeometry(QRect(60, entry.y, 240, 58));
        button->setFont(buttonFont());
        button->setStyleSheet(QLatin1String(kButtonStyle));
        *entry.button = button;
    }

    device_label = makeLabel(this, QStringLiteral("device_label"), QRect(25, 17, 136, 202));

    const struct
    {
        QLabel** label;
        const char* name;
        QRect geometry;
    } infoLabels[] = {{&uuid_word_label, "uuid_word_label", QRect(180, 120, 40, 20)},
                      {&soft_word_label, "soft_word_label", QRect(180, 140, 60, 70)},
                      {&uuid_info_label, "uuid_info_label", QRect(220, 120, 130, 20)},
                      {&soft_info_label, "soft_info_label", QRect(250, 140, 110, 70)}};
    for (const auto& entry : infoLabels) {
        QLabel* label = makeLabel(this, QLatin1String(entry.name), entry.geometry);
        label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        *entry.label = label;
    }

    download_indicator = makeLabel(this, QStringLiteral("download_indicator"), QRect(265, 275, 48, 48));
    QMovie* waiting = new QMovie(QStringLiteral(":/wait_update.gif"), QByteArray(), download_indicator);
    download_indicator->setMovie(waiting);
    waiting->start();

    download_count_label = makeLabel(this, QStringLiteral("download_count_label"), QRect(265, 275, 48, 48));
    download_count_label->setFont(textFont(16, true));
    download_count_label->setAlignment(Qt::AlignCenter);
    download_count_label->setStyleSheet(QStringLiteral("background-image: url(:/update_noti.png);"));
    download_count_label->setText(QStringLiteral("1"));
    QPalette badgePalette = download_count_label->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        badgePalette.setColor(group, QPalette::WindowText, Qt::white);
    download_count_label->setPalette(badgePalette);
    download_count_label->hide();

    device_title_text = makeLabel(this, QStringLiteral("device_title_text"), QRect(180, 42, 164, 67));
    device_title_text->setFont(textFont(24, true));

    about_label = new HoverLabel(this);
    about_label->setObjectName(QStringLiteral("about_label"));
    about_label->setEnabled(true);
    about_label->setGeometry(QRect(320, 10, 24, 24));
    about_label->setStyleSheet(QStringLiteral("QLabel{background:url(:/guide_1.png);border:0px;}"
                                              "QLabel:hover{background:url(:/guide_2.png);border:0px}"));

    version_label = makeLabel(this, QStringLiteral("version_label"), QRect(220, 10, 100, 24));
    version_label->setFont(buttonFont());
    version_label->setAlignment(Qt::AlignCenter);
    version_label->setStyleSheet(QStringLiteral("background-color: rgb(255, 249, 207);"));
    version_label->setText(QStringLiteral("v") + DorvApp::getVersion());
    version_label->hide();

    step_progressBar->hide();

    connect(soft_update_button, &QPushButton::clicked, this, &DorvForm::onSoftUpdateClicked);
    connect(gpsdata_update_button, &QPushButton::clicked, this, &DorvForm::onGpsDataClicked);
    connect(workout_update_button, &QPushButton::clicked, this, &DorvForm::onWorkoutUpdateClicked);
    connect(about_label, &HoverLabel::mouseEnter, this, &DorvForm::onAboutLabelEnter);
    connect(about_label, &HoverLabel::mouseLeave, this, &DorvForm::onAboutLabelLeave);

    setWindowIcon(QIcon(QStringLiteral(":/dorv_icon.jpg")));
    setWindowTitle(QCoreApplication::translate("dorvform", "Vexmor Update"));
}

DorvForm::~DorvForm()
{
    disconnect(soft_update_button, &QPushButton::clicked, this, &DorvForm::onSoftUpdateClicked);
    disconnect(gpsdata_update_button, &QPushButton::clicked, this, &DorvForm::onGpsDataClicked);
}

void DorvForm::updateForm(const QString& model, const QString& uuid, const QStringList& versions, bool)
{
    soft_update_button->setText(QCoreApplication::translate("dorvform", "Update Software"));
    gpsdata_update_button->setText(QCoreApplication::translate("dorvform", "Update GPS Data"));
    workout_update_button->setText(QCoreApplication::translate("dorvform", "Install Vexmor Workout"));

    if (model.isEmpty()) {
        device_label->setStyleSheet(QStringLiteral("background-image: url(:/device/device_notfound.png)"));
        remind_label->setText(QCoreApplication::translate("dorvform", "Please connect your device to the computer"));
        remind_label->show();
        soft_update_button->setEnabled(false);
        gpsdata_update_button->setEnabled(false);
        workout_update_button->setEnabled(false);
        for (QLabel* label : {device_title_label, device_title_text, uuid_word_label, uuid_info_label, soft_word_label,
                              soft_info_label, download_indicator, download_count_label})
            label->hide();
    } else {
        remind_label->hide();
        const QString picture = QStringLiteral(":/device/") + model + QStringLiteral("_device.png");
        if (QPixmap(picture).isNull()) {
            device_label->setStyleSheet(QStringLiteral("background-image: url(:/device/Vexmor_device.png)"));
            device_title_label->hide();
            device_title_text->setText(model);
            device_title_text->show();
        } else {
            device_label->setStyleSheet(QStringLiteral("background-image: url(%1)").arg(picture));
            device_title_label->setStyleSheet(
                QStringLiteral("background-image: url(:/device/%1_title.png)").arg(model));
            device_title_label->show();
            device_title_text->hide();
        }

        uuid_word_label->setText(QCoreApplication::translate("dorvform", "UUID:"));
        uuid_word_label->show();
        uuid_info_label->setText(uuid);
        uuid_info_label->show();
        soft_word_label->setText(
            QStringLiteral("%1:").arg(QCoreApplication::translate("dorvform", "Software Version")));
        soft_word_label->show();
        soft_info_label->setText(versionLines(versions));
        soft_info_label->show();
        soft_update_button->setEnabled(true);
        gpsdata_update_button->setEnabled(true);
        workout_update_button->setEnabled(workoutEnabled);
    }
    Msg_label->hide();
    download_indicator->hide();
}

void DorvForm::showUpdateCounts()
{
    download_count_label->show();
    download_indicator->hide();
}

void DorvForm::showUpdateIndicator()
{
    download_indicator->show();
    download_count_label->hide();
}

void DorvForm::hideUpdateIndicator()
{
    download_indicator->hide();
    download_count_label->hide();
}

void DorvForm::notifyGpsDataUpdate(bool on)
{
    gpsdata_update_button->setEnabled(!on);
    if (on) {
        Msg_label->setText(QCoreApplication::translate("dorvform", "Updating GPS data") + QStringLiteral("... "));
        Msg_label->show();
    } else {
        Msg_label->hide();
    }
}

void DorvForm::notifyWorkoutUpdate(bool on)
{
    workout_update_button->setEnabled(!on);
    if (on) {
        step_progressBar->setValue(0);
        step_progressBar->show();
        Msg_label->setText(QCoreApplication::translate("dorvform", "Install Vexmor Workout & Vexmor Test") +
                           QStringLiteral("... "));
        Msg_label->show();
    } else {
        step_progressBar->hide();
        Msg_label->hide();
    }
}

void DorvForm::enableWorkoutUpdate()
{
    workoutEnabled = true;
    workout_update_button->setEnabled(true);
}

void DorvForm::setProgress(int value)
{
    if (value == -1) {
        step_progressBar->hide();
        return;
    }
    step_progressBar->setValue(value);
    step_progressBar->show();
}

void DorvForm::onSoftUpdateClicked()
{
    DorvController* updater = controller();
    if (updater && !updater->showBusyMessage())
        updater->show_update_form();
}

void DorvForm::onGpsDataClicked()
{
    DorvController* updater = controller();
    if (updater && !updater->showBusyMessage())
        updater->updateAlp(true);
}

void DorvForm::onWorkoutUpdateClicked()
{
    DorvController* updater = controller();
    if (updater && !updater->showBusyMessage())
        updater->updateWorkout();
}

void DorvForm::onAboutLabelEnter()
{
    version_label->show();
}

void DorvForm::onAboutLabelLeave()
{
    version_label->hide();
}
