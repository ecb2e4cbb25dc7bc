#ifndef GHGPX1_H
#define GHGPX1_H

#include "util/ghgpxexportable.h"
#include "util/ghgpximportable.h"

#include <QVector>

class GHGpxExtLogPoint;
class GHGpxExtTraining;
class GHGpxMetadata;
class GHGpxRoute;
class GHGpxTrack;
class GHGpxTrackSegment;
class GHGpxWayPoint;

// A GPX document with the standard parts and the first-generation training log, filled by the reader through
// GHGpxImportable or by device code that hangs records in directly. The document owns every part it holds, also
// the ones device code puts in. Values stay the texts of the file; GHGpxWriter writes them back as they are.
class GHGpx1 : public GHGpxImportable, public GHGpxExportable
{
public:
    GHGpx1();

    void setVersion(int version) override;
    void startMetadata() override;
    void onMetadata(QMap<QString, QString>& values) override;
    void onMetadataExtensions(QMap<QString, QString>& values) override;
    void startRoute() override;
    void onRoute(QMap<QString, QString>& values) override;
    void onRoutePoint(QMap<QString, QString>& values) override;
    void startTrack() override;
    void startTrackSegment() override;
    void onTrackSegment(QMap<QString, QString>& values) override;
    void onTrackPoint(QMap<QString, QString>& values) override;
    void onWayPoint(QMap<QString, QString>& values) override;
    void startTraining() override;
    // The second-generation parts are ignored here; GHGpx2 keeps them.
    void startSensorLog() override;
    void startLogSegment() override;
    void onLogPoint(QMap<QString, QString>& values) override;
    void startWorkoutLog() override;
    void onWorkoutLog(QMap<QString, QString>& values) override;
    void onInterval(QMap<QString, QString>& values) override;
    void startLaps() override;
    void onLap(QMap<QString, QString>& values) override;
    void onSummary(QMap<QString, QString>& values) override;

    virtual ~GHGpx1();

    // Each part only when the document has it; the extensions element always.
    void writeMeta(QXmlStreamWriter& writer) override;
    void writeRte(QXmlStreamWriter& writer) override;
    void writeTrk(QXmlStreamWriter& writer) override;
    void writeWpt(QXmlStreamWriter& writer) override;
    void writeExtensions(QXmlStreamWriter& writer) override;
    // The extensions inside metadata, and those of one segment (none here); GHGpx2 writes its own.
    virtual void writeMetaExtensions(QXmlStreamWriter& writer);
    virtual void writeTrksegExtensions(QXmlStreamWriter& writer, GHGpxTrackSegment* segment);
    // The first-generation training log, inside extensions.
    void writeTraining(QXmlStreamWriter& writer);

    // Each null until its start call or until device code sets it; a start call replaces (and deletes) the old one.
    GHGpxMetadata* metadata;
    GHGpxRoute* route;
    GHGpxTrack* track;
    QVector<GHGpxWayPoint*> waypoints; // in file order, owned
    GHGpxExtTraining* training;
    int version; // of the file being imported: 1 or 2; 0 for a document that device code fills

protected:
    // One logpt: the training log's (generation 1) carries pdm and cps, the sensor log's (generation 2) pwr.
    static void writeLogPoint(QXmlStreamWriter& writer, const GHGpxExtLogPoint& point, int generation);
    // The place texts of the metadata extensions, which both generations write alike.
    void writeMetaPlaces(QXmlStreamWriter& writer);
    // What both generations read alike: the ride texts of the metadata extensions, and a log point's sensor values
    // (a new point, owned by the caller).
    static void readRideTexts(GHGpxMetadata* metadata, const QMap<QString, QString>& values);
    static GHGpxExtLogPoint* readLogPoint(const QMap<QString, QString>& values);

private:
    Q_DISABLE_COPY(GHGpx1)
};

#endif
