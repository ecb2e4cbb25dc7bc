// libFuzzer target for the LZ byte compressor. The input is read as a stream for LZ_UncompressBounded, and as
// plain data for both encoders, whose output must decode back to it and agree.

#include "compress/lz.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned int kDecodeCapacity = 1 << 16;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Buffers are sized exactly so that AddressSanitizer flags any access past them.
void checkDecoder(const unsigned char* stream, unsigned int size)
{
    std::vector<unsigned char> out(kDecodeCapacity);
    const int produced = LZ_UncompressBounded(stream, size, out.data(), kDecodeCapacity);
    require(produced >= -1 && produced <= static_cast<int>(kDecodeCapacity));
    if (produced <= 0)
        return;

    // The same stream with exactly the room it needs gives the same bytes, with one byte less it is refused, and
    // the unbounded form agrees on it.
    std::vector<unsigned char> exact(static_cast<size_t>(produced));
    require(LZ_UncompressBounded(stream, size, exact.data(), static_cast<unsigned int>(produced)) == produced);
    require(std::memcmp(exact.data(), out.data(), exact.size()) == 0);

    std::vector<unsigned char> tooSmall(static_cast<size_t>(produced - 1));
    require(LZ_UncompressBounded(stream, size, tooSmall.data(), static_cast<unsigned int>(produced - 1)) == -1);

    std::vector<unsigned char> plain(static_cast<size_t>(produced));
    LZ_Uncompress(stream, plain.data(), size);
    require(plain == exact);
}

std::vector<unsigned char> encode(const unsigned char* data, unsigned int size, bool fast)
{
    std::vector<unsigned char> stream(LZ_CompressBound(size));
    int written;
    if (fast) {
        std::vector<unsigned int> work(LZ_CompressFastWorkWords(size));
        written = LZ_CompressFast(data, stream.data(), size, work.data());
    } else {
        written = LZ_Compress(data, stream.data(), size);
    }
    require(written >= 0 && static_cast<unsigned int>(written) <= LZ_CompressBound(size));
    require((written == 0) == (size == 0));
    stream.resize(static_cast<size_t>(written));
    return stream;
}

void checkRoundTrip(const unsigned char* data, unsigned int size, const std::vector<unsigned char>& stream)
{

    std::vector<unsigned char> decoded(size);
    require(LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), decoded.data(), size) ==
            static_cast<int>(size));
    require(size == 0 || std::memcmp(decoded.data(), data, size) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Copied so that a read one byte past the input is caught even when libFuzzer's buffer is larger.
    const std::vector<unsigned char> input(data, data + size);
    const unsigned int inputSize = static_cast<unsigned int>(size);
    checkDecoder(input.data(), inputSize);
    const std::vector<unsigned char> full = encode(input.data(), inputSize, false);
    const std::vector<unsigned char> fast = encode(input.data(), inputSize, true);
    checkRoundTrip(input.data(), inputSize, full);
    checkRoundTrip(input.data(), inputSize, fast);
    // The two searches differ only in how far back they reach (100000 and 99999 bytes); on shorter inputs they
    // must choose the same matches, although they find them in different ways.
    if (inputSize <= 100000)
        require(full == fast);
    return 0;
}
