#ifndef DORVFORM_H
#define DORVFORM_H

#include <QString>
#include <QStringList>
#include <QWidget>

class HoverLabel;
class QLabel;
class QProgressBar;
class QPushButton;

// The updater's main window: the connected device, the three action buttons, the update badge, a message line
// and a progress bar. It holds no logic: the controller changes what it shows and receives the button presses.
class DorvForm : public QWidget
{
    Q_OBJECT

public:
    explicit DorvForm(QWidget* parent = nullptr);
    ~DorvForm() override;

    // The no-device state when `model` is empty, else the device with its UUID and version lines.
    void updateForm(const QString& model, const QString& uuid, const QStringList& versions, bool updateFolderExists);
    void showUpdateCounts();
    void showUpdateIndicator();
    void hideUpdateIndicator();
    void notifyGpsDataUpdate(bool on);
    void notifyWorkoutUpdate(bool on);
    void enableWorkoutUpdate();
    // -1 hides the bar; any other value shows it.
    void setProgress(int value);

private slots:
    void onSoftUpdateClicked();
    void onGpsDataClicked();
    void onWorkoutUpdateClicked();
    void onAboutLabelEnter();
    void onAboutLabelLeave();

private:
    QLabel* background_label;
    QLabel* device_title_label;
    QLabel* device_title_text;
    QLabel* remind_label;
    QLabel* Msg_label;
    QProgressBar* step_progressBar;
    QPushButton* soft_update_button;
    QPushButton* gpsdata_update_button;
    QPushButton* workout_update_button;
    QLabel* device_label;
    QLabel* uuid_word_label;
    QLabel* soft_word_label;
    QLabel* uuid_info_label;
    QLabel* soft_info_label;
    QLabel* download_indicator;
    QLabel* download_count_label;
    HoverLabel* about_label;
    QLabel* version_label;
    // Set once the workout component proved installable; never cleared, also not when the device changes.
    bool workoutEnabled = false;
};

#endif
