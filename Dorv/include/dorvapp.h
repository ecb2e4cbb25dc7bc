#ifndef DORVAPP_H
#define DORVAPP_H

#include <QApplication>
#include <QScopedPointer>
#include <QString>
#include <QTranslator>

class DorvController;

// The updater's application object: sets up the environment, the translation, the device side and the
// controller, and owns the controller and the translator. It never looks for another running copy: a second
// start simply opens a second window.
//
// The single-instance class that would be its base is only packaged for Qt 5 built over QCoreApplication, which
// cannot carry widgets, so the base is QApplication.
class DorvApp : public QApplication
{
    Q_OBJECT

public:
    DorvApp(int& argc, char** argv);
    ~DorvApp() override;

    // 0 on success; main ends the process with any other value.
    int init();

    static QString getVersion();
    DorvController* getController() const { return m_controller.data(); }

    // The running application as DorvApp, or null when the running one is of another class.
    static DorvApp* instance();

    // Makes a new controller and deletes the one held before.
    void createController();

    // "qorl_<locale>.qm" in the resource folder, or the "qorl_en_us.qm" there when that does not exist.
    static QString translationFile(const QString& localeName);

private:
    QScopedPointer<DorvController> m_controller;
    QTranslator m_translator;
};

#endif
