#include <QtTest>

#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMovie>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTranslator>

#include <functional>
#include <memory>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"
#include "device/jxdevicemanager.h"
#include "device/jxdeviceservice.h"
#include "dorvapp.h"
#include "dorvcontroller.h"
#include "dorvform.h"
#include "hoverlabel.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "recover_complete.h"
#include "recover_fail.h"
#include "softupdateform.h"

namespace {

const char* const kDialogButtonStyle =
    "QPushButton:enabled{background:url(:/highlight_3.png);border:0px;}"
    "QPushButton:disabled{background:url(:/disable_3.png);border:0px;}"
    "QPushButton:hover{background:url(:/mouseover_3.png);border:0px}"
    "QPushButton:pressed{background:url(:/click_3.png); position: relative;top: 1px; left: 1px;}";
const char* const kMainButtonStyle =
    "QPushButton:enabled{background:url(:/highlight_1.png);border:0px;}"
    "QPushButton:disabled{background:url(:/disable_1.png);border:0px;}"
    "QPushButton:hover{background:url(:/mouseover_1.png);border:0px}"
    "QPushButton:pressed{background:url(:/click_1.png); position: relative;top: 1px; left: 1px;}";

std::unique_ptr<QWidget> makeScreen(const QString& name)
{
    if (name == QLatin1String("Dorv_Form"))
        return std::make_unique<DorvForm>();
    if (name == QLatin1String("SoftUpdateForm"))
        return std::make_unique<SoftUpdateForm>();
    if (name == QLatin1String("recover_complete_form"))
        return std::make_unique<recover_complete_form>();
    if (name == QLatin1String("recover_fail_form"))
        return std::make_unique<recover_fail_form>();
    return nullptr;
}

template <class T> T* child(QWidget* screen, const char* name)
{
    T* result = screen->findChild<T*>(QLatin1String(name));
    if (!result)
        qWarning("no child %s", name);
    return result;
}

// Shown once its window is: what the screen itself decided, independent of the window being on screen.
bool shown(QWidget* widget)
{
    return !widget->isHidden();
}

void hover(QWidget* widget, QEvent::Type type)
{
    QEvent event(type);
    QCoreApplication::sendEvent(widget, &event);
}

QWidget* topLevel(const QString& objectName)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == objectName)
            return widget;
    }
    return nullptr;
}

// A connected device of a chosen product type, for the completion screen's choice of animation.
class TypedDevice : public JXDeviceImpl<TypedDevice, JXClient>
{
public:
    static int nextType;

    bool getName(QString& model) override
    {
        model = QStringLiteral("Zelto70");
        return true;
    }
    int getDeviceType() override { return m_type; }
    bool prepareUploadData(QString&, bool) override { return false; }
    QStringList saveDeviceRawData(QString) override { return {}; }

private:
    const int m_type = nextType;
};
int TypedDevice::nextType = 0;

class TypedService : public JXDeviceService
{
public:
    TypedService()
    {
        m_row.code = QStringLiteral("7001");
        m_row.modelName = QStringLiteral("Zelto70");
        m_row.matchText = QStringLiteral("Vexmor:test");
        m_row.factory = &TypedDevice::create;
    }
    bool readDeviceUUID(QString& uuid) override
    {
        uuid = QStringLiteral("7001-0001");
        return true;
    }
    stRegDevInfo* getRegistryInfo() override { return &m_row; }
    int getType() override { return DEVICE_FS; }

private:
    stRegDevInfo m_row;
};

} // namespace

class TestDorvForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void windowProperties_data();
    void windowProperties();
    void layout_data();
    void layout();
    void styles_data();
    void styles();
    void sourceTextsWithoutTranslation();

    void mainWindowNoDevice_data();
    void mainWindowNoDevice();
    void mainWindowDevicePictures_data();
    void mainWindowDevicePictures();
    void mainWindowVersionLines_data();
    void mainWindowVersionLines();
    void mainWindowWorkoutFlag();
    void mainWindowUpdateBadge();
    void mainWindowMessagesAndProgress();
    void aboutLabelShowsVersionWhileHovered();

    void dialogOffer();
    void dialogUpdating();
    void dialogReleaseNote();

    void completionAnimation_data();
    void completionAnimation();
    void completionAnimationFollowsDevice();
    void completionAnimationDrawsModelPicture_data();
    void completionAnimationDrawsModelPicture();
    void failMessage_data();
    void failMessage();

    void picturesHaveLayoutSizes_data();
    void picturesHaveLayoutSizes();
    void englishTranslationIsTheFallback();

    // Makes the application's controller, which stays for the rest of the run: keep it last.
    void screensReachController();
};

void TestDorvForms::initTestCase()
{
    JXEnv::getInstance()->init(QStringLiteral("both"), QStringLiteral("dorvupdate.log"));
    JXDaemon::getInstance()->getDeviceManager()->setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
    QVERIFY(!DorvApp::instance()->getController());
}

void TestDorvForms::windowProperties_data()
{
    QTest::addColumn<QString>("screen");
    QTest::newRow("main window") << "Dorv_Form";
    QTest::newRow("software update dialog") << "SoftUpdateForm";
    QTest::newRow("completion screen") << "recover_complete_form";
    QTest::newRow("failure screen") << "recover_fail_form";
}

void TestDorvForms::windowProperties()
{
    QFETCH(QString, screen);
    std::unique_ptr<QWidget> form = makeScreen(screen);
    QCOMPARE(form->objectName(), screen);
    QVERIFY(form->isWindow());
    QCOMPARE(form->size(), QSize(360, 525));
    QCOMPARE(form->minimumSize(), QSize(360, 525));
    QCOMPARE(form->maximumSize(), QSize(360, 525));
    QCOMPARE(form->windowTitle(), QStringLiteral("Vexmor Update"));
    QVERIFY(!form->windowIcon().isNull());
    QVERIFY(form->styleSheet().isEmpty());
    QVERIFY(form->isEnabled());
    QCOMPARE(form->windowOpacity(), 1.0);
    if (screen == QLatin1String("recover_complete_form"))
        QVERIFY(!form->acceptDrops());
}

void TestDorvForms::layout_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("shownAtStart");

    const auto row = [](const char* screen, const char* name, const char* kind, QRect geometry, int pixelSize,
                        bool bold, bool shownAtStart) {
        QTest::addRow("%s %s", screen, name) << screen << name << kind << geometry << pixelSize << bold << shownAtStart;
    };
    const char* mainWindow = "Dorv_Form";
    row(mainWindow, "background_label", "QLabel", QRect(0, 0, 360, 525), 12, false, true);
    row(mainWindow, "device_title_label", "QLabel", QRect(180, 42, 164, 67), 12, false, true);
    row(mainWindow, "remind_label", "QLabel", QRect(180, 120, 170, 90), 12, false, true);
    row(mainWindow, "Msg_label", "QLabel", QRect(20, 220, 320, 60), 13, false, true);
    row(mainWindow, "step_progressBar", "QProgressBar", QRect(60, 490, 240, 20), 12, false, false);
    row(mainWindow, "soft_update_button", "QPushButton", QRect(60, 280, 240, 58), 12, true, true);
    row(mainWindow, "gpsdata_update_button", "QPushButton", QRect(60, 350, 240, 58), 12, true, true);
    row(mainWindow, "workout_update_button", "QPushButton", QRect(60, 420, 240, 58), 12, true, true);
    row(mainWindow, "device_label", "QLabel", QRect(25, 17, 136, 202), 12, false, true);
    row(mainWindow, "uuid_word_label", "QLabel", QRect(180, 120, 40, 20), 12, false, true);
    row(mainWindow, "soft_word_label", "QLabel", QRect(180, 140, 60, 70), 12, false, true);
    row(mainWindow, "uuid_info_label", "QLabel", QRect(220, 120, 130, 20), 12, false, true);
    row(mainWindow, "soft_info_label", "QLabel", QRect(250, 140, 110, 70), 12, false, true);
    row(mainWindow, "download_indicator", "QLabel", QRect(265, 275, 48, 48), 12, false, true);
    row(mainWindow, "download_count_label", "QLabel", QRect(265, 275, 48, 48), 16, true, false);
    row(mainWindow, "device_title_text", "QLabel", QRect(180, 42, 164, 67), 24, true, true);
    row(mainWindow, "about_label", "HoverLabel", QRect(320, 10, 24, 24), 12, false, true);
    row(mainWindow, "version_label", "QLabel", QRect(220, 10, 100, 24), 12, true, false);

    const char* dialog = "SoftUpdateForm";
    row(dialog, "background_label", "QLabel", QRect(0, 0, 360, 525), 12, false, true);
    row(dialog, "title_label", "QLabel", QRect(30, 20, 164, 67), 16, true, true);
    row(dialog, "warning_label", "QLabel", QRect(30, 230, 48, 48), 12, false, true);
    row(dialog, "remind_label", "QLabel", QRect(80, 230, 250, 80), 13, false, true);
    row(dialog, "Msg_label", "QLabel", QRect(80, 320, 250, 90), 13, false, true);
    row(dialog, "info_label", "HoverLabel", QRect(305, 75, 24, 24), 12, false, true);
    row(dialog, "soft_update_button", "QPushButton", QRect(190, 450, 140, 50), 12, true, true);
    row(dialog, "cancel_button", "QPushButton", QRect(40, 450, 140, 50), 12, true, true);
    row(dialog, "soft_update_list", "QListWidget", QRect(30, 100, 300, 100), 12, false, true);
    row(dialog, "step_progressBar", "QProgressBar", QRect(45, 350, 280, 30), 12, false, true);

    const char* complete = "recover_complete_form";
    row(complete, "background_label", "QLabel", QRect(0, 0, 360, 525), 12, false, true);
    row(complete, "msg_label", "QLabel", QRect(20, 300, 320, 181), 13, false, true);
    row(complete, "pic_label", "QLabel", QRect(50, 120, 250, 157), 12, false, true);
    row(complete, "title_label", "QLabel", QRect(0, 20, 360, 71), 27, true, true);

    const char* fail = "recover_fail_form";
    row(fail, "background_label", "QLabel", QRect(0, 0, 360, 525), 12, false, true);
    row(fail, "OK_button", "QPushButton", QRect(110, 450, 140, 50), 12, true, true);
    row(fail, "msg_label", "QLabel", QRect(0, 290, 360, 111), 12, false, true);
    row(fail, "pic_label", "QLabel", QRect(105, 120, 150, 136), 12, false, true);
    row(fail, "title_label", "QLabel", QRect(0, 20, 360, 71), 27, true, true);
}

void TestDorvForms::layout()
{
    QFETCH(QString, screen);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QFETCH(bool, shownAtStart);

    std::unique_ptr<QWidget> form = makeScreen(screen);
    const QList<QWidget*> named = form->findChildren<QWidget*>(name);
    QCOMPARE(named.size(), 1);
    QWidget* widget = named.first();
    QCOMPARE(widget->parentWidget(), form.get());
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->font().pixelSize(), pixelSize);
    QCOMPARE(widget->font().bold(), bold);
    QCOMPARE(shown(widget), shownAtStart);
    QVERIFY(widget->isEnabled());
    if (kind == QLatin1String("QPushButton")) {
        QVERIFY(widget->font().kerning());
        QVERIFY(!widget->font().italic());
        QVERIFY(!widget->font().underline());
    }
}

void TestDorvForms::styles_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("style");

    // The application's version 1.0.0.64 is a release build, so the main window has the plain background.
    for (const char* screen : {"Dorv_Form", "SoftUpdateForm", "recover_complete_form", "recover_fail_form"})
        QTest::addRow("%s background", screen) << screen << "background_label"
                                               << "background-image: url(:/background.png);";
    for (const char* button : {"soft_update_button", "gpsdata_update_button", "workout_update_button"})
        QTest::addRow("main %s", button) << "Dorv_Form" << button << kMainButtonStyle;
    QTest::newRow("about icon") << "Dorv_Form"
                                << "about_label"
                                << "QLabel{background:url(:/guide_1.png);border:0px;}"
                                   "QLabel:hover{background:url(:/guide_2.png);border:0px}";
    QTest::newRow("badge") << "Dorv_Form"
                           << "download_count_label"
                           << "background-image: url(:/update_noti.png);";
    QTest::newRow("version box") << "Dorv_Form"
                                 << "version_label"
                                 << "background-color: rgb(255, 249, 207);";
    QTest::newRow("dialog update") << "SoftUpdateForm"
                                   << "soft_update_button" << kDialogButtonStyle;
    QTest::newRow("dialog cancel") << "SoftUpdateForm"
                                   << "cancel_button" << kDialogButtonStyle;
    QTest::newRow("warning") << "SoftUpdateForm"
                             << "warning_label"
                             << "background-image: url(:/warning.png);";
    QTest::newRow("info icon") << "SoftUpdateForm"
                               << "info_label"
                               << "QLabel{background:url(:/info_2.png);border:0px;}"
                                  "QLabel:hover{background:url(:/info_1.png);border:0px}";
    QTest::newRow("crying face") << "recover_fail_form"
                                 << "pic_label"
                                 << "background-image: url(:/cry.png)";
    QTest::newRow("OK") << "recover_fail_form"
                        << "OK_button"
                        << "QPushButton{background:url(:/highlight_3.png);border:0px;}"
                           "QPushButton:hover{background:url(:/mouseover_3.png);border:0px}"
                           "QPushButton:pressed{background:url(:/click_3.png); position: relative;top: 1px; "
                           "left: 1px;}";
}

void TestDorvForms::styles()
{
    QFETCH(QString, screen);
    QFETCH(QString, name);
    QFETCH(QString, style);
    std::unique_ptr<QWidget> form = makeScreen(screen);
    QCOMPARE(child<QWidget>(form.get(), qPrintable(name))->styleSheet(), style);
}

void TestDorvForms::sourceTextsWithoutTranslation()
{
    // No translator is installed: the message keys themselves show.
    DorvForm mainWindow;
    QCOMPARE(child<QLabel>(&mainWindow, "download_count_label")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLabel>(&mainWindow, "version_label")->text(), QStringLiteral("v1.0.0.64"));
    QVERIFY(child<QLabel>(&mainWindow, "download_indicator")->movie());
    QCOMPARE(child<QLabel>(&mainWindow, "download_indicator")->movie()->state(), QMovie::Running);
    QCOMPARE(child<QProgressBar>(&mainWindow, "step_progressBar")->minimum(), 0);
    QCOMPARE(child<QProgressBar>(&mainWindow, "step_progressBar")->maximum(), 100);
    const QPalette badge = child<QLabel>(&mainWindow, "download_count_label")->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(badge.color(group, QPalette::WindowText), QColor(Qt::white));

    SoftUpdateForm dialog;
    QCOMPARE(child<QLabel>(&dialog, "title_label")->text(), QStringLiteral("Software Update"));
    QCOMPARE(child<QLabel>(&dialog, "remind_label")->text(), QStringLiteral("Backup_Data_Warn_Msg"));
    QCOMPARE(child<QLabel>(&dialog, "Msg_label")->text(), QStringLiteral("Force_Update_Device_Msg"));
    QCOMPARE(child<QPushButton>(&dialog, "soft_update_button")->text(), QStringLiteral("Update"));
    QCOMPARE(child<QPushButton>(&dialog, "cancel_button")->text(), QStringLiteral("Cancel"));

    recover_complete_form complete;
    QCOMPARE(child<QLabel>(&complete, "title_label")->text(),
             QStringLiteral("<font color=\"#00aa00\">Completion</font>"));
    QCOMPARE(child<QLabel>(&complete, "msg_label")->text(), QStringLiteral("Last_Remind_Msg"));
    QVERIFY(child<QLabel>(&complete, "msg_label")->wordWrap());

    recover_fail_form fail;
    QCOMPARE(child<QLabel>(&fail, "title_label")->text(), QStringLiteral("<font color=\"#00aa00\">Sorry</font>"));
    QCOMPARE(child<QPushButton>(&fail, "OK_button")->text(), QStringLiteral("OK"));
}

void TestDorvForms::mainWindowNoDevice_data()
{
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QStringList>("versions");
    QTest::newRow("nothing") << QString() << QStringList();
    QTest::newRow("UUID and versions given") << "7001-0001" << QStringList{"1.2.3.4", "2.0"};
}

void TestDorvForms::mainWindowNoDevice()
{
    QFETCH(QString, uuid);
    QFETCH(QStringList, versions);
    DorvForm form;
    // A device shown before, with its badge, leaves nothing behind.
    form.updateForm(QStringLiteral("Zelto70"), QStringLiteral("x"), {QStringLiteral("1.0")}, true);
    form.showUpdateCounts();
    form.notifyGpsDataUpdate(true);

    form.updateForm(QString(), uuid, versions, true);

    QCOMPARE(child<QLabel>(&form, "device_label")->styleSheet(),
             QStringLiteral("background-image: url(:/device/device_notfound.png)"));
    QVERIFY(shown(child<QLabel>(&form, "remind_label")));
    QCOMPARE(child<QLabel>(&form, "remind_label")->text(),
             QStringLiteral("Please connect your device to the computer"));
    for (const char* button : {"soft_update_button", "gpsdata_update_button", "workout_update_button"})
        QVERIFY2(!child<QPushButton>(&form, button)->isEnabled(), button);
    for (const char* hidden :
         {"device_title_label", "device_title_text", "uuid_word_label", "uuid_info_label", "soft_word_label",
          "soft_info_label", "download_indicator", "download_count_label", "Msg_label"})
        QVERIFY2(!shown(child<QWidget>(&form, hidden)), hidden);
    QCOMPARE(child<QPushButton>(&form, "soft_update_button")->text(), QStringLiteral("Update Software"));
    QCOMPARE(child<QPushButton>(&form, "gpsdata_update_button")->text(), QStringLiteral("Update GPS Data"));
    QCOMPARE(child<QPushButton>(&form, "workout_update_button")->text(), QStringLiteral("Install Vexmor Workout"));
}

void TestDorvForms::mainWindowDevicePictures_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("deviceStyle");
    QTest::addColumn<QString>("titleStyle"); // empty: the model name shows as text instead
    QTest::newRow("model with pictures") << "Zelto70"
                                         << "background-image: url(:/device/Zelto70_device.png)"
                                         << "background-image: url(:/device/Zelto70_title.png)";
    QTest::newRow("watch with pictures") << "Zelto90"
                                         << "background-image: url(:/device/Zelto90_device.png)"
                                         << "background-image: url(:/device/Zelto90_title.png)";
    QTest::newRow("model without pictures") << "Zelto"
                                            << "background-image: url(:/device/Vexmor_device.png)" << QString();
}

void TestDorvForms::mainWindowDevicePictures()
{
    QFETCH(QString, model);
    QFETCH(QString, deviceStyle);
    QFETCH(QString, titleStyle);
    DorvForm form;
    form.updateForm(QString(), QString(), {}, false);
    form.updateForm(model, QStringLiteral("7001-0001"), {QStringLiteral("1.2.3")}, false);

    QVERIFY(!shown(child<QLabel>(&form, "remind_label")));
    QCOMPARE(child<QLabel>(&form, "device_label")->styleSheet(), deviceStyle);
    auto* titlePicture = child<QLabel>(&form, "device_title_label");
    auto* titleText = child<QLabel>(&form, "device_title_text");
    if (titleStyle.isEmpty()) {
        QVERIFY(!shown(titlePicture));
        QVERIFY(shown(titleText));
        QCOMPARE(titleText->text(), model);
    } else {
        QVERIFY(shown(titlePicture));
        QCOMPARE(titlePicture->styleSheet(), titleStyle);
        QVERIFY(!shown(titleText));
    }
    QCOMPARE(child<QLabel>(&form, "uuid_word_label")->text(), QStringLiteral("UUID:"));
    QCOMPARE(child<QLabel>(&form, "uuid_info_label")->text(), QStringLiteral("7001-0001"));
    QCOMPARE(child<QLabel>(&form, "soft_word_label")->text(), QStringLiteral("Software Version:"));
    for (const char* name : {"uuid_word_label", "uuid_info_label", "soft_word_label", "soft_info_label"})
        QVERIFY2(shown(child<QLabel>(&form, name)), name);
    QVERIFY(child<QPushButton>(&form, "soft_update_button")->isEnabled());
    QVERIFY(child<QPushButton>(&form, "gpsdata_update_button")->isEnabled());
    QVERIFY(!child<QPushButton>(&form, "workout_update_button")->isEnabled());
    QVERIFY(!shown(child<QLabel>(&form, "Msg_label")));
    QVERIFY(!shown(child<QLabel>(&form, "download_indicator")));
}

void TestDorvForms::mainWindowVersionLines_data()
{
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("three parts") << QStringList{"1.2.3"} << "1.2.3\n";
    QTest::newRow("four parts") << QStringList{"1.2.3.4"} << "1.2.3\n.4";
    QTest::newRow("five parts") << QStringList{"1.2.3.4.5"} << "1.2.3\n.4.5";
    QTest::newRow("two short") << QStringList{"1.2.3", "2.0"} << "1.2.3\n2.0\n";
    // No line break follows a long entry, so the next continues its line.
    QTest::newRow("long then short") << QStringList{"1.2.3.4", "2.0"} << "1.2.3\n.42.0\n";
    QTest::newRow("empty parts kept") << QStringList{"1..3.4"} << "1..3\n.4";
    QTest::newRow("no dots") << QStringList{"abc"} << "abc\n";
}

void TestDorvForms::mainWindowVersionLines()
{
    QFETCH(QStringList, versions);
    QFETCH(QString, text);
    DorvForm form;
    form.updateForm(QStringLiteral("Zelto70"), QStringLiteral("7001-0001"), versions, true);
    QCOMPARE(child<QLabel>(&form, "soft_info_label")->text(), text);
}

void TestDorvForms::mainWindowWorkoutFlag()
{
    DorvForm form;
    auto* workout = child<QPushButton>(&form, "workout_update_button");
    const QString model = QStringLiteral("Zelto70");
    form.updateForm(model, QString(), {}, true);
    QVERIFY(!workout->isEnabled());

    form.enableWorkoutUpdate();
    QVERIFY(workout->isEnabled());
    form.updateForm(QString(), QString(), {}, true);
    QVERIFY(!workout->isEnabled());
    // The flag outlives the device: another model gets the button too.
    form.updateForm(QStringLiteral("Zelto90"), QString(), {}, true);
    QVERIFY(workout->isEnabled());

    // An installation disables it while it runs; the flag brings it back with the next device state.
    form.notifyWorkoutUpdate(true);
    QVERIFY(!workout->isEnabled());
    form.updateForm(model, QString(), {}, true);
    QVERIFY(workout->isEnabled());
}

void TestDorvForms::mainWindowUpdateBadge()
{
    DorvForm form;
    form.updateForm(QStringLiteral("Zelto70"), QString(), {}, true);
    auto* badge = child<QLabel>(&form, "download_count_label");
    auto* waiting = child<QLabel>(&form, "download_indicator");

    form.showUpdateIndicator();
    QVERIFY(shown(waiting));
    QVERIFY(!shown(badge));
    form.showUpdateCounts();
    QVERIFY(shown(badge));
    QVERIFY(!shown(waiting));
    QCOMPARE(badge->text(), QStringLiteral("1"));
    // A new device state leaves the badge alone.
    form.updateForm(QStringLiteral("Zelto70"), QString(), {}, true);
    QVERIFY(shown(badge));
    form.showUpdateIndicator();
    QVERIFY(!shown(badge));
    // A new device state hides the waiting animation.
    form.updateForm(QStringLiteral("Zelto70"), QString(), {}, true);
    QVERIFY(!shown(waiting));
    form.showUpdateCounts();
    form.hideUpdateIndicator();
    QVERIFY(!shown(badge));
    QVERIFY(!shown(waiting));
}

void TestDorvForms::mainWindowMessagesAndProgress()
{
    DorvForm form;
    form.updateForm(QStringLiteral("Zelto70"), QString(), {}, true);
    form.enableWorkoutUpdate();
    auto* message = child<QLabel>(&form, "Msg_label");
    auto* bar = child<QProgressBar>(&form, "step_progressBar");
    auto* gps = child<QPushButton>(&form, "gpsdata_update_button");
    auto* workout = child<QPushButton>(&form, "workout_update_button");

    form.notifyGpsDataUpdate(true);
    QVERIFY(!gps->isEnabled());
    QVERIFY(shown(message));
    QCOMPARE(message->text(), QStringLiteral("Updating GPS data... "));
    QVERIFY(!shown(bar));

    form.setProgress(55);
    form.notifyWorkoutUpdate(true);
    QVERIFY(!workout->isEnabled());
    QCOMPARE(message->text(), QStringLiteral("Install Vexmor Workout & Vexmor Test... "));
    QVERIFY(shown(bar));
    QCOMPARE(bar->value(), 0);

    // The GPS data's end hides whichever message shows.
    form.notifyGpsDataUpdate(false);
    QVERIFY(gps->isEnabled());
    QVERIFY(!shown(message));
    QCOMPARE(message->text(), QStringLiteral("Install Vexmor Workout & Vexmor Test... "));
    QVERIFY(shown(bar));

    form.setProgress(42);
    QCOMPARE(bar->value(), 42);
    form.setProgress(-1);
    QVERIFY(!shown(bar));
    QCOMPARE(bar->value(), 42);
    form.setProgress(0);
    QVERIFY(shown(bar));
    QCOMPARE(bar->value(), 0);
    form.setProgress(99);
    QVERIFY(shown(bar));
    QCOMPARE(bar->value(), 99);

    form.notifyWorkoutUpdate(false);
    QVERIFY(workout->isEnabled());
    QVERIFY(!shown(bar));
    QVERIFY(!shown(message));
}

void TestDorvForms::aboutLabelShowsVersionWhileHovered()
{
    DorvForm form;
    auto* about = child<HoverLabel>(&form, "about_label");
    auto* version = child<QLabel>(&form, "version_label");
    QSignalSpy entered(about, &HoverLabel::mouseEnter);
    QSignalSpy left(about, &HoverLabel::mouseLeave);

    hover(about, QEvent::Enter);
    QCOMPARE(entered.count(), 1);
    QCOMPARE(left.count(), 0);
    QVERIFY(shown(version));
    QCOMPARE(version->text(), QStringLiteral("v") + DorvApp::getVersion());

    hover(about, QEvent::Leave);
    QCOMPARE(entered.count(), 1);
    QCOMPARE(left.count(), 1);
    QVERIFY(!shown(version));

    // Other events are not taken for the pointer.
    hover(about, QEvent::MouseMove);
    QCOMPARE(entered.count() + left.count(), 2);
}

void TestDorvForms::dialogOffer()
{
    SoftUpdateForm dialog;
    auto* list = child<QListWidget>(&dialog, "soft_update_list");
    dialog.updateForm(QStringLiteral("9.9"), QStringLiteral("1.1"), QStringLiteral("ignored"));
    dialog.updateForm(QStringLiteral("2.1.0.5"), QStringLiteral("2.0.9.1"), QStringLiteral("ignored"));

    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("Device software"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("Current: 2.0.9.1"));
    QCOMPARE(list->item(2)->text(), QStringLiteral("Update: 2.1.0.5"));
    QVERIFY(!shown(child<QProgressBar>(&dialog, "step_progressBar")));
    QVERIFY(shown(child<QLabel>(&dialog, "Msg_label")));
    QVERIFY(child<QPushButton>(&dialog, "soft_update_button")->isEnabled());
    QVERIFY(child<QPushButton>(&dialog, "cancel_button")->isEnabled());

    dialog.updateForm(QString(), QString(), QString());
    QCOMPARE(list->item(1)->text(), QStringLiteral("Current: "));
    QCOMPARE(list->item(2)->text(), QStringLiteral("Update: "));
}

void TestDorvForms::dialogUpdating()
{
    SoftUpdateForm dialog;
    auto* update = child<QPushButton>(&dialog, "soft_update_button");
    auto* cancel = child<QPushButton>(&dialog, "cancel_button");
    auto* bar = child<QProgressBar>(&dialog, "step_progressBar");
    auto* remind = child<QLabel>(&dialog, "remind_label");
    dialog.setProgress(70);
    dialog.updateForm(QStringLiteral("2.1.0.5"), QStringLiteral("2.0.9.1"), QString());
    QCOMPARE(bar->value(), 0);

    QSignalSpy updateClicks(update, &QPushButton::clicked);
    QSignalSpy cancelClicks(cancel, &QPushButton::clicked);
    update->click();
    QCOMPARE(remind->text(), QStringLiteral("Device_Updating_Warn_Msg"));
    QVERIFY(shown(bar));
    QCOMPARE(bar->value(), 0);
    QVERIFY(!shown(child<QLabel>(&dialog, "Msg_label")));
    QVERIFY(!update->isEnabled());
    QVERIFY(!cancel->isEnabled());
    update->click();
    cancel->click();
    QCOMPARE(updateClicks.count(), 1);
    QCOMPARE(cancelClicks.count(), 0);

    // The bar moves but keeps its visibility.
    dialog.setProgress(36);
    QCOMPARE(bar->value(), 36);
    QVERIFY(shown(bar));

    // The next offer brings back the backup warning.
    dialog.updateForm(QStringLiteral("2.1.0.5"), QStringLiteral("2.0.9.1"), QString());
    QCOMPARE(remind->text(), QStringLiteral("Backup_Data_Warn_Msg"));
    QCOMPARE(bar->value(), 0);
    QVERIFY(!shown(bar));
    QVERIFY(update->isEnabled());
    QVERIFY(cancel->isEnabled());
}

void TestDorvForms::dialogReleaseNote()
{
    SoftUpdateForm dialog;
    auto* info = child<HoverLabel>(&dialog, "info_label");
    QSignalSpy entered(info, &HoverLabel::mouseEnter);

    hover(info, QEvent::Leave);
    QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("note_text_label")));

    hover(info, QEvent::Enter);
    QCOMPARE(entered.count(), 1);
    auto* note = dialog.findChild<QLabel*>(QStringLiteral("note_text_label"));
    QVERIFY(note);
    QCOMPARE(note->geometry(), QRect(20, 100, 300, 200));
    QCOMPARE(note->indent(), 5);
    QCOMPARE(note->styleSheet(), QStringLiteral("background-color: rgb(255, 249, 207);"));
    QCOMPARE(note->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    QVERIFY(!note->wordWrap());
    QVERIFY(shown(note));
    // Drawn above what it covers.
    QCOMPARE(dialog.children().last(), note);
    // No controller: nothing to show.
    QCOMPARE(note->text(), QString());

    hover(info, QEvent::Leave);
    QVERIFY(!shown(note));
    hover(info, QEvent::Enter);
    QVERIFY(shown(note));
    QCOMPARE(dialog.findChildren<QLabel*>(QStringLiteral("note_text_label")).size(), 1);
}

void TestDorvForms::completionAnimation_data()
{
    QTest::addColumn<int>("deviceType"); // -1: no device
    QTest::addColumn<QString>("animation");
    QTest::newRow("no device") << -1 << ":/release_cable.gif";
    QTest::newRow("watch") << 0 << ":/release_cable.gif";
    QTest::newRow("type 1") << 1 << ":/zelto_release_cable.gif";
    QTest::newRow("type 2") << 2 << ":/release_cable.gif";
}

// Built with no device, as at start-up: the device connected when the screen is shown decides.
void TestDorvForms::completionAnimation()
{
    QFETCH(int, deviceType);
    QFETCH(QString, animation);
    JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
    QVERIFY(!JXDaemon::getInstance()->getClient());
    std::unique_ptr<recover_complete_form> screen = std::make_unique<recover_complete_form>();
    QMovie* movie = child<QLabel>(screen.get(), "pic_label")->movie();
    QVERIFY(movie);
    QCOMPARE(movie->fileName(), QStringLiteral(":/release_cable.gif"));

    const auto unplug = qScopeGuard([manager] { manager->onDeviceUnplugin(); });
    if (deviceType >= 0) {
        TypedDevice::nextType = deviceType;
        manager->onDevicePlugin(new TypedService);
        QVERIFY(JXDaemon::getInstance()->getClient());
    }
    screen->show();
    QCOMPARE(child<QLabel>(screen.get(), "pic_label")->movie(), movie);
    QCOMPARE(movie->fileName(), animation);
    QVERIFY(movie->isValid());
    QCOMPARE(movie->state(), QMovie::Running);
}

void TestDorvForms::completionAnimationFollowsDevice()
{
    const QString watch = QStringLiteral(":/release_cable.gif");
    const QString other = QStringLiteral(":/zelto_release_cable.gif");
    JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
    QVERIFY(!JXDaemon::getInstance()->getClient());
    recover_complete_form screen;
    QMovie* movie = child<QLabel>(&screen, "pic_label")->movie();
    QVERIFY(movie);
    const auto unplug = qScopeGuard([manager] { manager->onDeviceUnplugin(); });

    TypedDevice::nextType = 1;
    manager->onDevicePlugin(new TypedService);
    screen.show();
    QCOMPARE(movie->fileName(), other);
    QCOMPARE(movie->state(), QMovie::Running);

    // Shown again for the same device: the animation goes on from where it is.
    QVERIFY(movie->jumpToNextFrame());
    QVERIFY(movie->jumpToNextFrame());
    QCOMPARE(movie->currentFrameNumber(), 2);
    screen.hide();
    screen.show();
    QCOMPARE(movie->fileName(), other);
    QCOMPARE(movie->currentFrameNumber(), 2);
    QCOMPARE(movie->state(), QMovie::Running);

    // The device leaves and a watch arrives: the next showing switches, on the same movie from its first frame.
    screen.hide();
    manager->onDeviceUnplugin();
    TypedDevice::nextType = 0;
    manager->onDevicePlugin(new TypedService);
    QVERIFY(JXDaemon::getInstance()->getClient());
    screen.show();
    QCOMPARE(child<QLabel>(&screen, "pic_label")->movie(), movie);
    QCOMPARE(screen.findChildren<QMovie*>().size(), 1);
    QCOMPARE(movie->fileName(), watch);
    QVERIFY(movie->isValid());
    QCOMPARE(movie->state(), QMovie::Running);
    QCOMPARE(movie->currentFrameNumber(), 0);
}

void TestDorvForms::completionAnimationDrawsModelPicture_data()
{
    QTest::addColumn<QString>("animation");
    QTest::addColumn<QString>("picture");
    // The device-type rule: "Watch" (or none) gets the first animation, any other type the second.
    QTest::newRow("watch") << ":/release_cable.gif"
                           << ":/device/Zelto90_device.png";
    QTest::newRow("bike computer") << ":/zelto_release_cable.gif"
                                   << ":/device/Zelto70_device.png";
}

// The device in the animation is the model's main-window picture at the animation's height, wherever it stands
// in the left half: the mean colour difference of the best placement stays small.
void TestDorvForms::completionAnimationDrawsModelPicture()
{
    QFETCH(QString, animation);
    QFETCH(QString, picture);
    const auto onWhite = [](const QImage& image) {
        QImage result(image.size(), QImage::Format_RGB32);
        result.fill(Qt::white);
        QPainter painter(&result);
        painter.drawImage(0, 0, image);
        return result;
    };
    QImageReader reader(animation);
    const QImage frame = onWhite(reader.read());
    QVERIFY(!frame.isNull());
    const QImage device = onWhite(QImage(picture).scaledToHeight(frame.height(), Qt::SmoothTransformation));
    QVERIFY(device.width() < frame.width() / 2);

    double best = 255;
    for (int left = 0; left + device.width() / 2 <= frame.width() / 2; ++left) {
        qint64 sum = 0;
        for (int y = 0; y < device.height(); ++y) {
            const auto* want = reinterpret_cast<const QRgb*>(device.constScanLine(y));
            const auto* have = reinterpret_cast<const QRgb*>(frame.constScanLine(y)) + left;
            for (int x = 0; x < device.width(); ++x) {
                sum += qAbs(qRed(want[x]) - qRed(have[x])) + qAbs(qGreen(want[x]) - qGreen(have[x])) +
                       qAbs(qBlue(want[x]) - qBlue(have[x]));
            }
        }
        best = qMin(best, double(sum) / (3.0 * device.width() * device.height()));
    }
    QVERIFY2(best < 10, qPrintable(QString::number(best)));
}

void TestDorvForms::failMessage_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QString generic =
        QStringLiteral("<font size=\"16\" weight=\"50\" color=\"#00aa00\">Fail. Please try again later.</font>");
    QTest::newRow("3: no room") << 3 << "<font size=\"5\">Not_Enough_Space_Msg</font>";
    QTest::newRow("0") << 0 << generic;
    QTest::newRow("4: copy not verified") << 4 << generic;
    QTest::newRow("negative") << -1 << generic;
    QTest::newRow("large") << 99 << generic;
}

void TestDorvForms::failMessage()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    recover_fail_form screen;
    auto* message = child<QLabel>(&screen, "msg_label");
    screen.set_fail_msg(code == 3 ? 0 : 3); // each call replaces the last
    screen.set_fail_msg(code);
    QCOMPARE(message->text(), text);
    QVERIFY(message->wordWrap());
    QCOMPARE(message->alignment(), Qt::AlignCenter);
}

void TestDorvForms::picturesHaveLayoutSizes_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("animated");
    const auto row = [](const char* resource, QSize size, bool animated = false) {
        QTest::newRow(resource) << resource << size << animated;
    };
    row(":/background.png", QSize(360, 525));
    row(":/background_beta.png", QSize(360, 525));
    for (const char* state : {"highlight", "disable", "mouseover", "click"}) {
        QTest::addRow("%s_1", state) << QStringLiteral(":/%1_1.png").arg(state) << QSize(240, 58) << false;
        QTest::addRow("%s_3", state) << QStringLiteral(":/%1_3.png").arg(state) << QSize(140, 50) << false;
    }
    row(":/guide_1.png", QSize(24, 24));
    row(":/guide_2.png", QSize(24, 24));
    row(":/info_1.png", QSize(24, 24));
    row(":/info_2.png", QSize(24, 24));
    row(":/update_noti.png", QSize(48, 48));
    row(":/warning.png", QSize(48, 48));
    row(":/cry.png", QSize(150, 136));
    row(":/device/device_notfound.png", QSize(136, 202));
    row(":/device/Vexmor_device.png", QSize(136, 202));
    for (const char* model : {"Zelto70", "Zelto90"}) {
        QTest::addRow("%s device", model)
            << QStringLiteral(":/device/%1_device.png").arg(model) << QSize(136, 202) << false;
        QTest::addRow("%s title", model) << QStringLiteral(":/device/%1_title.png").arg(model) << QSize(164, 67)
                                         << false;
    }
    row(":/wait_update.gif", QSize(48, 48), true);
    row(":/release_cable.gif", QSize(250, 157), true);
    row(":/zelto_release_cable.gif", QSize(250, 157), true);
}

void TestDorvForms::picturesHaveLayoutSizes()
{
    QFETCH(QString, resource);
    QFETCH(QSize, size);
    QFETCH(bool, animated);
    if (!animated) {
        const QImage image(resource);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), size);
        return;
    }
    QMovie movie(resource);
    QVERIFY(movie.isValid());
    QVERIFY(movie.frameCount() > 1);
    QVERIFY(movie.jumpToFrame(0));
    QCOMPARE(movie.currentImage().size(), size);
    // The animation has see-through pixels, in its corner, and drawn ones.
    const QImage frame = movie.currentImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(frame.pixel(0, 0)), 0);
    int drawn = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x)
            drawn += qAlpha(frame.pixel(x, y)) == 255;
    }
    QVERIFY2(drawn > frame.width() * frame.height() / 10, qPrintable(QString::number(drawn)));
}

void TestDorvForms::englishTranslationIsTheFallback()
{
    const QString fallback = DorvApp::translationFile(QStringLiteral("de_DE"));
    QCOMPARE(QFileInfo(fallback).fileName(), QStringLiteral("qorl_en_us.qm"));
    QCOMPARE(DorvApp::translationFile(QStringLiteral("en_US")), fallback);
    QTranslator english;
    QVERIFY2(english.load(fallback), qPrintable(fallback));
    QVERIFY(QCoreApplication::installTranslator(&english));

    struct Removal
    {
        QTranslator* translator;
        ~Removal() { QCoreApplication::removeTranslator(translator); }
    } removal{&english};

    // Every message key reads as plain English.
    const QRegularExpression key(QStringLiteral("^[A-Za-z]+(_[A-Za-z]+)+$"));
    SoftUpdateForm dialog;
    dialog.updateForm(QStringLiteral("2.0"), QStringLiteral("1.0"), QString());
    const QString backup = child<QLabel>(&dialog, "remind_label")->text();
    const QString force = child<QLabel>(&dialog, "Msg_label")->text();
    child<QPushButton>(&dialog, "soft_update_button")->click();
    const QString updating = child<QLabel>(&dialog, "remind_label")->text();
    recover_complete_form complete;
    const QString remind = child<QLabel>(&complete, "msg_label")->text();
    recover_fail_form fail;
    fail.set_fail_msg(3);
    const QString space = child<QLabel>(&fail, "msg_label")->text();
    for (const QString& text : {backup, force, updating, remind}) {
        QVERIFY2(!key.match(text).hasMatch(), qPrintable(text));
        QVERIFY2(text.contains(QLatin1Char(' ')), qPrintable(text));
    }
    QVERIFY2(!space.contains(QStringLiteral("Not_Enough_Space_Msg")), qPrintable(space));
    QVERIFY(space.startsWith(QStringLiteral("<font size=\"5\">")));

    // The file also covers the controller's texts, and the screens' plain texts stay as they read.
    QCOMPARE(QCoreApplication::translate("dorvcontroller", "Check the netwrok and try again."),
             QStringLiteral("Check the network connection and try again."));
    QVERIFY(!english.translate("dorvcontroller", "Busy. Please try again later.").isEmpty());
    QVERIFY(!english.translate("recover_complete_form", "Fail. Please try again later.").isEmpty());
    DorvForm mainWindow;
    mainWindow.updateForm(QString(), QString(), {}, false);
    QCOMPARE(child<QPushButton>(&mainWindow, "soft_update_button")->text(), QStringLiteral("Update Software"));
    QCOMPARE(mainWindow.windowTitle(), QStringLiteral("Vexmor Update"));
}

void TestDorvForms::screensReachController()
{
    DorvApp::instance()->createController();
    QVERIFY(DorvApp::instance()->getController());
    QWidget* mainWindow = topLevel(QStringLiteral("Dorv_Form"));
    QWidget* dialog = topLevel(QStringLiteral("SoftUpdateForm"));
    QWidget* fail = topLevel(QStringLiteral("recover_fail_form"));
    QVERIFY(mainWindow && dialog && fail);

    // Cancel and OK return to the mainWindow window.
    mainWindow->hide();
    dialog->show();
    child<QPushButton>(dialog, "cancel_button")->click();
    QVERIFY(mainWindow->isVisible());
    QVERIFY(!dialog->isVisible());
    mainWindow->hide();
    fail->show();
    child<QPushButton>(fail, "OK_button")->click();
    QVERIFY(mainWindow->isVisible());
    QVERIFY(!fail->isVisible());

    // The note comes from the controller on every hover; with no device it is the unread mark.
    hover(child<HoverLabel>(dialog, "info_label"), QEvent::Enter);
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("note_text_label"))->text(), QStringLiteral("empty"));

    // With no device each button of the mainWindow window meets the controller's busy box, and nothing more.
    QStringList boxes;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&boxes] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            boxes.append(box->text());
            box->defaultButton()->click();
        }
    });
    answerer.start(5);
    for (const char* slot : {"onSoftUpdateClicked", "onGpsDataClicked", "onWorkoutUpdateClicked"})
        QVERIFY(QMetaObject::invokeMethod(mainWindow, slot));
    const QString busy = QStringLiteral("Busy. Please try again later.");
    QCOMPARE(boxes, (QStringList{busy, busy, busy}));
    QVERIFY(!shown(child<QLabel>(mainWindow, "Msg_label")));
}

// Qt 5.15's offscreen platform never frees what it makes for its screen. The full allocation stacks let the
// suppression name that one place, so that no leak of ours can hide behind it.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

// The screens reach the controller through the running application, so the test runs inside a DorvApp.
int main(int argc, char* argv[])
{
    DorvApp app(argc, argv);
    TestDorvForms test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dorvforms.moc"
