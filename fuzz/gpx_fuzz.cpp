// libFuzzer target for the GPX reader: a shared or device GPX file read into a document, which is then destroyed.
//
// Input: the file's bytes. The reader's version must be the one it gave the document. An accepted document is
// written and read again; the first round may still change a value (the metadata name is trimmed, XML normalises
// line ends, first-generation parts are not written), so from the second round on the bytes must stay the same.

#include "util/ghgpx2.h"
#include "util/ghgpxreader.h"
#include "util/ghgpxwriter.h"

#include <QCoreApplication>

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

QString s_input;
QString s_first;
QString s_second;
QString s_third;

bool writeDocument(GHGpx2& document, const QString& path)
{
    return GHGpxWriter(QStringLiteral("2.2.0.3"), &document).writeFile(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    const QString root = JXFuzz::scratchRoot("gpx");
    s_input = root + QLatin1String("/input.gpx");
    s_first = root + QLatin1String("/first.gpx");
    s_second = root + QLatin1String("/second.gpx");
    s_third = root + QLatin1String("/third.gpx");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    require(JXFuzz::writeFile(s_input, QByteArray(reinterpret_cast<const char*>(data), int(size))),
            "cannot write the input");

    auto* document = new GHGpx2;
    GHGpxReader reader(document);
    const bool accepted = reader.readFile(s_input);
    require(reader.version() == document->version, "the reader and the document disagree on the version");
    // An empty gpx of another maker is accepted without a version and has nothing to write.
    if (!accepted || document->version == 0) {
        delete document;
        return 0;
    }

    require(writeDocument(*document, s_first), "the document cannot be written");
    delete document;
    GHGpx2 back;
    require(GHGpxReader(&back).readFile(s_first), "a written document does not read back");
    require(writeDocument(back, s_second), "a document read back cannot be written");
    GHGpx2 again;
    require(GHGpxReader(&again).readFile(s_second), "a document written twice does not read back");
    require(writeDocument(again, s_third), "a document read back twice cannot be written");
    require(JXFuzz::readFile(s_second) == JXFuzz::readFile(s_third), "a document read back writes other bytes");
    return 0;
}
