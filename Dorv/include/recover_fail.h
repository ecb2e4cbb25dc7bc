#ifndef RECOVER_FAIL_H
#define RECOVER_FAIL_H

#include <QWidget>

class QLabel;
class QPushButton;

// Announces a failed software update with a message chosen by the error code; OK returns to the main window.
class recover_fail_form : public QWidget
{
    Q_OBJECT

public:
    explicit recover_fail_form(QWidget* parent = nullptr);
    ~recover_fail_form() override;

    // Code 3 (no room on the device) has its own text; every other code shows the generic failure.
    void set_fail_msg(int code);

private slots:
    void on_backbutton_clicked();

private:
    QLabel* background_label;
    QPushButton* OK_button;
    QLabel* msg_label;
    QLabel* pic_label;
    QLabel* title_label;
};

#endif
