#ifndef JXCLIENTDATA_H
#define JXCLIENTDATA_H

#include <QDateTime>
#include <QImage>
#include <QMetaType>
#include <QString>

// Arguments of the share-data and batch actions, handed back with their completion signals.
struct JXClientShareData
{
    QString path;   // the file the action writes
    QString param1; // carried unchanged to the completion signal
    QString param2; // carried unchanged to the completion signal
};

// Arguments of the share-data list action, handed back with its completion signal.
struct JXClientShareDataList
{
    QString path; // the file that receives the web collection document
    QString param1;
    QString param2;
};

// Arguments of the component action.
struct JXClientCompUpdateInfo
{
    QString model;
    QString version;
    QString component;
    QString packageFile;

    // Leaves four null texts.
    void clear()
    {
        if (!model.isNull())
            model = QString();
        if (!version.isNull())
            version = QString();
        if (!component.isNull())
            component = QString();
        if (!packageFile.isNull())
            packageFile = QString();
    }
};

// One POI, route, track or workout as a driver lists it.
struct JXClientData
{
    qint32 id = 0;
    QString name;
    QImage namePicture;
    QString desc;
    QString extraText;
    qint32 latitude = 0;
    qint32 longitude = 0;
    QString category;
    QString place;
    qint32 activityType = 0;
    QDateTime startTime;
    QDateTime endTime;
    QDateTime extraTime1;
    qint32 distance = 0;
    QDateTime extraTime2;
    QString startPlace;
    QString endPlace;
    qint32 dataKind = 0; // 0 POI, 1 route, 2 track, 3 workout
    qint32 wrkType = 0;
    qint32 subType = 0;
    quint32 itemId = 0;
    bool uploaded = false;
};

Q_DECLARE_METATYPE(JXClientShareData)
Q_DECLARE_METATYPE(JXClientShareDataList)

#endif
