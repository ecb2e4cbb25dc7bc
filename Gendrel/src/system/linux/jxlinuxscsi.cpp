#include "jxlinuxscsi.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jxlog.h"

namespace {

const unsigned kCommandTimeoutMs = 30000;

} // namespace

JXLinuxScsiChannel::JXLinuxScsiChannel(const QString& nodePath, dev_t expectedDevice, bool blockDevice)
    : m_nodePath(nodePath), m_expectedDevice(expectedDevice), m_blockDevice(blockDevice)
{
}

JXLinuxScsiChannel::~JXLinuxScsiChannel()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool JXLinuxScsiChannel::open()
{
    if (m_descriptor >= 0)
        return true;
    const QByteArray path = QFile::encodeName(m_nodePath);
    int descriptor = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0 && m_blockDevice && (errno == EROFS || errno == EACCES))
        descriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        JX_CRITICAL << "unable to open" << m_nodePath << ":" << std::strerror(errno);
        return false;
    }
    struct stat info;
    const bool rightKind = ::fstat(descriptor, &info) == 0 &&
                           (m_blockDevice ? S_ISBLK(info.st_mode) : S_ISCHR(info.st_mode)) &&
                           (m_expectedDevice == 0 || info.st_rdev == m_expectedDevice);
    int version = 0;
    if (!rightKind || ::ioctl(descriptor, SG_GET_VERSION_NUM, &version) < 0 || version < 30000) {
        JX_CRITICAL << m_nodePath << "is not the expected SCSI device";
        ::close(descriptor);
        return false;
    }
    m_descriptor = descriptor;
    return true;
}

bool JXLinuxScsiChannel::close()
{
    if (m_descriptor < 0)
        return true;
    const int result = ::close(m_descriptor);
    m_descriptor = -1;
    if (result != 0) {
        JX_WARNING << "closing" << m_nodePath << ":" << std::strerror(errno);
        return false;
    }
    return true;
}

bool JXLinuxScsiChannel::execute(const JXScsiCommandRecord& record, JXScsiDirection direction, quint8* block)
{
    if (m_descriptor < 0) {
        JX_CRITICAL << "the channel to" << m_nodePath << "is not open";
        return false;
    }
    if (record.commandLength == 0 || record.commandLength > JXScsiCommandRecord::MaxCommandLength ||
        record.dataLength > JXScsiCommandRecord::BlockSize || (direction != JXScsiDirection::None && !block)) {
        JX_CRITICAL << "malformed command record for" << m_nodePath;
        return false;
    }
    quint8 command[JXScsiCommandRecord::MaxCommandLength];
    std::memcpy(command, record.command, sizeof command);
    quint8 sense[32] = {};

    sg_io_hdr_t request;
    std::memset(&request, 0, sizeof request);
    request.interface_id = 'S';
    request.cmd_len = static_cast<unsigned char>(record.commandLength);
    request.cmdp = command;
    request.mx_sb_len = sizeof sense;
    request.sbp = sense;
    request.timeout = kCommandTimeoutMs;
    if (direction == JXScsiDirection::None || record.dataLength == 0) {
        request.dxfer_direction = SG_DXFER_NONE;
    } else {
        request.dxfer_direction = direction == JXScsiDirection::ToDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
        request.dxfer_len = record.dataLength;
        request.dxferp = block;
    }
    if (::ioctl(m_descriptor, SG_IO, &request) < 0) {
        JX_CRITICAL << "SG_IO on" << m_nodePath << "failed:" << std::strerror(errno);
        return false;
    }
    if ((request.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
        JX_CRITICAL << "SCSI command" << Qt::hex << record.command[0] << "on" << m_nodePath << "failed: status"
                    << request.status << "host" << request.host_status << "driver" << request.driver_status
                    << "sense key" << (request.sb_len_wr > 2 ? (sense[2] & 0x0f) : 0);
        return false;
    }
    return true;
}

bool JXLinuxScsiChannel::ejectMedium(const QString& diskNodePath)
{
    JXLinuxScsiChannel channel(diskNodePath, 0, true);
    if (!channel.open())
        return false;
    static const quint8 allowRemoval[6] = {0x1e, 0, 0, 0, 0, 0};
    static const quint8 startStopEject[6] = {0x1b, 0, 0, 0, 0x02, 0};
    JXScsiCommandRecord record;
    // Many sticks know no medium lock and refuse the first command; the eject
    // itself decides.
    if (record.set(allowRemoval, sizeof allowRemoval, 0))
        channel.execute(record, JXScsiDirection::None, nullptr);
    const bool ok =
        record.set(startStopEject, sizeof startStopEject, 0) && channel.execute(record, JXScsiDirection::None, nullptr);
    channel.close();
    if (!ok)
        JX_CRITICAL << "unable to eject" << diskNodePath;
    return ok;
}
