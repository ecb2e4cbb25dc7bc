// libFuzzer target for the assistance data's "date.txt", read where the updater reads it: on the device by the
// file-update driver (getAlpExpiredDate) and in the computer's cache by the assistance-data client (readExpiry). The
// controller compares the two, so both must read the same file the same way: the 4 bytes as a big-endian number, any
// other file as 0. The same bytes also serve as a cached text ("version.txt", "note.txt"), which reads as UTF-8 up to
// the first zero byte.

#include "device/fitdevice/jxfitdevice.h"
#include "device/jxfsdeviceservice.h"
#include "reriduruclient.h"
#include "vexmorapiclient.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

QString s_volume;
QString s_cacheDate;
QString s_cacheText;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    const QString root = JXFuzz::scratchRoot("alpdate");
    s_volume = root + QLatin1String("/volume");
    s_cacheDate = root + QLatin1String("/cache/date.txt");
    s_cacheText = root + QLatin1String("/cache/version.txt");
    require(JXFuzz::writeFile(s_volume + QLatin1String("/System/device.txt"), "[UUID]\nUUID=ZE01000000000001\n") &&
                JXFuzz::writeFile(s_volume + QLatin1Char('/') + JXFitDevice::ALP_DIR + QLatin1Char('/') +
                                      JXFitDevice::ALP_FILE,
                                  "alp"),
            "cannot make the volume");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    require(JXFuzz::writeFile(s_volume + QLatin1Char('/') + JXFitDevice::ALP_DIR + QLatin1String("/date.txt"), bytes) &&
                JXFuzz::writeFile(s_cacheDate, bytes) && JXFuzz::writeFile(s_cacheText, bytes),
            "cannot write the files");
    const quint32 expected = size == 4 ? qFromBigEndian<quint32>(data) : 0;

    stRegDevInfo row;
    row.modelName = QStringLiteral("Zelto99");
    JXFitDevice device;
    device.setDeviceService(new JXFSDeviceService(s_volume, &row, s_volume + QLatin1String("/System/device.txt")));
    require(device.getAlpExpiredDate() == expected, "the driver misreads the device's date.txt");
    require(ReriduruClient::readExpiry(s_cacheDate) == expected, "the client misreads the cached date.txt");

    QString text;
    require(VexmorApiClient::readCachedText(s_cacheText, text), "a cached text does not read");
    const int end = bytes.indexOf('\0');
    require(text == QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end), "a cached text misreads");
    return 0;
}
