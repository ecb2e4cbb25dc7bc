#ifndef JXGUARDEDDESCRIPTION_H
#define JXGUARDEDDESCRIPTION_H

#include <QtTest>

#include "device/jxfsdeviceservice.h"
#include "jxtestfiles.h"

// A description file that a device must not read: a link at its place to a file outside the volume, or a file
// larger than any description file.
namespace JXGuardedDescription {

// The rows of the test's data function; "link" chooses the link.
inline void addRows()
{
    QTest::addColumn<bool>("link");
    QTest::newRow("link to a file outside") << true;
    QTest::newRow("larger than the bound") << false;
}

// Puts at file, where nothing is, a link to outside holding contents, or contents padded past the bound. A failure
// fails the calling test, which checks QTest::currentTestFailed().
inline void place(const QString& file, const QString& outside, const QByteArray& contents, bool link)
{
    if (link) {
        JXTestFiles::writeFile(outside, contents);
        QVERIFY(QFile::link(outside, file));
    } else {
        JXTestFiles::writeFile(file, contents + QByteArray(int(JXFSDeviceService::kMaxDescriptionSize), '\n'));
    }
}

} // namespace JXGuardedDescription

#endif
