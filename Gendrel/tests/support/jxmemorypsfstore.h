#ifndef JXMEMORYPSFSTORE_H
#define JXMEMORYPSFSTORE_H

#include <QByteArray>
#include <QString>

#include <array>
#include <vector>

#include "psf/jxpsfstore.h"

// A second-generation store over a 2 MB image in memory, erased (0xFF) until a test fills it. It can be made to
// fail, and counts the calls of each operation so that a test sees what was asked of it.
class JXMemoryPSFStore : public JXPSFStore
{
public:
    enum Operation {
        GetFlashInfo,
        OpenPSF,
        LoadPSFDistHeaderFrame,
        LoadPSFRouteFrame,
        LoadPSFTrackFrame,
        LoadPSFWorkoutFrame,
        LoadPSFPOIFrame,
        LoadPSFSensorLogFrame,
        LoadPSFWorkoutLogFrame,
        LoadPSFUserInfoLogFrame,
        LoadFlashInfoFrame,
        LoadProfileFrame,
        Load,
        Save,
        SaveToFile,
        LoadFromFile,
        OperationCount
    };

    static constexpr int ImageSize = 0x200000;

    JXMemoryPSFStore();

    // The image keeps its address for the store's life: replacing its bytes copies into it.
    char* bytes() { return m_image.data(); }
    QByteArray image() const { return QByteArray(m_image.data(), ImageSize); }
    // A shorter image leaves the rest as it was.
    void setImage(const QByteArray& image);

    // While failing, every operation but getFlashInfo returns false and hands out nothing.
    void setFailing(bool failing) { m_failing = failing; }
    int calls(Operation operation) const { return m_calls[size_t(operation)]; }
    void resetCalls() { m_calls.fill(0); }

    // Not owned; what getFlashInfo returns.
    void setFlashInfo(JXExtFlashInfo_2M* info) { m_flashInfo = info; }

    JXExtFlashInfo_2M* getFlashInfo() override;
    bool openPSF(char** base) override;
    bool loadPSFDistHeaderFrame() override;
    bool loadPSFRouteFrame() override;
    bool loadPSFTrackFrame() override;
    bool loadPSFWorkoutFrame() override;
    bool loadPSFPOIFrame() override;
    bool loadPSFSensorLogFrame() override;
    bool loadPSFWorkoutLogFrame() override;
    bool loadPSFUserInfoLogFrame() override;
    bool loadFlashInfoFrame(char** area) override;
    bool loadProfileFrame(char** profile) override;
    bool load() override;
    bool save() override;
    bool saveToFile(QString path) override;
    bool loadFromFile(QString path) override;

private:
    bool count(Operation operation);

    std::vector<char> m_image;
    bool m_failing = false;
    std::array<int, OperationCount> m_calls{};
    JXExtFlashInfo_2M* m_flashInfo = nullptr;
};

#endif
