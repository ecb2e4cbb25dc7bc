// The updater's JSON reader against QJsonDocument::fromJson on the same 10 MB of valid JSON (an array of objects
// with escaped strings, integers, negative numbers, doubles, booleans, nulls and nested arrays). Prints the best of
// several turns of each and their ratio; below 1 the reader is faster. Build in Release.

#include "json.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int kTargetSize = 10 * 1024 * 1024;
constexpr int kRuns = 9;

QByteArray sampleJson()
{
    std::mt19937 generator(7);
    auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(generator); };
    const char* const words[] = {"route",
                                 "track",
                                 "Größe",
                                 "note \\\"quoted\\\"",
                                 "line\\nbreak",
                                 "tab\\there",
                                 "path\\/to\\\\file",
                                 "\\u00e9t\\u00e9",
                                 "plain text",
                                 "ünïcödé ✓"};

    QByteArray json = "[\n";
    int entry = 0;
    while (json.size() < kTargetSize) {
        if (entry++)
            json += ",\n";
        json += "  {\"id\": " + QByteArray::number(entry);
        json +=
            ", \"name\": \"" + QByteArray(words[uniform(0, 9)]) + ' ' + QByteArray::number(uniform(0, 99999)) + "\"";
        json += ", \"offset\": " + QByteArray::number(uniform(-1000000, 1000000));
        json += ", \"lat\": " + QByteArray::number(uniform(-90000000, 90000000) / 1e6, 'f', 6);
        json += ", \"lng\": " + QByteArray::number(uniform(-180000000, 180000000) / 1e6, 'f', 6);
        json += ", \"ratio\": " + QByteArray::number(uniform(1, 100000) / 7.0, 'g', 17);
        json += ", \"active\": " + QByteArray(uniform(0, 1) ? "true" : "false");
        json += ", \"parent\": null";
        json += ", \"tags\": [";
        const int tags = uniform(0, 4);
        for (int i = 0; i < tags; ++i)
            json += (i ? ", \"" : "\"") + QByteArray(words[uniform(0, 9)]) + "\"";
        json += "], \"points\": [";
        const int points = uniform(1, 6);
        for (int i = 0; i < points; ++i)
            json += (i ? ", " : "") + QByteArray::number(uniform(0, 5000));
        json += "]}";
    }
    json += "\n]\n";
    return json;
}

int entryCount(const QVariant& value)
{
    return value.toList().size();
}
int entryCount(const QJsonArray& value)
{
    return value.size();
}

// One timed run; the value it made is freed after the clock stops, and its
// size is added up so that the work cannot be optimised away.
template <typename Work> double milliseconds(Work work, qint64& checksum)
{
    QElapsedTimer timer;
    timer.start();
    const auto value = work();
    const double elapsed = timer.nsecsElapsed() / 1e6;
    checksum += entryCount(value);
    return elapsed;
}

} // namespace

int main()
{
    const QByteArray bytes = sampleJson();
    const QString text = QString::fromUtf8(bytes);

    // Both must read the whole text, and agree on its size.
    bool success = false;
    const QVariant check = QtJson::Json::parse(text, success);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!success || error.error != QJsonParseError::NoError || check.toList().size() != document.array().size()) {
        std::fprintf(stderr, "bench_json: the sample did not parse alike\n");
        return 1;
    }

    // The three take turns, so that a busy moment of the machine or the state
    // of the heap left by one of them does not favour another.
    const auto parseText = [&] {
        bool ok = false;
        return QtJson::Json::parse(text, ok);
    };
    const auto decodeAndParse = [&] {
        bool ok = false;
        return QtJson::Json::parse(QString::fromUtf8(bytes), ok);
    };
    const auto baseline = [&] { return QJsonDocument::fromJson(bytes).array(); };

    qint64 checksum = 0;
    double reader = 1e300;
    double readerFromBytes = 1e300;
    double qt = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        reader = std::min(reader, milliseconds(parseText, checksum));
        readerFromBytes = std::min(readerFromBytes, milliseconds(decodeAndParse, checksum));
        qt = std::min(qt, milliseconds(baseline, checksum));
    }

    const double megabytes = bytes.size() / (1024.0 * 1024.0);
    std::printf("bench_json: %.1f MB, %d entries, best of %d runs\n", megabytes, check.toList().size(), kRuns);
    std::printf("  QtJson::Json::parse (QString)             %8.1f ms  %7.1f MB/s\n", reader, megabytes / reader * 1e3);
    std::printf("  QtJson::Json::parse (UTF-8 decode + parse) %7.1f ms  %7.1f MB/s\n", readerFromBytes,
                megabytes / readerFromBytes * 1e3);
    std::printf("  QJsonDocument::fromJson (baseline)        %8.1f ms  %7.1f MB/s\n", qt, megabytes / qt * 1e3);
    std::printf("  time ratio reader / QJsonDocument: %.2f (with decoding %.2f); below 1 is faster\n", reader / qt,
                readerFromBytes / qt);
    return checksum > 0 ? 0 : 1;
}
