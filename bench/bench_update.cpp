// One side of the software-update benchmark; bench/update.sh times it against a shell baseline (unzip, cp, sync
// of the copies, cmp of the copies read back from the disk) on the same package and volume folders.
//
//   bench_update make-images DIR MB   one large image and three small ones, MB in all, with release.ini; the
//                                     small "tz.bin" is not newer than the device and is not copied
//   bench_update make-volume DIR      a device volume folder: System/device.txt
//   bench_update update PACKAGE VOLUME USERDATA
//                                     the driver's whole software update of VOLUME from PACKAGE, through the
//                                     client's action; VOLUME is made to look mounted to the platform layer

#include "device/fitdevice/jxfitdevice.h"
#include "device/jxfsdeviceservice.h"
#include "jxenv.h"
#include "system/jxoperatingsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include "benchsupport.h"

namespace {


bool makeImages(const QString& folder, int totalMb)
{
    QDir().mkpath(folder);
    const qint64 small = 1 << 20;
    const qint64 large = (qint64(totalMb) << 20) - 3 * small;
    return writeFile(folder + "/os.bin", imageData(large, 1)) && writeFile(folder + "/boot.bin", imageData(small, 2)) &&
           writeFile(folder + "/lang.bin", imageData(small, 3)) && writeFile(folder + "/tz.bin", imageData(small, 4)) &&
           writeFile(folder + "/release.ini", "[MODEL]\nName=Zelto99\n[OS]\nName=os.bin\nVersion=2.0\n"
                                              "[BootLoader]\nName=boot.bin\nVersion=B09\n"
                                              "[DeviceLang]\nName=lang.bin\nVersion=LG0200\n"
                                              "[TimeZone]\nName=tz.bin\nVersion=TZ10\n");
}

bool makeVolume(const QString& folder)
{
    return QDir().mkpath(folder + "/System") &&
           writeFile(folder + "/System/device.txt", "[UUID]\nUUID=ABCD000000000001\n[OS]\nVersion=1.9\n"
                                                    "[BootLoader]\nVersion=B05\n[DeviceLang]\nVersion=LG0100\n"
                                                    "[TimeZone]\nVersion=TZ10\n");
}

int update(const QString& package, const QString& volume, const QString& userData)
{
    // The platform layer measures free space only on mounted volumes: a one-line mount table names the folder.
    QTemporaryDir systemRoot;
    QDir().mkpath(systemRoot.path() + "/proc/self");
    if (!writeFile(systemRoot.path() + "/proc/self/mountinfo",
                   "100 21 0:77 / " + QFile::encodeName(volume) + " rw,relatime shared:100 - ext4 bench rw\n"))
        return 1;
    JXOperatingSystem::setSystemRoot(systemRoot.path());
    JXEnv::getInstance()->setUserDataBaseFolder(userData);

    stRegDevInfo row;
    row.code = "ABCD";
    row.modelName = "Zelto99";
    JXFitDevice device;
    device.setDeviceService(new JXFSDeviceService(volume, &row, volume + "/System/device.txt"));
    QObject::connect(&device, &JXClient::updateTotalDone, qApp, &QCoreApplication::quit);
    if (!device.updateTotal(package, QString()))
        return 1;
    qApp->exec();
    int code = 0;
    if (device.getError(&code)) {
        std::fprintf(stderr, "update failed with code %d\n", code);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString command = args.value(1);

    if (command == "make-images" && args.size() == 4)
        return makeImages(args[2], args[3].toInt()) ? 0 : 1;
    if (command == "make-volume" && args.size() == 3)
        return makeVolume(args[2]) ? 0 : 1;
    if (command == "update" && args.size() == 5)
        return update(args[2], args[3], args[4]);
    std::fprintf(stderr, "usage: bench_update make-images DIR MB | make-volume DIR | update PACKAGE VOLUME USERDATA\n");
    return 1;
}
