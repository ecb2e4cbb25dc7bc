#include "recover_fail.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "screencommon.h"

namespace {

using DorvScreen::makeLabel;
using DorvScreen::textFont;

const int kNotEnoughSpace = 3;

} // namespace

recover_fail_form::recover_fail_form(QWidget* parent) : QWidget(parent)
{
    Q_INIT_RESOURCE(dorv);

    background_label = DorvScreen::setUpScreen(this, QStringLiteral("recover_fail_form"),
                                               QLatin1String(DorvScreen::kBackgroundStyle));

    OK_button = new QPushButton(this);
    OK_button->setObjectName(QStringLiteral("OK_button"));
    OK_button->setGeometry(QRect(110, 450, 140, 50));
    OK_button->setFont(DorvScreen::buttonFont());

    msg_label = makeLabel(this, QStringLiteral("msg_label"), QRect(0, 290, 360, 111));
    msg_label->setFont(textFont(DorvScreen::kDefaultPixelSize));
    msg_label->setAlignment(Qt::AlignCenter);
    msg_label->setWordWrap(true);

    pic_label = makeLabel(this, QStringLiteral("pic_label"), QRect(105, 120, 150, 136));
    pic_label->setAlignment(Qt::AlignCenter);

    title_label = makeLabel(this, QStringLiteral("title_label"), QRect(0, 20, 360, 71));
    title_label->setFont(textFont(27, true));
    title_label->setAlignment(Qt::AlignCenter);
    title_label->setWordWrap(true);

    setWindowIcon(QIcon(QStringLiteral(":/dorv_icon.jpg")));
    setWindowTitle(QCoreApplication::translate("recover_fail_form", "Vexmor Update"));
    pic_label->setStyleSheet(QStringLiteral("background-image: url(:/cry.png)"));
    OK_button->setText(QCoreApplication::translate("recover_fail_form", "OK"));
    OK_button->setStyleSheet(
        QStringLiteral("QPushButton{background:url(:/highlight_3.png);border:0px;}"
                       "QPushButton:hover{background:url(:/mouseover_3.png);border:0px}"
                       "QPushButton:pressed{background:url(:/click_3.png); position: relative;top: 1px; left: 1px;}"));
    title_label->setText(QStringLiteral("<font color=\"#00aa00\">%1</font>")
                             .arg(QCoreApplication::translate("recover_fail_form", "Sorry")));

    connect(OK_button, &QPushButton::clicked, this, &recover_fail_form::on_backbutton_clicked);
}

recover_fail_form::~recover_fail_form()
{
    disconnect(OK_button, &QPushButton::clicked, this, &recover_fail_form::on_backbutton_clicked);
}

void recover_fail_form::set_fail_msg(int code)
{
    if (code == kNotEnoughSpace) {
        msg_label->setText(QStringLiteral("<font size=\"5\">%1</font>")
                               .arg(QCoreApplication::translate("recover_fail_form", "Not_Enough_Space_Msg")));
    } else {
        msg_label->setText(QStringLiteral("<font size=\"16\" weight=\"50\" color=\"#00aa00\">%1</font>")
                               .arg(QCoreApplication::translate("recover_fail_form", "Fail. Please try again later.")));
    }
}

void recover_fail_form::on_backbutton_clicked()
{
    if (DorvController* controller = DorvScreen::controller())
        controller->show_index(false);
}
