#ifndef SOFTUPDATEFORM_H
#define SOFTUPDATEFORM_H

#include <QString>
#include <QWidget>

class HoverLabel;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// Offers the cached package: the device's and the available version, a backup warning, the release note while
// the pointer rests on the info icon, and Update / Cancel. The controller moves the bar and shows the result.
class SoftUpdateForm : public QWidget
{
    Q_OBJECT

public:
    explicit SoftUpdateForm(QWidget* parent = nullptr);

    // Back to the offer state for a new offer.
    void updateForm(const QString& availableVersion, const QString& currentVersion, const QString& unused);
    void setProgress(int value);

private slots:
    void onUpdateclicked();
    void onCancelclicked();
    void onMouseEnter();
    void onMouseLeave();

private:
    void showNoteLabel(bool show);

    QLabel* background_label;
    QLabel* title_label;
    QLabel* remind_label;
    QLabel* Msg_label;
    QProgressBar* step_progressBar;
    QPushButton* soft_update_button;
    QPushButton* cancel_button;
    HoverLabel* info_label;
    QLabel* note_text_label = nullptr; // made on the first hover
    QLabel* warning_label;
    QListWidget* soft_update_list;
};

#endif
