// The updater's JSON reader against QJsonDocument on the same 10 MB of valid JSON (an array of objects with escaped
// strings, integers, negative numbers, doubles, booleans, nulls and nested arrays). Build in Release.
//
// Each side starts from the same raw UTF-8 bytes and ends with its result freed, all on the clock:
// - reader: what the update-query client does, QtJson::Json::parse of the bytes (up to the first zero byte);
// - reader via UTF-16, the client's former way and the baseline of the byte entry: the bytes become text (up to the
//   first zero byte, from UTF-8), then QtJson::Json::parse of the text;
// - peer: QJsonDocument::fromJson, then toVariant(). The update-query client needs a tree of QVariantMap,
//   QVariantList, QString and numbers, and toVariant() is what makes that tree of a document;
// - reference, no peer: QJsonDocument::fromJson alone. Its compact document is not the tree the client needs, but it
//   shows the cost of reading JSON without making one.
// Every run is a process of its own (this program run again with --child), so that no side inherits the heap of
// another, and the sides take turns. Prints the median time of each, the peak memory of a run of each, and the ratio
// reader / peer: below 1 the reader is faster.

#include "json.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QTemporaryFile>
#include <QVariant>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kTargetSize = 10 * 1024 * 1024;
constexpr int kRuns = 21;

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

// Each side reads the bytes into its tree and lets it go; the entry count keeps the work from being optimised away.
int readerSide(const QByteArray& bytes)
{
    bool success = false;
    const QVariant value = QtJson::Json::parse(bytes, success);
    return success ? value.toList().size() : -1;
}

int utf16ReaderSide(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    const QString text = QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end);
    bool success = false;
    const QVariant value = QtJson::Json::parse(text, success);
    return success ? value.toList().size() : -1;
}

int peerSide(const QByteArray& bytes)
{
    const QVariant value = QJsonDocument::fromJson(bytes).toVariant();
    return value.toList().size();
}

int documentOnly(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    return document.array().size();
}

struct Side
{
    const char* name;
    const char* label;
    int (*work)(const QByteArray&);
};

const Side kSides[] = {{"reader", "QtJson::Json (parse bytes + free)", readerSide},
                       {"utf16", "before: QtJson::Json (decode + parse + free)", utf16ReaderSide},
                       {"peer", "QJsonDocument (fromJson + toVariant + free)", peerSide},
                       {"document", "reference: QJsonDocument::fromJson + free", documentOnly}};

const Side* sideNamed(const char* name)
{
    for (const Side& side : kSides) {
        if (std::strcmp(side.name, name) == 0)
            return &side;
    }
    return nullptr;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A field of /proc/self/status in kB, or -1.
long statusKilobytes(const char* field)
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// Child mode: runs one side on the sample in a file and prints what was asked for.
// "time": two untimed runs bring the heap to this side's steady state (glibc merges freed chunks only on a later
// allocation, so the timed run pays for what the previous run of the same side left, not another side), then
// prints the milliseconds of one run.
// "peak": one run on a fresh heap; prints the resident size before it and the peak of the process, in kB.
int childMain(const char* mode, const Side& side, const char* path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    file.close();

    int entries = 0;
    if (std::strcmp(mode, "time") == 0) {
        entries = std::min(side.work(bytes), side.work(bytes));
        QElapsedTimer timer;
        timer.start();
        entries = std::min(entries, side.work(bytes));
        std::printf("%.3f\n", timer.nsecsElapsed() / 1e6);
    } else {
        const long before = statusKilobytes("VmRSS");
        entries = side.work(bytes);
        std::printf("%ld %ld\n", before, statusKilobytes("VmHWM"));
    }
    return entries > 0 ? 0 : 1;
}

// Runs this program again in a child mode and returns what it printed; empty when it failed.
std::string runChild(const char* mode, const Side& side, const QString& samplePath)
{
    char executable[4096];
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0)
        return std::string();
    executable[length] = '\0';
    const QByteArray path = samplePath.toLocal8Bit();

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return std::string();
    const pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return std::string();
    }
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl(executable, executable, "--child", mode, side.name, path.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, size_t(got));
    close(pipeEnds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::string();
    return output;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        const Side* side = sideNamed(argv[3]);
        return side ? childMain(argv[2], *side, argv[4]) : 2;
    }

    const QByteArray bytes = sampleJson();

    // Both must read the whole text, and agree on its size.
    const int entries = readerSide(bytes);
    if (entries <= 0 || entries != utf16ReaderSide(bytes) || entries != peerSide(bytes) ||
        entries != documentOnly(bytes)) {
        std::fprintf(stderr, "bench_json: the sample did not parse alike\n");
        return 1;
    }

    QTemporaryFile sample;
    if (!sample.open() || sample.write(bytes) != bytes.size() || !sample.flush()) {
        std::fprintf(stderr, "bench_json: cannot write the sample for the child processes\n");
        return 1;
    }
    sample.close();

    // Every run is a process of its own, so that no side inherits the heap of another. The sides take turns, each
    // round in the other order, so that a busy moment of the machine favours none of them.
    const int sideCount = int(sizeof kSides / sizeof kSides[0]);
    std::vector<std::vector<double>> times(sideCount);
    for (int run = 0; run < kRuns; ++run) {
        for (int step = 0; step < sideCount; ++step) {
            const int side = run % 2 ? sideCount - 1 - step : step;
            const std::string output = runChild("time", kSides[side], sample.fileName());
            double milliseconds = 0;
            if (std::sscanf(output.c_str(), "%lf", &milliseconds) != 1) {
                std::fprintf(stderr, "bench_json: a timed run of %s failed\n", kSides[side].name);
                return 1;
            }
            times[side].push_back(milliseconds);
        }
    }

    const double megabytes = bytes.size() / (1024.0 * 1024.0);
    std::printf("bench_json: %.1f MB of UTF-8, %d entries, median of %d alternating runs\n", megabytes, entries, kRuns);
    std::printf("  %-46s %9s %9s %11s %13s\n", "", "ms", "MB/s", "peak MiB", "above input");
    std::vector<double> medians(sideCount);
    for (int side = 0; side < sideCount; ++side) {
        medians[side] = median(times[side]);
        long before = 0;
        long peak = 0;
        const std::string output = runChild("peak", kSides[side], sample.fileName());
        if (std::sscanf(output.c_str(), "%ld %ld", &before, &peak) != 2 || before <= 0 || peak <= 0) {
            std::fprintf(stderr, "bench_json: the memory run of %s failed\n", kSides[side].name);
            return 1;
        }
        std::printf("  %-46s %9.1f %9.1f %11.1f %13.1f\n", kSides[side].label, medians[side],
                    megabytes / medians[side] * 1e3, peak / 1024.0, (peak - before) / 1024.0);
    }
    std::printf("  time ratio reader / peer: %.2f (below 1 the reader is faster); reader / reference: %.2f; "
                "reader / before: %.2f\n",
                medians[0] / medians[2], medians[0] / medians[3], medians[0] / medians[1]);
    return 0;
}
