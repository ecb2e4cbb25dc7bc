// LZ byte compressor against zlib on the same data: LZ_UncompressBounded against inflate, and LZ_CompressFast
// against deflate at level 1. Prints MB/s of each (median of several runs) and their ratio. Build in Release.
// The decode is also set against what unzip does with an archive entry: raw deflate data at level 6, the level zip
// tools write, inflated without zlib's checksum (windowBits -15). Level-6 data has fewer, longer matches and
// decodes faster than level-1 data, and the checksum is work the LZ decoder does not do, so this second row is the
// one that does not flatter LZ.

#include "compress/lz.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kDataSize = 8 * 1024 * 1024;
constexpr int kRuns = 7;

// A 1-bit picture 2048 pixels wide: filled and outlined boxes, lines, halftone areas and repeated small glyphs on a
// clear background, like a map tile or a screen bitmap.
Bytes bitmapData(size_t size)
{
    constexpr int width = 2048;
    constexpr int rowBytes = width / 8;
    const int height = static_cast<int>(size / rowBytes);
    Bytes data(static_cast<size_t>(rowBytes) * height, 0);
    std::mt19937 generator(1);
    auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(generator); };
    auto set = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            data[static_cast<size_t>(y) * rowBytes + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    };

    std::vector<std::array<unsigned char, 8>> glyphs(64);
    for (auto& glyph : glyphs) {
        for (auto& line : glyph)
            line = static_cast<unsigned char>(generator() & 0x7E);
    }

    const int shapes = height / 2;
    for (int shape = 0; shape < shapes; ++shape) {
        const int x = uniform(0, width - 1);
        const int y = uniform(0, height - 1);
        switch (uniform(0, 5)) {
        case 0: { // filled box
            const int w = uniform(8, 300), h = uniform(4, 80);
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i)
                    set(x + i, y + j);
            break;
        }
        case 1: { // outlined box
            const int w = uniform(8, 400), h = uniform(8, 200);
            for (int i = 0; i < w; ++i) {
                set(x + i, y);
                set(x + i, y + h);
            }
            for (int j = 0; j < h; ++j) {
                set(x, y + j);
                set(x + w, y + j);
            }
            break;
        }
        case 2: { // line in any direction
            const int dx = uniform(-300, 300), dy = uniform(-300, 300);
            const int steps = std::max(std::abs(dx), std::abs(dy)) + 1;
            for (int s = 0; s < steps; ++s)
                set(x + dx * s / steps, y + dy * s / steps);
            break;
        }
        case 3: { // halftone area
            const int w = uniform(16, 256), h = uniform(8, 64);
            for (int j = 0; j < h; ++j)
                for (int i = (j % 2); i < w; i += 2)
                    set(x + i, y + j);
            break;
        }
        default: { // a line of glyphs, aligned to bytes
            const int count = uniform(4, 30);
            const int column = x / 8;
            for (int c = 0; c < count && column + c < rowBytes; ++c) {
                const auto& glyph = glyphs[static_cast<size_t>(uniform(0, 63))];
                for (int j = 0; j < 8 && y + j < height; ++j)
                    data[static_cast<size_t>(y + j) * rowBytes + column + c] |= glyph[static_cast<size_t>(j)];
            }
            break;
        }
        }
    }
    data.resize(size, 0);
    return data;
}

// Sentences of made-up words with a skewed word frequency, like log files or descriptions.
Bytes textData(size_t size)
{
    std::mt19937 generator(2);
    std::vector<std::string> words;
    const char* const letters = "etaoinshrdlcumwfgypbvkjxqz";
    for (int i = 0; i < 3000; ++i) {
        std::string word;
        const int length = 2 + static_cast<int>(generator() % 9);
        for (int c = 0; c < length; ++c)
            word += letters[std::min<unsigned int>(generator() % 26, generator() % 26)];
        words.push_back(word);
    }
    // Zipf-like: word k is picked with weight 1 / (k + 1).
    std::vector<double> weights(words.size());
    for (size_t k = 0; k < weights.size(); ++k)
        weights[k] = 1.0 / static_cast<double>(k + 1);
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());

    Bytes data;
    data.reserve(size + 64);
    bool sentenceStart = true;
    while (data.size() < size) {
        std::string word = words[pick(generator)];
        if (sentenceStart)
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        data.insert(data.end(), word.begin(), word.end());
        const unsigned int r = generator() % 20;
        sentenceStart = r < 2;
        const char* separator = r == 0 ? ".\n" : r == 1 ? ". " : r == 2 ? ", " : " ";
        data.insert(data.end(), separator, separator + std::strlen(separator));
    }
    data.resize(size);
    return data;
}

double medianSeconds(const std::function<void()>& work)
{
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Raw deflate (no zlib header or checksum), as a zip entry stores it; empty on failure.
Bytes rawDeflate(const Bytes& input, int level)
{
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    Bytes output(deflateBound(&stream, static_cast<uLong>(input.size())));
    stream.next_in = const_cast<unsigned char*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int result = deflate(&stream, Z_FINISH);
    output.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? output : Bytes();
}

// Inflates raw deflate data into output, which has the decoded size; false unless it fills output exactly.
bool rawInflate(const Bytes& input, Bytes& output)
{
    z_stream stream = {};
    if (inflateInit2(&stream, -15) != Z_OK)
        return false;
    stream.next_in = const_cast<unsigned char*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool ok = result == Z_STREAM_END && stream.total_out == output.size();
    inflateEnd(&stream);
    return ok;
}

double megabytesPerSecond(size_t bytes, double seconds)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

bool measure(const char* name, const Bytes& input)
{
    const unsigned int size = static_cast<unsigned int>(input.size());

    Bytes lzStream(LZ_CompressBound(size));
    std::vector<unsigned int> work(LZ_CompressFastWorkWords(size));
    int lzSize = 0;
    const double lzCompress =
        medianSeconds([&] { lzSize = LZ_CompressFast(input.data(), lzStream.data(), size, work.data()); });

    Bytes zStream(compressBound(size));
    uLongf zSize = 0;
    const double zCompress = medianSeconds([&] {
        zSize = zStream.size();
        if (compress2(zStream.data(), &zSize, input.data(), size, 1) != Z_OK)
            zSize = 0;
    });

    Bytes decoded(size);
    int lzDecoded = -1;
    const double lzDecode = medianSeconds(
        [&] { lzDecoded = LZ_UncompressBounded(lzStream.data(), static_cast<unsigned int>(lzSize), decoded.data(), size); });
    if (lzDecoded != static_cast<int>(size) || decoded != input) {
        std::fprintf(stderr, "%s: LZ round trip failed\n", name);
        return false;
    }

    std::fill(decoded.begin(), decoded.end(), 0);
    int zResult = Z_OK;
    const double zDecode = medianSeconds([&] {
        uLongf decodedSize = size;
        zResult = uncompress(decoded.data(), &decodedSize, zStream.data(), zSize);
        if (decodedSize != size)
            zResult = Z_DATA_ERROR;
    });
    if (zSize == 0 || zResult != Z_OK || decoded != input) {
        std::fprintf(stderr, "%s: zlib round trip failed\n", name);
        return false;
    }

    const Bytes rawStream = rawDeflate(input, 6);
    std::fill(decoded.begin(), decoded.end(), 0);
    bool rawOk = !rawStream.empty();
    const double rawDecode = medianSeconds([&] { rawOk = rawInflate(rawStream, decoded) && rawOk; });
    if (!rawOk || decoded != input) {
        std::fprintf(stderr, "%s: raw deflate round trip failed\n", name);
        return false;
    }

    const double lzCompressRate = megabytesPerSecond(size, lzCompress);
    const double zCompressRate = megabytesPerSecond(size, zCompress);
    const double lzDecodeRate = megabytesPerSecond(size, lzDecode);
    const double zDecodeRate = megabytesPerSecond(size, zDecode);
    const double rawDecodeRate = megabytesPerSecond(size, rawDecode);
    std::printf("%s, %.1f MB\n", name, static_cast<double>(size) / (1024.0 * 1024.0));
    std::printf("  compressed size  LZ_CompressFast %5.1f %%   zlib level 1 %5.1f %%   raw deflate level 6 %5.1f %%\n",
                100.0 * lzSize / size, 100.0 * static_cast<double>(zSize) / size,
                100.0 * static_cast<double>(rawStream.size()) / size);
    const char* const row = "  %-15s  %-20s %8.1f MB/s   %-33s %8.1f MB/s   ratio %.2f\n";
    std::printf(row, "decode", "LZ_UncompressBounded", lzDecodeRate, "inflate, zlib level 1", zDecodeRate,
                lzDecodeRate / zDecodeRate);
    std::printf(row, "", "LZ_UncompressBounded", lzDecodeRate, "raw inflate, level 6, no checksum", rawDecodeRate,
                lzDecodeRate / rawDecodeRate);
    std::printf(row, "encode", "LZ_CompressFast", lzCompressRate, "deflate, zlib level 1", zCompressRate,
                lzCompressRate / zCompressRate);
    return true;
}

} // namespace

int main()
{
    std::printf("median of %d runs; ratio = LZ / zlib (above 1: LZ faster)\n", kRuns);
    bool ok = measure("1-bit bitmap", bitmapData(kDataSize));
    ok = measure("text", textData(kDataSize)) && ok;
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
