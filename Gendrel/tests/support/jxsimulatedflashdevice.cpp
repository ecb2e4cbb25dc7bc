#include "jxsimulatedflashdevice.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstring>

struct JXSimulatedFlashDevice::State
{
    mutable QMutex mutex;
    QByteArray signature = QByteArray(128, '\0');
    QByteArray uuidBlock = QByteArray(2048, '\0');
    bool failOnOpen = false;
    int failCountdown = 0;
    int openChannels = 0;
    int opens = 0;
    int closes = 0;
    QVector<Command> commands;
    QMap<QPair<int, int>, QByteArray> blocks; // (area, block) -> bytes
    QSet<int> erased;
    int goneCountdown = 0;
    bool gone = false;
    QByteArray externalFlash; // empty: the first generation's areas are not modelled
    QByteArray internalFlash;
    int flipAddress = -1;
    int flipCountdown = 0;
    int internalFlipAddress = -1;
    int internalFlips = 0; // < 0: every read
    bool dropWrites = false;
    int busyPolls = 0;
    QList<int> resets;
    int updateNotices = 0;
};

namespace {

const int kEraseArea = 24;
const int kUuidArea = 3;
const int kInternalFlashSize = 0x80000;

enum FlashArea : int {
    ResetArea = 0,
    ResetIntoIapArea = 1,
    WriteInternalArea = 0x0C,
    ReadInternalArea = 0x0D,
    EraseAllArea = 0x0E,
    WriteExternalArea = 0x0F,
    ReadExternalArea = 0x10,
    FlashStatusArea = 0x15,
    EraseBlockArea = 0x18,
    UpdateNoticeArea = 0x1A
};

// The part of flash that block number of blockSize bytes covers; false when it lies past the end.
bool flashRange(const QByteArray& flash, int number, int blockSize, int& offset)
{
    const qint64 start = qint64(number) * blockSize;
    if (blockSize <= 0 || start + blockSize > flash.size())
        return false;
    offset = int(start);
    return true;
}

// The first generation's areas on the modelled flashes; false for a command this model does not answer.
bool executeOnFlash(JXSimulatedFlashDevice::State& state, const quint8* command, JXScsiDirection direction,
                    quint8* block, int length, bool& handled);

class SimulatedChannel : public JXScsiChannel
{
public:
    explicit SimulatedChannel(std::shared_ptr<JXSimulatedFlashDevice::State> state) : m_state(std::move(state)) {}
    ~SimulatedChannel() override
    {
        if (m_open)
            close();
    }

    bool open() override
    {
        QMutexLocker locker(&m_state->mutex);
        if (m_state->failOnOpen || m_state->gone)
            return false;
        if (!m_open) {
            m_open = true;
            ++m_state->opens;
        }
        return true;
    }

    bool close() override
    {
        QMutexLocker locker(&m_state->mutex);
        if (m_open) {
            m_open = false;
            ++m_state->closes;
        }
        return true;
    }

    bool execute(const JXScsiCommandRecord& record, JXScsiDirection direction, quint8* block) override
    {
        QMutexLocker locker(&m_state->mutex);
        JXSimulatedFlashDevice::Command logged;
        logged.record = record;
        logged.direction = direction;
        if (direction == JXScsiDirection::ToDevice && block)
            logged.block = QByteArray(reinterpret_cast<const char*>(block), JXScsiCommandRecord::BlockSize);
        m_state->commands.append(logged);

        if (!m_open || record.dataLength > JXScsiCommandRecord::BlockSize || record.commandLength == 0 ||
            record.commandLength > JXScsiCommandRecord::MaxCommandLength)
            return false;
        if (m_state->gone)
            return false;
        if (m_state->goneCountdown > 0 && --m_state->goneCountdown == 0) {
            m_state->gone = true;
            return false;
        }
        if (m_state->failCountdown > 0 && --m_state->failCountdown == 0)
            return false;

        const quint8* command = record.command;
        const int length = int(record.dataLength);
        if (command[0] == 0x12 && direction == JXScsiDirection::FromDevice && block) {
            std::memcpy(block, m_state->signature.constData(), size_t(std::min(length, 128)));
            return true;
        }
        if (record.commandLength < 10)
            return false;
        if (!m_state->externalFlash.isEmpty() && block) {
            bool handled = false;
            const bool result = executeOnFlash(*m_state, command, direction, block, length, handled);
            if (handled)
                return result;
        }
        const int number = command[4] * 256 + command[5];
        const int area = command[6];
        if (command[0] == 0x28 && direction == JXScsiDirection::FromDevice && block) {
            QByteArray answer = (area == kUuidArea && number == 0)
                                    ? m_state->uuidBlock
                                    : m_state->blocks.value(qMakePair(area, number), QByteArray(length, char(0xFF)));
            answer = answer.leftJustified(length, char(0xFF), true);
            std::memcpy(block, answer.constData(), size_t(length));
            return true;
        }
        if (command[0] == 0x2A && direction == JXScsiDirection::ToDevice && block) {
            if (area == kEraseArea) {
                m_state->erased.insert(number);
                for (auto it = m_state->blocks.begin(); it != m_state->blocks.end();)
                    it = it.key().second == number ? m_state->blocks.erase(it) : std::next(it);
            } else {
                m_state->blocks.insert(qMakePair(area, number),
                                       QByteArray(reinterpret_cast<const char*>(block), length));
                m_state->erased.remove(number);
            }
            return true;
        }
        return false;
    }

private:
    std::shared_ptr<JXSimulatedFlashDevice::State> m_state;
    bool m_open = false;
};

bool executeOnFlash(JXSimulatedFlashDevice::State& state, const quint8* command, JXScsiDirection direction,
                    quint8* block, int length, bool& handled)
{
    const int number = command[4] * 256 + command[5];
    const int area = command[6];
    const int blockSize = command[8] * 512;
    const bool read = command[0] == 0x28 && direction == JXScsiDirection::FromDevice;
    const bool write = command[0] == 0x2A && direction == JXScsiDirection::ToDevice;
    handled = true;
    int offset = 0;
    if (read && (area == ReadExternalArea || area == ReadInternalArea)) {
        const QByteArray& flash = area == ReadExternalArea ? state.externalFlash : state.internalFlash;
        if (length > blockSize || !flashRange(flash, number, blockSize, offset))
            return false;
        std::memcpy(block, flash.constData() + offset, size_t(length));
        if (area == ReadExternalArea && state.flipCountdown > 0 && state.flipAddress >= offset &&
            state.flipAddress < offset + length && --state.flipCountdown == 0)
            block[state.flipAddress - offset] ^= 0xFF;
        if (area == ReadInternalArea && state.internalFlips != 0 && state.internalFlipAddress >= offset &&
            state.internalFlipAddress < offset + length) {
            block[state.internalFlipAddress - offset] ^= 0xFF;
            if (state.internalFlips > 0)
                --state.internalFlips;
        }
        return true;
    }
    if (read && area == UpdateNoticeArea) {
        std::memset(block, 0, size_t(length));
        ++state.updateNotices;
        return true;
    }
    if (read && area == FlashStatusArea) {
        std::memset(block, 0, size_t(length));
        if (length > 0 && state.busyPolls > 0) {
            --state.busyPolls;
            block[0] = 1;
        }
        return true;
    }
    if (write && (area == WriteExternalArea || area == WriteInternalArea)) {
        QByteArray& flash = area == WriteExternalArea ? state.externalFlash : state.internalFlash;
        if (length > blockSize || !flashRange(flash, number, blockSize, offset))
            return false;
        if (!state.dropWrites)
            std::memcpy(flash.data() + offset, block, size_t(length));
        return true;
    }
    if (write && area == EraseAllArea) {
        // An image still shared with the caller is let go rather than copied only to be overwritten.
        if (state.externalFlash.isDetached())
            state.externalFlash.fill(char(0xFF));
        else
            state.externalFlash = QByteArray(state.externalFlash.size(), char(0xFF));
        return true;
    }
    if (write && area == EraseBlockArea) {
        if (!flashRange(state.externalFlash, number, 4096, offset))
            return false;
        std::memset(state.externalFlash.data() + offset, 0xFF, 4096);
        return true;
    }
    if (write && (area == ResetArea || area == ResetIntoIapArea)) {
        state.resets.append(area);
        return true;
    }
    handled = false;
    return false;
}

} // namespace

JXSimulatedFlashDevice::JXSimulatedFlashDevice() : m_state(std::make_shared<State>()) {}

void JXSimulatedFlashDevice::setBusyPolls(int n)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->busyPolls = n;
}

void JXSimulatedFlashDevice::setSignature(const QByteArray& signature)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->signature = signature.left(128).leftJustified(128, '\0');
}

void JXSimulatedFlashDevice::setUuid(const QByteArray& uuid)
{
    QMutexLocker locker(&m_state->mutex);
    const QByteArray bytes = uuid.left(16).leftJustified(16, '\0');
    m_state->uuidBlock.replace(2032, 16, bytes);
}

void JXSimulatedFlashDevice::setFailOnOpen(bool fail)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->failOnOpen = fail;
}

void JXSimulatedFlashDevice::setFailAtCommand(int n)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->failCountdown = std::max(n, 0);
}

void JXSimulatedFlashDevice::setGoneAtCommand(int n)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->goneCountdown = std::max(n, 0);
    m_state->gone = false;
}

void JXSimulatedFlashDevice::setExternalFlashSize(int bytes)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->externalFlash = QByteArray(std::max(bytes, 0) / 4096 * 4096, char(0xFF));
    m_state->internalFlash = QByteArray(kInternalFlashSize, char(0xFF));
}

void JXSimulatedFlashDevice::setExternalFlash(const QByteArray& image)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->externalFlash = image;
    if (m_state->internalFlash.isEmpty())
        m_state->internalFlash = QByteArray(kInternalFlashSize, char(0xFF));
}

QByteArray JXSimulatedFlashDevice::externalFlash() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->externalFlash;
}

QByteArray JXSimulatedFlashDevice::internalFlash() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->internalFlash;
}

void JXSimulatedFlashDevice::setFlipOnRead(int address, int k)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->flipAddress = address;
    m_state->flipCountdown = std::max(k, 0);
}

void JXSimulatedFlashDevice::setInternalFlash(const QByteArray& image)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->internalFlash = image;
}

namespace {

void patch(QByteArray& flash, int offset, const char* bytes, int count)
{
    const qint64 length = std::min<qint64>(count, qint64(flash.size()) - offset);
    if (offset >= 0 && length > 0)
        std::memcpy(flash.data() + offset, bytes, size_t(length));
}

} // namespace

void JXSimulatedFlashDevice::patchExternalFlash(int offset, const char* bytes, int count)
{
    QMutexLocker locker(&m_state->mutex);
    patch(m_state->externalFlash, offset, bytes, count);
}

void JXSimulatedFlashDevice::patchInternalFlash(int offset, const char* bytes, int count)
{
    QMutexLocker locker(&m_state->mutex);
    patch(m_state->internalFlash, offset, bytes, count);
}

void JXSimulatedFlashDevice::setFlipOnInternalRead(int address, int n)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->internalFlipAddress = address;
    m_state->internalFlips = n;
}

void JXSimulatedFlashDevice::setDropWrites(bool drop)
{
    QMutexLocker locker(&m_state->mutex);
    m_state->dropWrites = drop;
}

QList<int> JXSimulatedFlashDevice::resets() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->resets;
}

JXScsiChannel* JXSimulatedFlashDevice::createChannel()
{
    return new SimulatedChannel(m_state);
}

void JXSimulatedFlashDevice::registerWithLayer()
{
    std::shared_ptr<State> state = m_state;
    JXOperatingSystem::setSimulatedScsiProvider(
        [state](const JXScsiDevice&) -> JXScsiChannel* { return new SimulatedChannel(state); });
}

QVector<JXSimulatedFlashDevice::Command> JXSimulatedFlashDevice::commands() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->commands;
}

void JXSimulatedFlashDevice::clearCommands()
{
    QMutexLocker locker(&m_state->mutex);
    m_state->commands.clear();
}

QByteArray JXSimulatedFlashDevice::storedBlock(int area, int block) const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->blocks.value(qMakePair(area, block));
}

QList<int> JXSimulatedFlashDevice::erasedBlocks() const
{
    QMutexLocker locker(&m_state->mutex);
    QList<int> blocks = m_state->erased.values();
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

int JXSimulatedFlashDevice::openCount() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->opens;
}

int JXSimulatedFlashDevice::closeCount() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->closes;
}

int JXSimulatedFlashDevice::updateNotices() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->updateNotices;
}
