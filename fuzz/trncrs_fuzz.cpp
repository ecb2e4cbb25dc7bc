// libFuzzer target for training-course files: the reader's calls to a receiver, then the course document written
// and read back.
//
// Input: the file's bytes. The receiver checks that the calls nest as the format does (a workout holds intervals,
// an interval a target and a duration) and that each map holds only the keys of its element. An accepted file is
// read into a course, which is written; that file must be read again. The first round may still change a value (a
// carriage return does not survive XML's line-end handling, an empty name drops its short name), so from the second
// round on the bytes must stay the same.

#include "training/ghtrncrs.h"
#include "training/ghtrnimportable.h"
#include "training/ghtrnreader.h"
#include "training/ghtrnwriter.h"

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

bool keysAllowed(const QMap<QString, QString>& values, const QStringList& prefixes, const QStringList& keys)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        bool known = keys.contains(it.key());
        for (const QString& prefix : prefixes)
            known = known || it.key().startsWith(prefix);
        if (!known)
            return false;
    }
    return true;
}

class NestingChecker : public GHTrnImportable
{
public:
    QString open; // one letter per element being read: M, W, I, T, D

    void startMetadata() override { push('M', ""); }
    void onMetadata(QMap<QString, QString>& values) override
    {
        pop('M');
        require(keysAllowed(values, {"sys_"},
                            {"name", "name_shtname", "desc", "author", "author_shtname", "time", "sys"}),
                "a foreign key in the metadata");
    }
    void startWorkout() override { push('W', ""); }
    void onWorkout(QMap<QString, QString>& values) override
    {
        pop('W');
        require(keysAllowed(values, {"wrk_", "route_"},
                            {"acttype", "desc", "name", "name_shtname", "time", "route"}),
                "a foreign key in a workout");
    }
    void startInterval() override { push('I', "W"); }
    void onInterval(QMap<QString, QString>& values) override
    {
        pop('I');
        require(keysAllowed(values, {"itv_", "goto_"}, {"name", "logreso", "goto"}), "a foreign key in an interval");
    }
    void startTarget() override { push('T', "WI"); }
    void onTarget(QMap<QString, QString>& values) override
    {
        pop('T');
        require(keysAllowed(values, {"target_"}, {}), "a foreign key in a target");
    }
    void startDuration() override { push('D', "WI"); }
    void onDuration(QMap<QString, QString>& values) override
    {
        pop('D');
        require(keysAllowed(values, {"duration_", "segidx_", "location_"}, {}), "a foreign key in a duration");
    }

private:
    void push(char element, const char* inside)
    {
        require(open == QLatin1String(inside), "an element starts outside its parent");
        open += QLatin1Char(element);
    }
    void pop(char element)
    {
        require(open.endsWith(QLatin1Char(element)), "an element ends that is not open");
        open.chop(1);
    }
};

bool writeCourse(GHTrncrs& course, const QString& path)
{
    return GHTrnWriter(QStringLiteral("1.0"), &course).writeFile(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXFuzz::silenceMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString root = JXFuzz::scratchRoot("trncrs");
    const QString input = root + QStringLiteral("/input.xml");
    require(JXFuzz::writeFile(input, QByteArray(reinterpret_cast<const char*>(data), int(size))),
            "cannot write the input");

    NestingChecker checker;
    const bool accepted = GHTrnReader(&checker).readFile(input);
    require(!accepted || checker.open.isEmpty(), "an accepted file leaves an element open");
    if (!accepted)
        return 0;

    GHTrncrs course;
    require(GHTrnReader(&course).readFile(input), "the course does not read what the receiver read");
    const QString first = root + QStringLiteral("/first.xml");
    require(writeCourse(course, first), "the course cannot be written");

    GHTrncrs back;
    require(GHTrnReader(&back).readFile(first), "a written course does not read back");
    const QString second = root + QStringLiteral("/second.xml");
    require(writeCourse(back, second), "a course read back cannot be written");

    GHTrncrs again;
    require(GHTrnReader(&again).readFile(second), "a course written twice does not read back");
    const QString third = root + QStringLiteral("/third.xml");
    require(writeCourse(again, third), "a course read back twice cannot be written");
    require(JXFuzz::readFile(second) == JXFuzz::readFile(third), "a course read back writes other bytes");
    return 0;
}
