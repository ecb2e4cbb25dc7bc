#include "util/ghpack.h"

#include <cstdarg>
#include <cstring>

namespace {

const int L_SLOT = 8;

} // namespace

quint16 Convert_USHORT_To_Bytes(quint16 value, quint8* high, quint8* low)
{
    if (high)
        *high = quint8(value >> 8);
    if (low)
        *low = quint8(value);
    return value;
}

quint16 Convert_Bytes_To_USHORT(quint8 high, quint8 low)
{
    return quint16((quint16(high) << 8) | low);
}

quint32 Convert_ULONG_To_Bytes(quint32 value, quint8* byte3, quint8* byte2, quint8* byte1, quint8* byte0)
{
    if (byte3)
        *byte3 = quint8(value >> 24);
    if (byte2)
        *byte2 = quint8(value >> 16);
    if (byte1)
        *byte1 = quint8(value >> 8);
    if (byte0)
        *byte0 = quint8(value);
    return value;
}

quint32 Convert_Bytes_To_ULONG(quint8 byte3, quint8 byte2, quint8 byte1, quint8 byte0)
{
    // Unsigned throughout: a top byte of 0x80 or more would overflow a signed int.
    return (quint32(byte3) << 24) | (quint32(byte2) << 16) | (quint32(byte1) << 8) | quint32(byte0);
}

void Pack(quint8* buffer, const char* format, ...)
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    quint8* cursor = buffer;
    for (const char* letter = format; *letter; ++letter) {
        switch (*letter) {
        case 'B':
            *cursor++ = quint8(va_arg(args, int));
            break;
        case 'H':
            Convert_USHORT_To_Bytes(quint16(va_arg(args, int)), cursor + 1, cursor);
            cursor += 2;
            break;
        case 'L':
            Convert_ULONG_To_Bytes(quint32(va_arg(args, long)), cursor + 3, cursor + 2, cursor + 1, cursor);
            cursor += L_SLOT;
            break;
        case 'f': {
            const float value = float(va_arg(args, double));
            std::memcpy(cursor, &value, sizeof value);
            cursor += sizeof value;
            break;
        }
        default:
            break;
        }
    }
    va_end(args);
}

void UnPack(const quint8* buffer, const char* format, ...)
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    const quint8* cursor = buffer;
    for (const char* letter = format; *letter; ++letter) {
        switch (*letter) {
        case 'B':
            *va_arg(args, quint8*) = *cursor++;
            break;
        case 'H':
            *va_arg(args, quint16*) = Convert_Bytes_To_USHORT(cursor[1], cursor[0]);
            cursor += 2;
            break;
        case 'L':
            *va_arg(args, long*) = qint32(Convert_Bytes_To_ULONG(cursor[3], cursor[2], cursor[1], cursor[0]));
            cursor += L_SLOT;
            break;
        case 'f': {
            float value;
            std::memcpy(&value, cursor, sizeof value);
            *va_arg(args, float*) = value;
            cursor += sizeof value;
            break;
        }
        default:
            break;
        }
    }
    va_end(args);
}

int CalcSize(const char* format)
{
    int size = 0;
    if (!format)
        return size;
    for (const char* letter = format; *letter; ++letter) {
        switch (*letter) {
        case 'B':
            size += 1;
            break;
        case 'H':
            size += 2;
            break;
        case 'L':
            size += L_SLOT;
            break;
        case 'f':
            size += 4;
            break;
        default:
            break;
        }
    }
    return size;
}
