// Times the second-generation route import (JXPSFDevice::setShareDataGPX: read, elevation checks, densification,
// room check and the records) against a baseline in the same process that only reads the same file with the
// data-model GPX reader (GHGpx2 + GHGpxReader). The client runs over the simulated flash device with an empty
// layout-A image; making the client is not timed.
//
// The tracks step 30 m up and down between neighbours, so every pair becomes four steps of 7.5 m:
//   100,000 and 200,000 points in one segment: four times that many points do not fit the track table (about
//       108,000 points), so the import densifies until the room is spent and refuses the route; the figure is what
//       a refusal costs;
//   12,500 and 25,000 points in segments of 10,000: they fit (50,000 and 100,000 stored points), so the figure
//       covers the whole import with its records.
// Goals: import within 3x of the baseline; the larger track of each pair at most 2.2x the time of the smaller.
//
//   bench_psfimport [RUNS]

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "benchsupport.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"
#include "util/ghgpx2.h"
#include "util/ghgpxreader.h"

namespace {

class BenchClient : public JXPSFDevice
{
public:
    int routes()
    {
        QVector<JXPSFRoute_1_5*> all;
        return m_psf && m_psf->getAllRoutes(all) ? all.size() : -1;
    }
};

JXMacSCSIService* rawFlashService()
{
    return JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
}

// A shared route of points alternating between 0 and 30 m, creeping east by ten millionths of a degree.
QByteArray trackFile(int points, int perSegment)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"2.2.0.3\">\n"
                      "<metadata><name>Bench</name><extensions><sharetype>1</sharetype></extensions></metadata>\n"
                      "<rte><rtept lat=\"47\" lon=\"8\"/><rtept lat=\"47\" lon=\"9\"/></rte>\n<trk><trkseg>\n";
    text.reserve(points * 80);
    for (int index = 0; index < points; ++index) {
        if (index > 0 && index % perSegment == 0)
            text += "</trkseg><trkseg>\n";
        text += "<trkpt lat=\"47.000000\" lon=\"" + QByteArray::number(8.0 + index * 0.00001, 'f', 6) + "\"><ele>" +
                (index % 2 ? "30.0" : "0.0") + "</ele></trkpt>\n";
    }
    return text + "</trkseg></trk>\n</gpx>\n";
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures
{
    double import = 0;
    double baseline = 0;
    int routes = 0;
};

bool measure(JXSimulatedFlashDevice& flash, const QByteArray& empty, const QString& path, int runs, Figures& out)
{
    std::vector<double> imports;
    std::vector<double> baselines;
    for (int run = 0; run < runs; ++run) {
        flash.setExternalFlash(empty);
        std::unique_ptr<BenchClient> client(new BenchClient);
        client->setDeviceService(rawFlashService());
        if (!client->initial())
            return false;
        auto start = std::chrono::steady_clock::now();
        client->setShareDataGPX(path);
        imports.push_back(millisecondsSince(start));
        out.routes = client->routes();

        start = std::chrono::steady_clock::now();
        {
            GHGpx2 document;
            GHGpxReader reader(&document);
            if (!reader.readFile(path))
                return false;
        }
        baselines.push_back(millisecondsSince(start));
    }
    out.import = median(imports);
    out.baseline = median(baselines);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    JXSimulatedFlashBed bed;
    if (!bed.setUp(QDir::tempPath() + QLatin1String("/psfimport.XXXXXX"), 0, JXSimulatedFlashBed::Defaults))
        return 1;
    JXSimulatedFlashDevice& flash = *bed.flash();
    const QByteArray empty = JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A);

    struct Case
    {
        int points;
        int perSegment;
    };
    const Case pairs[2][2] = {{{100000, 100000}, {200000, 200000}}, {{12500, 10000}, {25000, 10000}}};
    std::printf("route import against a plain GPX read of the same file, median of %d runs\n", runs);
    std::printf("goals: import <= 3x baseline; larger track <= 2.2x the smaller\n");
    bool met = true;
    for (const auto& pair : pairs) {
        Figures figures[2];
        for (int index = 0; index < 2; ++index) {
            const QString path = bed.folder()->path() + QStringLiteral("/track%1.gpx").arg(pair[index].points);
            if (!writeFile(path, trackFile(pair[index].points, pair[index].perSegment)) ||
                !measure(flash, empty, path, runs, figures[index]))
                return 1;
            const double ratio = figures[index].import / figures[index].baseline;
            met = met && ratio <= 3.0;
            std::printf("  %6d points: import %8.1f ms (%s)  baseline %8.1f ms  ratio %.2f\n", pair[index].points,
                        figures[index].import, figures[index].routes == 1 ? "stored" : "refused: no room",
                        figures[index].baseline, ratio);
        }
        const double growth = figures[1].import / figures[0].import;
        met = met && growth <= 2.2;
        std::printf("  %d -> %d points: import grows %.2fx (baseline %.2fx)\n", pair[0].points, pair[1].points, growth,
                    figures[1].baseline / figures[0].baseline);
    }
    bed.reset();
    std::printf("%s\n", met ? "goals met" : "goals NOT met");
    return 0;
}
