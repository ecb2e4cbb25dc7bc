// Firmware image and firmware (IAP) update of the heart-rate models.

#include "device/zelto30/jxhemlar30.h"

#include <QDir>
#include <QFile>

#include "compress/jxziputil.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"

namespace {

// The image fills the internal image area; the rest of a shorter file is erased flash.
const char kImagePadding = char(0xFF);

} // namespace

JXZelto30::IapUpdatePlan JXHemlar30::iapUpdatePlan() const
{
    return {"hemlar30iap", "LT", "L", "write mirdo iap temp failed ", "write mirdo iap failed "};
}

bool JXHemlar30::_updateTotal(QString package, QString)
{
    JXFunctionTrace trace(QStringLiteral("_updateTotal"));
    // Early firmware takes a new image only on an empty flash.
    const bool formatFirst = firmwareStage() == FirmwareStage::Early;

    // The package is unpacked and its image read before the device is formatted: a bad package leaves it as it was.
    const QString folder = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/hemlar30image");
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    JXUtility::deleteDir(folder);
    dir.mkpath(QStringLiteral("."));
    JXZipUtil zip;
    if (!zip.decompress(package, folder)) {
        qWarning() << "unzip mirdo image failed " << package << " to " << folder;
        return false;
    }

    QString imagePath;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        if (name.right(4) == QLatin1String(".bin")) {
            imagePath = dir.filePath(name);
            break;
        }
    }
    if (imagePath.isEmpty()) {
        qWarning() << "mirdo image not found in unzipd folder " << folder;
        return false;
    }
    // What lies past the area is cut anyway, so it is never read.
    const int imageSize = int(InternalImageSize);
    QFile file(imagePath);
    QByteArray image;
    if (file.open(QIODevice::ReadOnly))
        image = file.read(imageSize);
    if (image.isEmpty() || file.error() != QFileDevice::NoError) {
        qWarning() << "mirdo image can not be read or is empty " << imagePath;
        return false;
    }
    // A longer file was cut to the area; a shorter one is padded.
    image.append(QByteArray(imageSize - image.size(), kImagePadding));

    if (formatFirst)
        formatDevice();

    if (!writeData(&image, AreaWriteInternal, InternalBlockSize, image.size())) {
        qWarning() << "write mirdo image failed ";
        return false;
    }
    QByteArray readBack;
    if (!readData(readBack, AreaReadInternal, imageSize, InternalBlockSize, 0) || readBack.size() < imageSize ||
        readBack.left(imageSize) != image) {
        qWarning() << "mirdo image read back differs from what was written " << imagePath;
        return false;
    }
    return true;
}
