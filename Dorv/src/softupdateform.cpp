#include "softupdateform.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
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
    "QPushButton:enabled{background:url(:/highlight_3.png);border:0px;}"
    "QPushButton:disabled{background:url(:/disable_3.png);border:0px;}"
    "QPushButton:hover{background:url(:/mouseover_3.png);border:0px}"
    "QPushButton:pressed{background:url(:/click_3.png); position: relative;top: 1px; left: 1px;}";

} // namespace

SoftUpdateForm::SoftUpdateForm(QWidget* parent) : QWidget(parent)
{
    Q_INIT_RESOURCE(dorv);

    background_label = DorvScreen::setUpScreen(this, QStringLiteral("SoftUpdateForm"),
                                               QLatin1String(DorvScreen::kBackgroundStyle));

    title_label = makeLabel(this, QStringLiteral("title_label"), QRect(30, 20, 164, 67));
    title_label->setFont(textFont(16, true));

    warning_label = makeLabel(this, QStringLiteral("warning_label"), QRect(30, 230, 48, 48));
    warning_label->setStyleSheet(QStringLiteral("background-image: url(:/warning.png);"));

    remind_label = makeLabel(this, QStringLiteral("remind_label"), QRect(80, 230, 250, 80));
    remind_label->setFont(textFont(13));
    remind_label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    remind_label->setWordWrap(true);

    Msg_label = makeLabel(this, QStringLiteral("Msg_label"), QRect(80, 320, 250, 90));
    Msg_label->setFont(plainFont(13, false));
    Msg_label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    Msg_label->setWordWrap(true);

    info_label = new HoverLabel(this);
    info_label->setObjectName(QStringLiteral("info_label"));
    info_label->setEnabled(true);
    info_label->setGeometry(QRect(305, 75, 24, 24));
    info_label->setStyleSheet(QStringLiteral("QLabel{background:url(:/info_2.png);border:0px;}"
                                             "QLabel:hover{background:url(:/info_1.png);border:0px}"));

    soft_update_button = new QPushButton(this);
    soft_update_button->setObjectName(QStringLiteral("soft_update_button"));
    soft_update_button->setGeometry(QRect(190, 450, 140, 50));
    soft_update_button->setFont(buttonFont());
    soft_update_button->setStyleSheet(QLatin1String(kButtonStyle));

    cancel_button = new QPushButton(this);
    cancel_button->setObjectName(QStringLiteral("cancel_button"));
    cancel_button->setGeometry(QRect(40, 450, 140, 50));
    cancel_button->setFont(buttonFont());
    cancel_button->setStyleSheet(QLatin1String(kButtonStyle));

    soft_update_list = new QListWidget(this);
    soft_update_list->setObjectName(QStringLiteral("soft_update_list"));
    soft_update_list->setEnabled(true);
    soft_update_list->setGeometry(QRect(30, 100, 300, 100));

    step_progressBar = new QProgressBar(this);
    step_progressBar->setObjectName(QStringLiteral("step_progressBar"));
    step_progressBar->setGeometry(QRect(45, 350, 280, 30));
    step_progressBar->setRange(0, 100);
    step_progressBar->setValue(0);

    title_label->setText(QCoreApplication::translate("softupdateform", "Software Update"));
    remind_label->setText(QCoreApplication::translate("softupdateform", "Backup_Data_Warn_Msg"));
    Msg_label->setText(QCoreApplication::translate("softupdateform", "Force_Update_Device_Msg"));
    soft_update_button->setText(QCoreApplication::translate("softupdateform", "Update"));
    cancel_button->setText(QCoreApplication::translate("softupdateform", "Cancel"));

    connect(cancel_button, &QPushButton::clicked, this, &SoftUpdateForm::onCancelclicked);
    connect(soft_update_button, &QPushButton::clicked, this, &SoftUpdateForm::onUpdateclicked);
    connect(info_label, &HoverLabel::mouseEnter, this, &SoftUpdateForm::onMouseEnter);
    connect(info_label, &HoverLabel::mouseLeave, this, &SoftUpdateForm::onMouseLeave);

    setWindowIcon(QIcon(QStringLiteral(":/dorv_icon.jpg")));
    setWindowTitle(QCoreApplication::translate("softupdateform", "Vexmor Update"));
}

void SoftUpdateForm::updateForm(const QString& availableVersion, const QString& currentVersion, const QString&)
{
    soft_update_list->clear();
    step_progressBar->setValue(0);
    soft_update_button->setEnabled(true);
    cancel_button->setEnabled(true);

    soft_update_list->insertItem(0, QCoreApplication::translate("softupdateform", "Device software"));
    soft_update_list->insertItem(1, QCoreApplication::translate("softupdateform", "Current") + QStringLiteral(": ") +
                                        currentVersion);
    soft_update_list->insertItem(2, QCoreApplication::translate("softupdateform", "Update") + QStringLiteral(": ") +
                                        availableVersion);

    // Replaces the updating warning that an earlier update left.
    remind_label->setText(QCoreApplication::translate("softupdateform", "Backup_Data_Warn_Msg"));
    step_progressBar->hide();
    Msg_label->show();
}

void SoftUpdateForm::setProgress(int value)
{
    step_progressBar->setValue(value);
}

void SoftUpdateForm::onUpdateclicked()
{
    remind_label->setText(QCoreApplication::translate("softupdateform", "Device_Updating_Warn_Msg"));
    step_progressBar->show();
    Msg_label->hide();
    soft_update_button->setEnabled(false);
    cancel_button->setEnabled(false);
    if (DorvController* updater = controller())
        updater->updateDevice();
}

void SoftUpdateForm::onCancelclicked()
{
    if (DorvController* updater = controller())
        updater->show_index(false);
}

void SoftUpdateForm::onMouseEnter()
{
    showNoteLabel(true);
}

void SoftUpdateForm::onMouseLeave()
{
    showNoteLabel(false);
}

void SoftUpdateForm::showNoteLabel(bool show)
{
    if (!show) {
        if (note_text_label)
            note_text_label->hide();
        return;
    }
    if (!note_text_label) {
        // Made last, so it lies above the version list and the warning icon it covers.
        note_text_label = makeLabel(this, QStringLiteral("note_text_label"), QRect(20, 100, 300, 200));
        note_text_label->setIndent(5);
        note_text_label->setStyleSheet(QStringLiteral("background-color: rgb(255, 249, 207);"));
        note_text_label->setWordWrap(false);
    }
    note_text_label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    // Fetched on every hover: the note may have been cached since the last one.
    DorvController* updater = controller();
    note_text_label->setText(updater ? updater->getReleaseNote() : QString());
    note_text_label->raise();
    note_text_label->show();
}
