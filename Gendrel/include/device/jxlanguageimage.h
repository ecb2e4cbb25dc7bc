#ifndef JXLANGUAGEIMAGE_H
#define JXLANGUAGEIMAGE_H

#include <QByteArray>
#include <QStringList>

class JXClient;

// The language table that every flash-image family writes in front of its language files: a 229-byte header
// (magic, stamp, count, then code, offset and size slots for up to twenty files) followed by the files unchanged.
//
//   offset  size    field
//   0       4       magic 0x77A0B2C3, little-endian
//   4       4       stamp: the first four bytes of one language file (which one is the family's rule)
//   8       1       number of files
//   9       20 x 3  bytes 4-6 of file i (its own language code)
//   69      20 x 4  offset of file i from the start of the header; the first file starts at 229
//   149     20 x 4  size of file i
class JXLanguageHeader
{
public:
    static constexpr quint32 MAGIC = 0x77A0B2C3;
    static constexpr int SIZE = 229;
    static constexpr int MAX_FILES = 20;
    // A language file starts with its own 7-byte header (stamp, code); shorter files carry no language.
    static constexpr int MIN_FILE_SIZE = 7;

    static constexpr int COUNT_OFFSET = 8;
    static constexpr int STAMP_OFFSET = 4;
    static constexpr int CODES_OFFSET = 9;
    static constexpr int OFFSETS_OFFSET = 69;
    static constexpr int SIZES_OFFSET = 149;

    enum StampRule {
        StampOfLastFile,        // every file added overwrites the stamp
        StampOfFirstNonZeroFile // the first file whose first four bytes are not all zero sets it
    };

    explicit JXLanguageHeader(StampRule rule);

    // Enters one language file after the ones already added. False, and nothing changed, when the table is full
    // or the file is shorter than MIN_FILE_SIZE.
    bool add(const QByteArray& file);

    int count() const { return m_count; }
    bool isFull() const { return m_count >= MAX_FILES; }

    // The 229-byte table, then the files in table order.
    QByteArray header() const { return m_header; }
    QByteArray data() const { return m_data; }
    QByteArray table() const { return m_header + m_data; }

    // The offset of the last 4-byte-aligned magic in an area, 0 when the area holds none.
    static int lastHeaderOffset(const QByteArray& area);
    // The codes of the table at offset whose names the language map knows, in slot order; empty and zero slots
    // are left out. Nothing is appended when the table would reach past the area.
    static bool appendKnownCodes(const QByteArray& area, int offset, QStringList& codes);

private:
    StampRule m_rule;
    bool m_stampSet = false;
    int m_count = 0;
    QByteArray m_header;
    QByteArray m_data;
};

// With the model's setting "savelangeageimage" not "0", a language image goes to a file instead of the device.
// The update runs on the client's worker thread, where no save dialog may be shown, so the file's path is the
// model's setting "savelangeageimagefile".
namespace JXLanguageImageFile {

bool isRequested(JXClient& client);
// Writes the image whole or not at all; false, logged, when no path is set or the file cannot be written.
bool save(JXClient& client, const QByteArray& image);
// A file of a language package, read whole when it holds at most limit bytes; its size is looked at first, so that
// a huge file is never read. False when it cannot be read (logged) or is larger (tooLarge set, logging left to the
// caller).
bool readPackageFile(const QString& path, qint64 limit, QByteArray& bytes, bool& tooLarge);

} // namespace JXLanguageImageFile

#endif
