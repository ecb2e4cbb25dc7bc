#ifndef RECOVER_COMPLETE_H
#define RECOVER_COMPLETE_H

#include <QWidget>

class QLabel;
class QMovie;

// Announces a finished software update: the title, an animation of the cable being released from the connected
// device and a closing reminder. It has no button; the controller replaces it when the device goes or comes.
class recover_complete_form : public QWidget
{
    Q_OBJECT

public:
    explicit recover_complete_form(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void chooseAnimation();

    QLabel* background_label;
    QLabel* msg_label;
    QLabel* pic_label;
    QLabel* title_label;
    QMovie* cable_movie;
};

#endif
