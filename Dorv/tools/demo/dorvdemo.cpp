// Lets anyone try the whole update flow without a device: a local update server with a newer package and
// assistance data, a simulated system tree holding a Vexmor device volume, and the real updater started against
// both. Nothing outside a scratch folder is touched; the folder goes when the updater has closed.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QScopedPointer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "jxrealmount.h"
#include "jxsimulatedsystem.h"
#include "jxtestpackage.h"
#include "testhttpserver.h"

namespace {

using JXTestPackage::seededBytes;
using JXTestPackage::zipBytes;

const char* const kQueryPath = "/versions/index";
const char* const kPackagePath = "/packages/Zelto70/Total.zip";
const char* const kAssistancePath = "/current_14d.alp"; // the updater always asks for 14 days
const QString kModel = QStringLiteral("Zelto70");

// The device's software version is its OS version followed by its other components' versions; the server names
// the package's version in the same shape, and the updater compares the two as texts.
const QByteArray kDeviceDescription = "[MODEL]\nModel=Zelto70\n"
                                      "[UUID]\nUUID=ZE70A1B2C3D40001\n"
                                      "[Product]\nType=Bike\n"
                                      "[OS]\nVersion=1.0.0.8\n"
                                      "[BootLoader]\nVersion=B1\n"
                                      "[DeviceLang]\nVersion=3\n"
                                      "[Bluetooth]\nVersion=1\n"
                                      "[TimeZone]\nVersion=2\n"
                                      "[NotificationLang]\nVersion=1\n";
const QString kPackageVersion = QStringLiteral("1.1.0.2.2.3.1.2.1");
const QByteArray kReleaseIni = "[BootLoader]\nName=boot.bin\nVersion=B2\n[OS]\nName=os.bin\nVersion=1.1.0.2\n";
const QByteArray kAssistanceData(24 * 1024, '\x5a');
const QString kReleaseNote = QStringLiteral("Zelto70 software 1.1.0.2\n- Faster route search\n- New climb screen");

int s_signalPipe[2] = {-1, -1};

void onTerminationSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    // Nothing to do when the pipe is full: one byte there is enough.
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}

void say(const QString& text)
{
    fprintf(stdout, "dorv-demo: %s\n", qUtf8Printable(text));
    fflush(stdout);
}

void complain(const QString& text)
{
    fprintf(stderr, "dorv-demo: %s\n", qUtf8Printable(text));
    fflush(stderr);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

struct Options
{
    QString updater;
    int plugAfterSeconds = 0;
    bool smallVolume = false;
};

} // namespace

class Demo : public QObject
{
    Q_OBJECT

public:
    explicit Demo(const Options& options) : m_options(options) {}

    bool prepare();
    void start();
    int result() const { return m_result; }

private:
    bool prepareVolume();
    bool preparePackage();
    void plugDevice();
    QProcessEnvironment updaterEnvironment() const;
    void onSignal();
    void onUpdaterFinished(int exitCode, QProcess::ExitStatus status);
    void onUpdaterError(QProcess::ProcessError error);
    void listVolume();

    Options m_options;
    // Destroyed bottom up: the updater before its server, the volume's mount before the folder that holds it.
    QTemporaryDir m_scratch{QDir::tempPath() + QStringLiteral("/dorv-demo-XXXXXX")};
    JXRealMount m_smallVolume;
    QScopedPointer<JXSimulatedSystem> m_system;
    TestHttpServer m_server;
    QProcess m_updater;
    QScopedPointer<QSocketNotifier> m_signalNotifier;
    QString m_home;
    QString m_volume;
    int m_result = 0;
};

bool Demo::prepare()
{
    // From here on Ctrl-C and its like end the demonstration through the event loop, so that it cleans up.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_signalPipe) != 0) {
        complain(QStringLiteral("cannot make the signal pipe"));
        return false;
    }
    m_signalNotifier.reset(new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read));
    connect(m_signalNotifier.data(), &QSocketNotifier::activated, this, &Demo::onSignal);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &action, nullptr);

    if (!m_scratch.isValid()) {
        complain(QStringLiteral("cannot make a scratch folder: ") + m_scratch.errorString());
        return false;
    }
    const QString scratch = m_scratch.path();
    m_home = scratch + QStringLiteral("/home");
    m_volume = scratch + QStringLiteral("/media/ZELTO70");
    if (!QDir().mkpath(m_home) || !QDir().mkpath(m_volume)) {
        complain(QStringLiteral("cannot make folders in ") + scratch);
        return false;
    }
    say(QStringLiteral("scratch folder (the updater's HOME; removed at the end) %1").arg(scratch));
    m_system.reset(new JXSimulatedSystem(scratch + QStringLiteral("/system")));
    if (!prepareVolume() || !preparePackage())
        return false;

    connect(&m_updater, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &Demo::onUpdaterFinished);
    connect(&m_updater, &QProcess::errorOccurred, this, &Demo::onUpdaterError);
    return true;
}

bool Demo::prepareVolume()
{
    if (m_options.smallVolume) {
        if (!JXRealMount::isPossible()) {
            complain(QStringLiteral("--small-volume mounts a 1 MiB tmpfs as the device volume: run it as root"));
            return false;
        }
        if (!m_smallVolume.mountTmpfs(m_volume, QStringLiteral("1m"))) {
            complain(QStringLiteral("cannot mount a tmpfs on ") + m_volume);
            return false;
        }
    }
    // The device already holds the assistance data that the updater downloads today, so that nothing is to be
    // installed at once: the silent workout check then finds the device idle and enables the workout button. (With
    // stale data the assistance install and that check would race, and the loser's button would stay as it was.)
    QByteArray expiry;
    QDataStream(&expiry, QIODevice::WriteOnly)
        << quint32(QDateTime(QDate::currentDate().addDays(14), QTime(0, 0)).toSecsSinceEpoch());
    if (!writeFile(m_volume + QStringLiteral("/System/device.txt"), kDeviceDescription) ||
        !writeFile(m_volume + QStringLiteral("/System/AssitOff.alp"), kAssistanceData) ||
        !writeFile(m_volume + QStringLiteral("/System/date.txt"), expiry)) {
        complain(QStringLiteral("cannot write the device's files on ") + m_volume);
        return false;
    }
    return true;
}

bool Demo::preparePackage()
{
    // On the small volume the system image alone is twice the volume.
    const int osImageSize = m_options.smallVolume ? 2 * 1024 * 1024 : 192 * 1024;
    const QByteArray workout = zipBytes({{QStringLiteral("Ruravodir/Sweet spot 3x12.wkt"), seededBytes(2048, 7)},
                                         {QStringLiteral("Ruravodir/Recovery spin.wkt"), seededBytes(1024, 8)},
                                         {QStringLiteral("Test/Ramp test.wkt"), seededBytes(1536, 9)}});
    const QByteArray package =
        JXTestPackage::packageBytes(kReleaseIni, {{QStringLiteral("boot.bin"), seededBytes(16 * 1024, 1)},
                                                  {QStringLiteral("os.bin"), seededBytes(osImageSize, 2)},
                                                  {QStringLiteral("workout.zip"), workout}});
    if (workout.isEmpty() || package.isEmpty()) {
        complain(QStringLiteral("cannot pack the demonstration package"));
        return false;
    }
    if (!m_server.listen()) {
        complain(QStringLiteral("cannot listen on 127.0.0.1"));
        return false;
    }
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
    const QVariantList reply{QVariantMap{{QStringLiteral("name"), QStringLiteral("Total")},
                                         {QStringLiteral("version"), kPackageVersion},
                                         {QStringLiteral("url"), m_server.url(QString::fromLatin1(kPackagePath))},
                                         {QStringLiteral("note"), kReleaseNote},
                                         {QStringLiteral("md5hash"), md5}}};
    m_server.setReply(kQueryPath, 200, QJsonDocument::fromVariant(reply).toJson(),
                      {{"Content-Type", "application/json"}});
    m_server.setReply(kPackagePath, 200, package, {{"Content-Type", "application/zip"}});
    m_server.setReply(kAssistancePath, 200, kAssistanceData, {{"Content-Type", "application/octet-stream"}});
    say(QStringLiteral("update server %1 offers %2 software %3 (%4 bytes) and assistance data")
            .arg(m_server.baseUrl(), kModel, kPackageVersion)
            .arg(package.size()));
    return true;
}

void Demo::plugDevice()
{
    // The usual stick: USB disk sdb of vendor Vexmor, its partition sdb1 mounted (as vfat) on the volume folder.
    if (!m_system->addDisk(JXSimulatedSystem::Disk()) ||
        !m_system->addPartition(QStringLiteral("sdb"), QStringLiteral("sdb1"), 17) ||
        !m_system->mount(QStringLiteral("sdb1"), m_volume)) {
        complain(QStringLiteral("cannot plug the simulated device"));
        return;
    }
    say(QStringLiteral("plugged a %1 (software 1.0.0.8); its volume is %2").arg(kModel, m_volume));
}

QProcessEnvironment Demo::updaterEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The X server's cookie stays where it was when HOME moves into the scratch folder.
    if (!environment.contains(QStringLiteral("XAUTHORITY"))) {
        const QString cookie = QDir::homePath() + QStringLiteral("/.Xauthority");
        if (QFileInfo::exists(cookie))
            environment.insert(QStringLiteral("XAUTHORITY"), cookie);
    }
    // The user's data folder is made under HOME: the real one stays untouched.
    environment.insert(QStringLiteral("HOME"), m_home);
    environment.insert(QStringLiteral("JX_SYSTEM_ROOT"), m_system->root());
    environment.insert(QStringLiteral("JX_RELEASE_UPDATE_URL"), m_server.url(QString::fromLatin1(kQueryPath)));
    environment.insert(QStringLiteral("JX_BETA_UPDATE_URL"), m_server.url(QString::fromLatin1(kQueryPath)));
    environment.insert(QStringLiteral("JX_ASSIST_HOST"), m_server.baseUrl());
    // Every address the updater uses is on this machine; a proxy would only be in the way.
    for (const char* variable : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        environment.remove(QString::fromLatin1(variable));
    return environment;
}

void Demo::start()
{
    if (m_options.plugAfterSeconds > 0) {
        say(QStringLiteral("the device is plugged in %1 s").arg(m_options.plugAfterSeconds));
        QTimer::singleShot(m_options.plugAfterSeconds * 1000, this, &Demo::plugDevice);
    } else {
        plugDevice();
    }
    m_updater.setProcessEnvironment(updaterEnvironment());
    m_updater.setWorkingDirectory(m_home);
    m_updater.setProcessChannelMode(QProcess::ForwardedChannels);
    say(QStringLiteral("starting %1").arg(m_options.updater));
    say(QStringLiteral("press \"Update Software\", then \"Update\"; close the window to end the demonstration"));
    m_updater.start(m_options.updater, QStringList());
}

void Demo::onSignal()
{
    char byte = 0;
    if (::read(s_signalPipe[0], &byte, 1) != 1)
        return;
    say(QStringLiteral("stopping"));
    m_result = 128 + int(byte);
    if (m_updater.state() == QProcess::NotRunning)
        QCoreApplication::exit(m_result);
    else
        m_updater.terminate(); // its end ends the demonstration
}

void Demo::onUpdaterError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    complain(QStringLiteral("cannot start %1: %2").arg(m_options.updater, m_updater.errorString()));
    m_result = 1;
    QCoreApplication::exit(m_result);
}

void Demo::onUpdaterFinished(int exitCode, QProcess::ExitStatus status)
{
    if (status == QProcess::NormalExit) {
        say(QStringLiteral("the updater ended with exit code %1").arg(exitCode));
        if (m_result == 0)
            m_result = exitCode;
    } else {
        say(QStringLiteral("the updater was stopped"));
        if (m_result == 0)
            m_result = 1;
    }
    listVolume();
    QCoreApplication::exit(m_result);
}

void Demo::listVolume()
{
    say(QStringLiteral("the device volume held:"));
    QDirIterator files(m_volume, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList lines;
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        lines
            << QStringLiteral("  %1 (%2 bytes)").arg(QDir(m_volume).relativeFilePath(file.filePath())).arg(file.size());
    }
    lines.sort();
    for (const QString& line : qAsConst(lines))
        say(line);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dorv-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the updater against a local update server and a simulated Vexmor device."));
    parser.addHelpOption();
    const QCommandLineOption plugAfter(QStringLiteral("plug-after"),
                                       QStringLiteral("Plug the device in <seconds> after the start, not before."),
                                       QStringLiteral("seconds"));
    const QCommandLineOption smallVolume(
        QStringLiteral("small-volume"),
        QStringLiteral("A device volume of 1 MiB (a tmpfs; root only) and a larger package: the update fails."));
    const QCommandLineOption updater(QStringLiteral("updater"), QStringLiteral("The updater to start."),
                                     QStringLiteral("path"), QStringLiteral(DORV_EXECUTABLE));
    parser.addOptions({plugAfter, smallVolume, updater});
    parser.process(app);

    Options options;
    options.updater = parser.value(updater);
    options.smallVolume = parser.isSet(smallVolume);
    if (parser.isSet(plugAfter)) {
        bool isNumber = false;
        options.plugAfterSeconds = parser.value(plugAfter).toInt(&isNumber);
        if (!isNumber || options.plugAfterSeconds < 0 || options.plugAfterSeconds > 3600) {
            complain(QStringLiteral("--plug-after takes a number of seconds from 0 to 3600"));
            return 2;
        }
    }

    Demo demo(options);
    if (!demo.prepare())
        return 1;
    demo.start();
    const int result = app.exec();
    return result != 0 ? result : demo.result();
}

#include "dorvdemo.moc"
