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
};

namespace {

const int kEraseArea = 24;
const int kUuidArea = 3;

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
        if (m_state->failOnOpen)
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

} // namespace

JXSimulatedFlashDevice::JXSimulatedFlashDevice() : m_state(std::make_shared<State>()) {}

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
