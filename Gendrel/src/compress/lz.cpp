#include "compress/lz.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned int kCompressWindow = 100000;
constexpr unsigned int kCompressFastWindow = 99999;
constexpr unsigned int kHashCount = 65536;
constexpr unsigned int kNoPosition = 0xFFFFFFFFu;
constexpr uint64_t kEveryByte = 0x0101010101010101ull;

// The byte value that occurs least often, the smallest value winning ties, so that escaping it costs least.
unsigned char chooseMarker(const unsigned char* in, unsigned int insize)
{
    unsigned int histogram[256] = {};
    for (unsigned int i = 0; i < insize; ++i)
        ++histogram[in[i]];
    unsigned int marker = 0;
    for (unsigned int value = 1; value < 256; ++value) {
        if (histogram[value] < histogram[marker])
            marker = value;
    }
    return static_cast<unsigned char>(marker);
}

// Number of equal bytes of a and b from index start on, at most limit. Compares a word at a time where it can.
unsigned int countEqual(const unsigned char* a, const unsigned char* b, unsigned int start, unsigned int limit)
{
    unsigned int count = start;
    while (count + 8 <= limit) {
        uint64_t wordA;
        uint64_t wordB;
        std::memcpy(&wordA, a + count, 8);
        std::memcpy(&wordB, b + count, 8);
        if (wordA != wordB)
            break;
        count += 8;
    }
    while (count < limit && a[count] == b[count])
        ++count;
    return count;
}

// Number of bytes equal to value from in[from] on, stopping at in[end].
unsigned int runLength(const unsigned char* in, unsigned int from, unsigned int end, unsigned char value)
{
    const uint64_t pattern = kEveryByte * value;
    unsigned int at = from;
    while (at + 8 <= end) {
        uint64_t word;
        std::memcpy(&word, in + at, 8);
        if (word != pattern)
            break;
        at += 8;
    }
    while (at < end && in[at] == value)
        ++at;
    return at - from;
}

// The lowest position, not below low, from which every byte up to in[from] equals value (in[from] does).
unsigned int runStart(const unsigned char* in, unsigned int from, unsigned int low, unsigned char value)
{
    const uint64_t pattern = kEveryByte * value;
    unsigned int at = from;
    while (at >= low + 8) {
        uint64_t word;
        std::memcpy(&word, in + at - 8, 8);
        if (word != pattern)
            break;
        at -= 8;
    }
    while (at > low && in[at - 1] == value)
        --at;
    return at;
}

bool isUniformFour(const unsigned char* bytes)
{
    return bytes[0] == bytes[1] && bytes[0] == bytes[2] && bytes[0] == bytes[3];
}

unsigned int hashOfFour(const unsigned char* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return (value * 2654435761u) >> 16;
}

// The nearest of the longest matches found so far; a length of 3 means none, since shorter matches never pay.
struct Match
{
    unsigned int length = 3;
    unsigned int offset = 0;
};

// Where the encoder stands: the input, the position and the bytes left from it.
struct Cursor
{
    const unsigned char* in;
    unsigned int position;
    unsigned int bytesLeft;
};

// Counts the match against one earlier position and keeps it when it is longer than the best. The first test
// (the byte at the best length) rejects most candidates before counting. Returns true when nothing can beat it.
bool tryCandidate(const Cursor& cursor, unsigned int candidate, unsigned int equalBytes, Match& best)
{
    const unsigned char* current = cursor.in + cursor.position;
    const unsigned char* earlier = cursor.in + candidate;
    if (best.length < cursor.bytesLeft && earlier[best.length] != current[best.length])
        return false;
    const unsigned int offset = cursor.position - candidate;
    const unsigned int limit = cursor.bytesLeft < offset ? cursor.bytesLeft : offset;
    if (limit <= best.length)
        return false;
    const unsigned int length = countEqual(current, earlier, equalBytes, limit);
    if (length > best.length) {
        best.length = length;
        best.offset = offset;
    }
    return best.length == cursor.bytesLeft;
}

// Long runs of one byte (blank bitmap rows) would make the searches try every position of the run. The candidates
// low..high all lie in one run of the byte the current position starts with; the run ends at runEnd (the first
// position after it holding another byte, or the input size) and the current position starts with runHere such
// bytes. Updates the best match exactly as trying them one by one from high down to low would, in constant time.
// Returns true when nothing can beat the best match any more.
bool tryRun(const Cursor& cursor, unsigned int runHere, unsigned int runEnd, unsigned int low, unsigned int high,
            Match& best)
{
    const unsigned int position = cursor.position;
    auto keep = [&](unsigned int length, unsigned int candidate) {
        if (length > best.length) {
            best.length = length;
            best.offset = position - candidate;
        }
        return best.length == cursor.bytesLeft;
    };
    // The candidate whose run is as long as the current one; nearer ones have shorter runs, farther ones longer.
    const int64_t sameRun = static_cast<int64_t>(runEnd) - runHere;

    // Shorter runs: the match ends where their run ends, so it grows with the distance and the farthest is longest.
    if (sameRun + 1 <= static_cast<int64_t>(high)) {
        const unsigned int farthest = sameRun + 1 > low ? static_cast<unsigned int>(sameRun + 1) : low;
        const unsigned int toRunEnd = runEnd - farthest;
        const unsigned int offset = position - farthest;
        if (keep(toRunEnd < offset ? toRunEnd : offset, farthest))
            return true;
    }
    // An equally long run: the match goes on past both runs.
    if (sameRun >= low && sameRun <= high) {
        if (tryCandidate(cursor, static_cast<unsigned int>(sameRun), 0, best))
            return true;
    }
    // Longer runs: the match ends with the current run, or at the distance when that is shorter; the nearest
    // candidate reaching the longest wins.
    if (sameRun - 1 >= static_cast<int64_t>(low)) {
        const unsigned int nearest = sameRun - 1 < high ? static_cast<unsigned int>(sameRun - 1) : high;
        const unsigned int longest = runHere < position - low ? runHere : position - low;
        const unsigned int candidate = nearest < position - longest ? nearest : position - longest;
        if (keep(longest, candidate))
            return true;
    }
    return false;
}

// Every offset from 3 up to the window, nearest first, among the positions holding the current byte.
void searchEveryOffset(const Cursor& cursor, Match& best)
{
    const unsigned int position = cursor.position;
    const unsigned int window = position < kCompressWindow ? position : kCompressWindow;
    if (window < 3)
        return;
    const unsigned char* in = cursor.in;
    const unsigned char value = in[position];
    const unsigned int low = position - window;
    unsigned int runHere = 0;
    // Positions low .. low + searchLength - 1 are still to be tried; memrchr finds the nearest holding the byte.
    unsigned int searchLength = window - 2;
    while (searchLength > 0) {
        const void* hit = memrchr(in + low, value, searchLength);
        if (!hit)
            return;
        const unsigned int candidate = static_cast<unsigned int>(static_cast<const unsigned char*>(hit) - in);
        if (candidate > low && in[candidate - 1] == value) {
            const unsigned int start = runStart(in, candidate, low, value);
            if (runHere == 0)
                runHere = runLength(in, position, position + cursor.bytesLeft, value);
            unsigned int runEnd = candidate + 1 + runLength(in, candidate + 1, position, value);
            if (runEnd == position)
                runEnd = position + runHere;
            if (tryRun(cursor, runHere, runEnd, start, candidate, best))
                return;
            searchLength = start - low;
            continue;
        }
        if (tryCandidate(cursor, candidate, 1, best))
            return;
        searchLength = candidate - low;
    }
}

// The earlier positions whose first four bytes hash alike, nearest first, from the index LZ_CompressFast builds.
// Positions inside a run of one byte link to the start of their run, whose link goes on past the run.
void searchIndex(const Cursor& cursor, const unsigned int* previous, Match& best)
{
    const unsigned int position = cursor.position;
    const unsigned char* in = cursor.in;
    const unsigned char* current = in + position;
    const unsigned int low = position > kCompressFastWindow ? position - kCompressFastWindow : 0;
    unsigned int runHere = 0;

    auto startOfRun = [&](unsigned int at) { return at > 0 && in[at - 1] == in[at] ? previous[at] : at; };
    unsigned int entry =
        isUniformFour(current) && position > 0 && in[position - 1] == current[0] ? position - 1 : previous[position];
    while (entry != kNoPosition && entry >= low) {
        if (!isUniformFour(in + entry)) {
            if (tryCandidate(cursor, entry, 0, best))
                return;
            entry = previous[entry];
            continue;
        }
        const unsigned char value = in[entry];
        const unsigned int start = startOfRun(entry);
        if (current[0] == value) {
            if (runHere == 0)
                runHere = runLength(in, position, position + cursor.bytesLeft, value);
            unsigned int runEnd = entry + 4;
            if (runEnd < position)
                runEnd += runLength(in, runEnd, position, value);
            if (runEnd >= position)
                runEnd = position + runHere;
            if (tryRun(cursor, runHere, runEnd, start > low ? start : low, entry, best))
                return;
        }
        entry = previous[start];
    }
}

// Short matches only pay when their offset fits in few bytes.
bool worthEmitting(unsigned int length, unsigned int offset)
{
    return length >= 8 || (length == 4 && offset < (1u << 7)) || (length == 5 && offset < (1u << 14)) ||
           (length == 6 && offset < (1u << 21)) || (length == 7 && offset < (1u << 28));
}

unsigned int writeLiteral(unsigned char value, unsigned char marker, unsigned char* out)
{
    out[0] = value;
    if (value != marker)
        return 1;
    out[1] = 0;
    return 2;
}

} // namespace

static int _LZ_WriteVarSize(unsigned int value, unsigned char* buf)
{
    int count = 5;
    if (value < (1u << 7))
        count = 1;
    else if (value < (1u << 14))
        count = 2;
    else if (value < (1u << 21))
        count = 3;
    else if (value < (1u << 28))
        count = 4;
    for (int i = count - 1; i >= 0; --i) {
        unsigned char group = static_cast<unsigned char>((value >> (7 * i)) & 0x7F);
        if (i > 0)
            group |= 0x80;
        *buf++ = group;
    }
    return count;
}

namespace {

// The loop both encoders share; search(cursor, best) finds the nearest of the longest matches at the cursor.
template <typename Search> int encode(const unsigned char* in, unsigned char* out, unsigned int insize, Search search)
{
    if (insize == 0)
        return 0;

    const unsigned char marker = chooseMarker(in, insize);
    out[0] = marker;
    unsigned int outPos = 1;
    unsigned int position = 0;
    unsigned int bytesLeft = insize;

    while (bytesLeft > 3) {
        Match best;
        search(Cursor{in, position, bytesLeft}, best);
        if (worthEmitting(best.length, best.offset)) {
            out[outPos++] = marker;
            outPos += _LZ_WriteVarSize(best.length, out + outPos);
            outPos += _LZ_WriteVarSize(best.offset, out + outPos);
            position += best.length;
            bytesLeft -= best.length;
        } else {
            outPos += writeLiteral(in[position], marker, out + outPos);
            ++position;
            --bytesLeft;
        }
    }
    while (bytesLeft > 0) {
        outPos += writeLiteral(in[position], marker, out + outPos);
        ++position;
        --bytesLeft;
    }
    return static_cast<int>(outPos);
}

// Reads one variable-size integer at *pos. Strict reading rejects more than 5 bytes or a value above 32 bits;
// lenient reading takes any number of bytes and keeps the low 32 bits. False when the stream ends inside it.
bool readVarSize(const unsigned char* in, size_t insize, size_t* pos, bool strict, uint32_t* value)
{
    uint64_t result = 0;
    unsigned int byteCount = 0;
    while (*pos < insize) {
        const unsigned char byte = in[(*pos)++];
        ++byteCount;
        if (strict && byteCount > 5)
            return false;
        result = ((result << 7) | (byte & 0x7F)) & (strict ? UINT64_MAX : 0xFFFFFFFFu);
        if (!(byte & 0x80)) {
            if (result > 0xFFFFFFFFu)
                return false;
            *value = static_cast<uint32_t>(result);
            return true;
        }
    }
    return false;
}

// Returns the number of bytes produced, or -1 for a corrupt stream. Nothing is read outside in[0, insize) or
// out[0, produced), and nothing is written past out + capacity.
int64_t decode(const unsigned char* in, size_t insize, unsigned char* out, size_t capacity, bool strict)
{
    if (insize == 0)
        return 0;

    const unsigned char marker = in[0];
    size_t inPos = 1;
    size_t outPos = 0;
    while (inPos < insize) {
        // Copy the run of literals up to the next marker in one go.
        const void* nextMarker = std::memchr(in + inPos, marker, insize - inPos);
        const size_t runEnd =
            nextMarker ? static_cast<size_t>(static_cast<const unsigned char*>(nextMarker) - in) : insize;
        const size_t runLength = runEnd - inPos;
        if (runLength > 0) {
            if (runLength > capacity - outPos)
                return -1;
            std::memcpy(out + outPos, in + inPos, runLength);
            outPos += runLength;
            inPos = runEnd;
            continue;
        }

        ++inPos;
        if (inPos >= insize)
            return -1;
        if (in[inPos] == 0) {
            if (outPos >= capacity)
                return -1;
            out[outPos++] = marker;
            ++inPos;
            continue;
        }

        uint32_t length = 0;
        uint32_t offset = 0;
        if (!readVarSize(in, insize, &inPos, strict, &length) || !readVarSize(in, insize, &inPos, strict, &offset))
            return -1;
        if (offset == 0 || offset > outPos || length > capacity - outPos)
            return -1;

        // A match nearer than its length repeats its last offset bytes: copy in chunks that never overlap, each
        // reaching twice as far back as the one before, which keeps the period.
        size_t distance = offset;
        size_t remaining = length;
        while (remaining > 0) {
            const size_t chunk = remaining < distance ? remaining : distance;
            std::memcpy(out + outPos, out + outPos - distance, chunk);
            outPos += chunk;
            remaining -= chunk;
            distance *= 2;
        }
    }
    return static_cast<int64_t>(outPos);
}

} // namespace

int LZ_Compress(const unsigned char* in, unsigned char* out, unsigned int insize)
{
    return encode(in, out, insize, [](const Cursor& cursor, Match& best) { searchEveryOffset(cursor, best); });
}

int LZ_CompressFast(const unsigned char* in, unsigned char* out, unsigned int insize, unsigned int* work)
{
    if (insize == 0)
        return 0;

    // Only a match of 4 bytes or more is ever emitted, so the index links positions whose first four bytes hash
    // alike: the search meets every candidate that can win, nearest first, and skips most of those that cannot.
    // work holds the last position of each hash, then for every position the previous one with the same hash; a
    // position inside a run of one byte (four equal bytes, the byte before too) holds the start of its run instead.
    unsigned int* lastOfHash = work;
    unsigned int* previous = work + kHashCount;
    for (unsigned int hash = 0; hash < kHashCount; ++hash)
        lastOfHash[hash] = kNoPosition;
    for (unsigned int i = 0; i < insize; ++i) {
        if (i + 4 > insize) {
            previous[i] = kNoPosition;
            continue;
        }
        const unsigned int hash = hashOfFour(in + i);
        if (i > 0 && isUniformFour(in + i) && in[i - 1] == in[i])
            previous[i] = i > 1 && in[i - 2] == in[i] ? previous[i - 1] : i - 1;
        else
            previous[i] = lastOfHash[hash];
        lastOfHash[hash] = i;
    }

    return encode(in, out, insize,
                  [previous](const Cursor& cursor, Match& best) { searchIndex(cursor, previous, best); });
}

void LZ_Uncompress(const unsigned char* in, unsigned char* out, unsigned int insize)
{
    decode(in, insize, out, SIZE_MAX, false);
}

int LZ_UncompressBounded(const unsigned char* in, unsigned int insize, unsigned char* out, unsigned int outsize)
{
    const size_t capacity = outsize < static_cast<unsigned int>(INT_MAX) ? outsize : static_cast<size_t>(INT_MAX);
    return static_cast<int>(decode(in, insize, out, capacity, true));
}
