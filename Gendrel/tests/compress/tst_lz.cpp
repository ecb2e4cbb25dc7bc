#include "compress/lz.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)

namespace {

enum class Encoder { Full, Fast };

constexpr unsigned int kNone = 0xFFFFFFFFu;

Bytes bytes(std::initializer_list<int> values)
{
    Bytes result;
    for (int value : values)
        result.push_back(static_cast<unsigned char>(value));
    return result;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes head(const Bytes& data, size_t count)
{
    return Bytes(data.begin(), data.begin() + count);
}

// Buffers are sized exactly, so that AddressSanitizer sees any access past their end.
Bytes compress(const Bytes& in, Encoder encoder)
{
    const unsigned int size = static_cast<unsigned int>(in.size());
    Bytes out(LZ_CompressBound(size));
    int written = 0;
    if (encoder == Encoder::Full) {
        written = LZ_Compress(in.data(), out.data(), size);
    } else {
        std::vector<unsigned int> work(LZ_CompressFastWorkWords(size));
        written = LZ_CompressFast(in.data(), out.data(), size, work.data());
    }
    out.resize(static_cast<size_t>(written));
    return out;
}

// A straight transcription of the stream format and search rules, to hold the optimised encoders to the same bytes.
Bytes referenceCompress(const Bytes& in, Encoder encoder)
{
    const size_t n = in.size();
    if (n == 0)
        return {};
    size_t histogram[256] = {};
    for (unsigned char value : in)
        ++histogram[value];
    const unsigned char marker = static_cast<unsigned char>(std::min_element(histogram, histogram + 256) - histogram);

    std::vector<unsigned int> chain(n, kNone);
    std::vector<unsigned int> lastOfPair(65536, kNone);
    for (size_t i = 0; i + 1 < n; ++i) {
        const unsigned int pair = in[i] * 256u + in[i + 1];
        chain[i] = lastOfPair[pair];
        lastOfPair[pair] = static_cast<unsigned int>(i);
    }

    Bytes out{marker};
    auto literal = [&](unsigned char value) {
        out.push_back(value);
        if (value == marker)
            out.push_back(0);
    };
    auto varSize = [&](size_t value) {
        int count = value < (1u << 7)    ? 1
                    : value < (1u << 14) ? 2
                    : value < (1u << 21) ? 3
                    : value < (1u << 28) ? 4
                                         : 5;
        for (int i = count - 1; i >= 0; --i)
            out.push_back(static_cast<unsigned char>(((value >> (7 * i)) & 0x7F) | (i > 0 ? 0x80 : 0)));
    };

    size_t p = 0;
    size_t left = n;
    do {
        size_t best = 3;
        size_t bestOffset = 0;
        auto consider = [&](size_t offset, size_t from) {
            const size_t q = p - offset;
            const size_t limit = std::min(left, offset);
            size_t length = from;
            while (length < limit && in[p + length] == in[q + length])
                ++length;
            if (length > best) {
                best = length;
                bestOffset = offset;
            }
        };
        if (encoder == Encoder::Full) {
            for (size_t offset = 3; offset <= std::min<size_t>(p, 100000); ++offset) {
                if (in[p] == in[p - offset] && (p + best >= n || in[p + best] == in[p - offset + best]))
                    consider(offset, 0);
            }
        } else {
            for (unsigned int entry = chain[p]; entry != kNone && p - entry <= 99999; entry = chain[entry]) {
                if (p + best >= n || in[entry + best] == in[p + best])
                    consider(p - entry, 2);
            }
        }
        if (best >= 8 || (best == 4 && bestOffset < (1u << 7)) || (best == 5 && bestOffset < (1u << 14)) ||
            (best == 6 && bestOffset < (1u << 21)) || (best == 7 && bestOffset < (1u << 28))) {
            out.push_back(marker);
            varSize(best);
            varSize(bestOffset);
            p += best;
            left -= best;
        } else {
            literal(in[p++]);
            --left;
        }
    } while (left > 3);
    while (left-- > 0)
        literal(in[p++]);
    return out;
}

struct Token
{
    size_t length; // 1 for a literal
    size_t offset; // 0 for a literal
};

// Splits a well-formed stream into its tokens; false for anything else.
bool parseTokens(const Bytes& stream, std::vector<Token>* tokens)
{
    if (stream.empty())
        return true;
    const unsigned char marker = stream[0];
    size_t pos = 1;
    auto varSize = [&](size_t* value) {
        *value = 0;
        for (int count = 0; count < 5 && pos < stream.size(); ++count) {
            const unsigned char byte = stream[pos++];
            *value = (*value << 7) | (byte & 0x7F);
            if (!(byte & 0x80))
                return true;
        }
        return false;
    };
    while (pos < stream.size()) {
        if (stream[pos] != marker) {
            tokens->push_back({1, 0});
            ++pos;
        } else if (pos + 1 < stream.size() && stream[pos + 1] == 0) {
            tokens->push_back({1, 0});
            pos += 2;
        } else {
            ++pos;
            Token match{0, 0};
            if (!varSize(&match.length) || !varSize(&match.offset))
                return false;
            tokens->push_back(match);
        }
    }
    return true;
}

Bytes sameBytes(size_t size, unsigned char value)
{
    return Bytes(size, value);
}

Bytes randomBytes(size_t size, unsigned int seed)
{
    std::mt19937 generator(seed);
    Bytes data(size);
    for (auto& value : data)
        value = static_cast<unsigned char>(generator());
    return data;
}

Bytes textBytes(size_t size, unsigned int seed)
{
    static const char* const words[] = {"the",   "device", "update", "track",  "map",     "of",     "and",
                                        "route", "a",      "ride",   "speed",  "climb",   "to",     "battery",
                                        "file",  "is",     "in",     "sensor", "heading", "workout"};
    std::mt19937 generator(seed);
    std::geometric_distribution<int> pick(0.18);
    Bytes data;
    while (data.size() < size) {
        const char* word = words[std::min(pick(generator), 19)];
        data.insert(data.end(), word, word + std::strlen(word));
        const unsigned int r = generator() % 16;
        data.push_back(r == 0 ? '\n' : r == 1 ? '.' : ' ');
    }
    data.resize(size);
    return data;
}

// A 1-bit picture: runs of set and clear pixels, each row a small change of the one above.
Bytes bitmapBytes(size_t size, unsigned int seed)
{
    constexpr size_t rowBytes = 60;
    std::mt19937 generator(seed);
    Bytes row(rowBytes, 0);
    Bytes data;
    while (data.size() < size) {
        const size_t changes = generator() % 3;
        for (size_t i = 0; i < changes; ++i) {
            const size_t start = generator() % rowBytes;
            const size_t length = 1 + generator() % 12;
            const unsigned char fill =
                generator() % 4 == 0 ? static_cast<unsigned char>(generator()) : (generator() % 2 ? 0xFF : 0x00);
            for (size_t x = start; x < std::min(rowBytes, start + length); ++x)
                row[x] = fill;
        }
        data.insert(data.end(), row.begin(), row.end());
    }
    data.resize(size);
    return data;
}

// Every byte value equally often and no repeated four-byte sequence worth a match: the encoders' worst case.
Bytes evenBytes(size_t size, unsigned int seed)
{
    std::mt19937 generator(seed);
    Bytes data;
    Bytes values(256);
    std::iota(values.begin(), values.end(), 0);
    while (data.size() < size) {
        std::shuffle(values.begin(), values.end(), generator);
        data.insert(data.end(), values.begin(), values.end());
    }
    data.resize(size);
    return data;
}

// Bytes 1 to 255 with no four-byte sequence occurring twice, so nothing in them can be matched.
Bytes unrepeatedBytes(size_t size)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<unsigned char>(i % 2 == 0 ? 1 + (i / 2) % 255 : 1 + (i / 2) / 255);
    return data;
}

} // namespace

class TestLZ : public QObject
{
    Q_OBJECT

private slots:
    void exactStreams_data();
    void exactStreams();
    void decodeStreams_data();
    void decodeStreams();
    void corruptStreams_data();
    void corruptStreams();
    void roundTrip_data();
    void roundTrip();
    void windowLimit_data();
    void windowLimit();
    void worstCaseSize();
};

void TestLZ::exactStreams_data()
{
    QTest::addColumn<Bytes>("input");
    QTest::addColumn<Bytes>("stream");

    QTest::newRow("empty input writes nothing") << Bytes() << Bytes();
    QTest::newRow("abc: absent 0x00 is the marker") << bytes({'a', 'b', 'c'}) << bytes({0x00, 'a', 'b', 'c'});

    Bytes everyValue(256);
    std::iota(everyValue.begin(), everyValue.end(), 0);
    QTest::newRow("every value once: marker 0x00 escaped")
        << everyValue << concat(bytes({0x00, 0x00, 0x00}), Bytes(everyValue.begin() + 1, everyValue.end()));

    const Bytes eight = bytes({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
    QTest::newRow("eight bytes twice") << concat(eight, eight)
                                       << concat(concat(bytes({0x00}), eight), bytes({0x00, 8, 8}));

    QTest::newRow("twenty equal bytes") << sameBytes(20, 'x')
                                        << bytes({0x00, 'x', 'x', 'x', 'x', 0x00, 4, 4, 0x00, 8, 8, 0x00, 4, 4});

    // A short match seen again after filler that holds nothing to match: it pays only where its offset fits in few
    // bytes (4 bytes below offset 128, 5 below 16384).
    for (const auto& [length, limit] : {std::pair<unsigned int, unsigned int>{4, 128}, {5, 16384}}) {
        for (unsigned int offset : {limit - 1, limit}) {
            const Bytes repeated = head(bytes({0xF0, 0xF1, 0xF2, 0xF3, 0xF4}), length);
            const Bytes first = concat(repeated, unrepeatedBytes(offset - length));
            const Bytes input = concat(first, repeated);
            Bytes stream = concat(bytes({0x00}), input);
            if (offset < limit) {
                stream = concat(bytes({0x00}), first);
                stream.push_back(0x00);
                stream.push_back(static_cast<unsigned char>(length));
                for (unsigned char group :
                     offset < 128 ? bytes({int(offset)}) : bytes({0x80 | int(offset >> 7), int(offset & 0x7F)}))
                    stream.push_back(group);
            }
            QTest::newRow(qPrintable(QStringLiteral("%1-byte match at offset %2").arg(length).arg(offset)))
                << input << stream;
        }
    }

    // Variable-size integers: 127 in one byte, 200 and 128 in two, 16384 in three.
    const Bytes short200 = unrepeatedBytes(200);
    QTest::newRow("length 127, offset 200") << concat(short200, head(short200, 127))
                                            << concat(concat(bytes({0x00}), short200), bytes({0x00, 0x7F, 0x81, 0x48}));
    const Bytes long16384 = unrepeatedBytes(16384);
    QTest::newRow("length 128, offset 16384")
        << concat(long16384, head(long16384, 128))
        << concat(concat(bytes({0x00}), long16384), bytes({0x00, 0x81, 0x00, 0x81, 0x80, 0x00}));
}

void TestLZ::exactStreams()
{
    QFETCH(Bytes, input);
    QFETCH(Bytes, stream);

    QCOMPARE(compress(input, Encoder::Full), stream);
    QCOMPARE(compress(input, Encoder::Fast), stream);

    Bytes decoded(input.size());
    QCOMPARE(LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), decoded.data(),
                                  static_cast<unsigned int>(decoded.size())),
             static_cast<int>(input.size()));
    QCOMPARE(decoded, input);
}

void TestLZ::decodeStreams_data()
{
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<Bytes>("expected");

    const int m = 0xFE;
    QTest::newRow("marker only") << bytes({m}) << Bytes();
    QTest::newRow("escaped marker") << bytes({m, 'a', m, 0x00, 'b'}) << bytes({'a', m, 'b'});
    QTest::newRow("offset below length repeats")
        << bytes({m, 'a', 'b', m, 6, 2}) << bytes({'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'});
    QTest::newRow("offset 1 run") << bytes({m, 'z', m, 0x81, 0x00, 1}) << sameBytes(129, 'z');
    QTest::newRow("longer varint than needed")
        << bytes({m, 'a', 'b', 'c', m, 0x80, 0x80, 0x80, 0x80, 0x03, 0x80, 3}) << bytes({'a', 'b', 'c', 'a', 'b', 'c'});
}

void TestLZ::decodeStreams()
{
    QFETCH(Bytes, stream);
    QFETCH(Bytes, expected);

    Bytes out(expected.size());
    QCOMPARE(LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), out.data(),
                                  static_cast<unsigned int>(out.size())),
             static_cast<int>(expected.size()));
    QCOMPARE(out, expected);

    Bytes plainOut(expected.size());
    LZ_Uncompress(stream.data(), plainOut.data(), static_cast<unsigned int>(stream.size()));
    QCOMPARE(plainOut, expected);
}

void TestLZ::corruptStreams_data()
{
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<unsigned int>("capacity");
    // Whether the unbounded form may be fed the stream too: only where no length could overrun 64 bytes.
    QTest::addColumn<bool>("plainToo");

    const int m = 0xFE;
    QTest::newRow("offset 0") << bytes({m, 'a', m, 4, 0}) << 64u << true;
    QTest::newRow("offset beyond produced") << bytes({m, 'a', 'b', m, 4, 3}) << 64u << true;
    QTest::newRow("match before any output") << bytes({m, m, 4, 1}) << 64u << true;
    QTest::newRow("offset of 2^32 - 1") << bytes({m, 'a', m, 4, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}) << 64u << true;
    QTest::newRow("length past capacity") << bytes({m, 'a', 'b', 'c', 'd', m, 8, 4}) << 10u << true;
    QTest::newRow("length of 2^32 - 1") << bytes({m, 'a', m, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 1}) << 64u << false;
    QTest::newRow("literals past capacity") << bytes({m, 'a', 'b', 'c'}) << 2u << true;
    QTest::newRow("escaped marker past capacity") << bytes({m, 'a', m, 0}) << 1u << true;
    QTest::newRow("no capacity") << bytes({m, 'a'}) << 0u << true;
    QTest::newRow("length cut off") << bytes({m, 'a', m, 0x81}) << 64u << true;
    QTest::newRow("offset missing") << bytes({m, 'a', 'b', 'c', 'd', m, 4}) << 64u << true;
    QTest::newRow("offset cut off") << bytes({m, 'a', 'b', 'c', 'd', m, 4, 0x80}) << 64u << true;
    QTest::newRow("over-long length") << bytes({m, 'a', m, 0x80, 0x80, 0x80, 0x80, 0x80, 4, 1}) << 64u << true;
    QTest::newRow("over-long offset") << bytes({m, 'a', 'b', 'c', 'd', m, 4, 0x80, 0x80, 0x80, 0x80, 0x80, 1}) << 64u
                                      << true;
    QTest::newRow("length above 32 bits") << bytes({m, 'a', m, 0x90, 0x80, 0x80, 0x80, 4, 1}) << 64u << true;
    QTest::newRow("offset above 32 bits") << bytes({m, 'a', m, 4, 0x90, 0x80, 0x80, 0x80, 1}) << 64u << true;
    QTest::newRow("ends after marker") << bytes({m, 'a', m}) << 64u << true;
}

void TestLZ::corruptStreams()
{
    QFETCH(Bytes, stream);
    QFETCH(unsigned int, capacity);
    QFETCH(bool, plainToo);

    Bytes out(capacity);
    QCOMPARE(LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), out.data(), capacity), -1);

    if (plainToo) {
        Bytes plainOut(64);
        LZ_Uncompress(stream.data(), plainOut.data(), static_cast<unsigned int>(stream.size()));
    }
}

void TestLZ::roundTrip_data()
{
    QTest::addColumn<Bytes>("input");
    QTest::addColumn<bool>("fullToo");

    struct Kind
    {
        const char* name;
        Bytes (*make)(size_t size);
    };
    const Kind kinds[] = {
        {"zeros", [](size_t size) { return sameBytes(size, 0x00); }},
        {"same byte", [](size_t size) { return sameBytes(size, 0x41); }},
        {"random", [](size_t size) { return randomBytes(size, 7); }},
        {"text", [](size_t size) { return textBytes(size, 11); }},
        {"bitmap", [](size_t size) { return bitmapBytes(size, 13); }},
        {"every value equally", [](size_t size) { return evenBytes(size, 17); }},
    };
    for (const Kind& kind : kinds) {
        for (size_t size : {1, 2, 3, 4, 5, 9, 255, 4096, 12000}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(kind.name)).arg(size)))
                << kind.make(size) << true;
        }
    }
    // The full search is quadratic: larger inputs, reaching past the window, only for the fast one.
    QTest::newRow("text 250000") << textBytes(250000, 19) << false;
    QTest::newRow("random 250000") << randomBytes(250000, 23) << false;
    QTest::newRow("bitmap 150000") << bitmapBytes(150000, 29) << false;
}

void TestLZ::roundTrip()
{
    QFETCH(Bytes, input);
    QFETCH(bool, fullToo);

    const unsigned int size = static_cast<unsigned int>(input.size());
    const Bytes fastStream = compress(input, Encoder::Fast);
    QCOMPARE(fastStream, referenceCompress(input, Encoder::Fast));
    std::vector<std::pair<Bytes, size_t>> streamsAndWindows{{fastStream, 99999}};
    if (fullToo) {
        // Both searches reach every earlier position of inputs this short, so they must choose the same matches;
        // the slow reference only runs on the smaller ones.
        const Bytes fullStream = compress(input, Encoder::Full);
        QCOMPARE(fullStream, size <= 4096 ? referenceCompress(input, Encoder::Full) : fastStream);
        streamsAndWindows.push_back({fullStream, 100000});
    }

    for (const auto& [stream, window] : streamsAndWindows) {
        QVERIFY(stream.size() <= LZ_CompressBound(size));

        std::vector<Token> tokens;
        QVERIFY(parseTokens(stream, &tokens));
        for (const Token& token : tokens) {
            if (token.offset == 0)
                continue;
            QVERIFY(token.length >= 4);
            QVERIFY(token.length <= token.offset);
            QVERIFY(token.offset <= window);
        }

        Bytes decoded(size);
        QCOMPARE(LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), decoded.data(), size),
                 static_cast<int>(size));
        QCOMPARE(decoded, input);

        Bytes plainDecoded(size);
        LZ_Uncompress(stream.data(), plainDecoded.data(), static_cast<unsigned int>(stream.size()));
        QCOMPARE(plainDecoded, input);

        Bytes tooSmall(size - 1);
        QCOMPARE(
            LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), tooSmall.data(), size - 1),
            -1);
    }
}

void TestLZ::windowLimit_data()
{
    QTest::addColumn<unsigned int>("offset");
    QTest::addColumn<bool>("fullMatches");
    QTest::addColumn<bool>("fastMatches");

    QTest::newRow("99999") << 99999u << true << true;
    QTest::newRow("100000") << 100000u << true << false;
    QTest::newRow("100001") << 100001u << false << false;
}

void TestLZ::windowLimit()
{
    QFETCH(unsigned int, offset);
    QFETCH(bool, fullMatches);
    QFETCH(bool, fastMatches);

    // Sixteen bytes, filler that repeats one random block (long matches swallow it with few candidates each), and
    // the sixteen bytes again.
    const Bytes sixteen = randomBytes(16, 37);
    const Bytes block = randomBytes(4096, 41);
    Bytes input = sixteen;
    while (input.size() < offset)
        input.insert(input.end(), block.begin(), block.end());
    input.resize(offset);
    input = concat(input, sixteen);

    for (Encoder encoder : {Encoder::Full, Encoder::Fast}) {
        const Bytes stream = compress(input, encoder);
        std::vector<Token> tokens;
        QVERIFY(parseTokens(stream, &tokens));
        QVERIFY(tokens.size() >= 16);
        const bool matches = encoder == Encoder::Full ? fullMatches : fastMatches;
        if (matches) {
            QCOMPARE(tokens.back().length, size_t(16));
            QCOMPARE(tokens.back().offset, size_t(offset));
        } else {
            QVERIFY(std::all_of(tokens.end() - 16, tokens.end(), [](const Token& token) { return token.offset == 0; }));
        }

        Bytes decoded(input.size());
        QCOMPARE(LZ_UncompressBounded(stream.data(), static_cast<unsigned int>(stream.size()), decoded.data(),
                                      static_cast<unsigned int>(decoded.size())),
                 static_cast<int>(input.size()));
        QCOMPARE(decoded, input);
    }
}

void TestLZ::worstCaseSize()
{
    // The marker is the rarest byte, so escapes cost at most one byte in 256 and nothing else grows.
    const Bytes input = evenBytes(4096, 31);
    for (Encoder encoder : {Encoder::Full, Encoder::Fast})
        QCOMPARE(compress(input, encoder).size(), size_t(LZ_CompressBound(4096)));
}

QTEST_APPLESS_MAIN(TestLZ)
#include "tst_lz.moc"
