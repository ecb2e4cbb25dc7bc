#include "jxlinuxudisks.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>

#include "jxlog.h"

namespace {

const char* const kService = "org.freedesktop.UDisks2";
const int kCallTimeoutMs = 60000;

// UDisks2 names a block device's object after the kernel name, with every
// character other than a letter, digit or underscore written as _hh.
QString blockObjectPath(const QString& blockName)
{
    QString path = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
    const QByteArray name = blockName.toUtf8();
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        path += plain ? QString(QLatin1Char(c)) : QStringLiteral("_%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    return path;
}

bool call(const QString& path, const QString& interface, const QString& method, const QVariantList& arguments,
          QDBusMessage* reply = nullptr)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(kService), path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage answer = QDBusConnection::systemBus().call(message, QDBus::Block, kCallTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        JX_CRITICAL << interface + QLatin1Char('.') + method << "on" << path << "failed:" << answer.errorName()
                    << answer.errorMessage();
        return false;
    }
    if (reply)
        *reply = answer;
    return true;
}

QVariant property(const QString& path, const QString& interface, const QString& name)
{
    QDBusMessage reply;
    if (!call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {interface, name},
              &reply) ||
        reply.arguments().isEmpty())
        return QVariant();
    return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
}

} // namespace

bool JXLinuxUDisks::isAvailable()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString service = QLatin1String(kService);
    return bus.interface()->isServiceRegistered(service).value() ||
           bus.interface()->activatableServiceNames().value().contains(service);
}

bool JXLinuxUDisks::unmount(const QString& blockName)
{
    QVariantMap options;
    options.insert(QStringLiteral("force"), true);
    return call(blockObjectPath(blockName), QStringLiteral("org.freedesktop.UDisks2.Filesystem"),
                QStringLiteral("Unmount"), {options});
}

bool JXLinuxUDisks::ejectDrive(const QString& blockName)
{
    const QString drivePath =
        property(blockObjectPath(blockName), QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("Drive"))
            .value<QDBusObjectPath>()
            .path();
    if (drivePath.isEmpty() || drivePath == QLatin1String("/")) {
        JX_CRITICAL << "no drive for" << blockName;
        return false;
    }
    const QString driveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");
    const bool ejectable = property(drivePath, driveInterface, QStringLiteral("Ejectable")).toBool();
    const bool canPowerOff = property(drivePath, driveInterface, QStringLiteral("CanPowerOff")).toBool();
    if (!ejectable && !canPowerOff) {
        JX_CRITICAL << "the drive of" << blockName << "can be neither ejected nor powered off";
        return false;
    }
    return call(drivePath, driveInterface, ejectable ? QStringLiteral("Eject") : QStringLiteral("PowerOff"),
                {QVariantMap()});
}
