#ifndef JXSPAREBUFFER_H
#define JXSPAREBUFFER_H

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>

#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

// One large buffer handed from a client to the next. Clients are made anew for every device scan and connection, and
// a fresh block of a megabyte or more is mapped and faulted in page by page, which costs far more than filling the
// last client's again. Safe from any thread.
class JXSpareBuffer
{
public:
    // An empty byte array with room for size bytes: the kept buffer when it has just that room, else a new one. A
    // larger one would let a read past the bytes pass unnoticed under AddressSanitizer.
    QByteArray take(int size)
    {
        QByteArray bytes;
        {
            QMutexLocker lock(&m_mutex);
            bytes.swap(m_bytes);
        }
        ASAN_UNPOISON_MEMORY_REGION(bytes.constData(), size_t(bytes.capacity()));
        if (bytes.capacity() != size)
            bytes = QByteArray();
        bytes.reserve(size);
        bytes.resize(0);
        return bytes;
    }

    // Keeps the bytes' buffer for the next take when nothing else shares it and none is kept yet; bytes is then
    // empty.
    void give(QByteArray& bytes)
    {
        if (bytes.capacity() == 0 || !bytes.isDetached())
            return;
        QMutexLocker lock(&m_mutex);
        if (m_bytes.capacity() != 0)
            return;
        // A pointer left into the buffer still faults under AddressSanitizer while the buffer waits.
        ASAN_POISON_MEMORY_REGION(bytes.constData(), size_t(bytes.capacity()));
        m_bytes.swap(bytes);
    }

private:
    QMutex m_mutex;
    QByteArray m_bytes;
};

#endif
