#include "device/jxclient.h"

#include <QDomDocument>
#include <QFile>
#include <QSaveFile>

#include "jxenv.h"
#include "jxlog.h"
#include "webdata/jxwebcollectiondata.h"

// The documents a client writes for the updater: the share-data list, the batch overview and the language list.

namespace {

void appendText(QDomDocument& doc, QDomElement& parent, const QString& tag, const QString& text)
{
    parent.firstChildElement(tag).appendChild(doc.createTextNode(JXWebCollectionData::xmlText(text)));
}

void appendDocumentFile(QDomDocument& doc, QDomElement& parent, const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return;
    QDomDocument part;
    QString error;
    int line = 0;
    int column = 0;
    if (!part.setContent(&file, &error, &line, &column)) {
        JX_WARNING << "overview part left out:" << path << "does not parse:" << error << "at line" << line << "column"
                   << column;
        return;
    }
    parent.appendChild(doc.importNode(part.documentElement(), true));
}

bool writeWholeFile(const QString& path, const QByteArray& content)
{
    // Written beside the target and renamed into place, so a failed write leaves no half document.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        JX_WARNING << "cannot write" << path << ":" << file.errorString();
        return false;
    }
    file.write(content);
    if (!file.commit()) {
        JX_WARNING << "failed to write" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool JXClient::_getShareDataList()
{
    JXFunctionTrace trace("_getShareDataList");
    QVector<JXClientData> pois;
    QVector<JXClientData> routes;
    QVector<JXClientData> tracks;
    QVector<JXClientData> workouts;
    setTaskProgress(0.05f);
    getPOIs(pois);
    setTaskProgress(0.1f);
    getRoutes(routes);
    setTaskProgress(0.4f);
    getTracks(tracks);
    setTaskProgress(0.5f);
    getWorkouts(workouts);
    setTaskProgress(0.7f);

    JXWebCollectionData collection;
    collection.setPOIs(pois);
    collection.setRoutes(routes);
    collection.setTracks(tracks);
    collection.setWorkouts(workouts);
    setTaskProgress(0.9f);

    // No stale list may stand in for one that could not be written.
    QFile::remove(m_shareDataList.path);
    return collection.write(m_shareDataList.path);
}

bool JXClient::_batch()
{
    const JXClientShareData shareData = m_shareData;
    const QString tmpFolder = JXEnv::getInstance()->getTmpFolder();
    const QString profilePath = tmpFolder + QLatin1String("/profile.xml");
    const QString languagesPath = tmpFolder + QLatin1String("/langs.xml");
    const QString dataListPath = tmpFolder + QLatin1String("/datalist.xml");
    // A part whose file is not produced now must not be taken from an earlier batch.
    QFile::remove(profilePath);
    QFile::remove(languagesPath);
    QFile::remove(dataListPath);

    QDomDocument doc;
    QDomElement root = doc.createElement(QStringLiteral("Overview"));
    doc.appendChild(root);
    QDomElement device = doc.createElement(QStringLiteral("Device"));
    for (const char* field :
         {"model", "uuid", "version_launch", "version_image", "version_ap", "capacity_total", "capacity_used", "state"})
        device.appendChild(doc.createElement(QLatin1String(field)));
    QDomElement components = doc.createElement(QStringLiteral("Components"));

    const QList<ClientAction> parts = m_batchActions;
    for (ClientAction part : parts) {
        switch (part) {
        case Action_GetShareDataList:
            m_shareDataList = JXClientShareDataList{dataListPath, QString(), QString()};
            _getShareDataList();
            appendDocumentFile(doc, root, dataListPath);
            break;
        case Action_BatchDevice: {
            // A device append moves the one element; its texts are added again.
            root.appendChild(device);
            QString model;
            QString uuid;
            QString launch;
            QString image;
            QString ap;
            qint64 total = 0;
            qint64 free = 0;
            getName(model);
            getUUID(uuid);
            getLaunchsec(launch);
            getTotal(image);
            getAP(ap);
            getInternalStorage(total, free);
            appendText(doc, device, QStringLiteral("model"), model);
            appendText(doc, device, QStringLiteral("uuid"), uuid);
            appendText(doc, device, QStringLiteral("version_launch"), launch);
            appendText(doc, device, QStringLiteral("version_image"), image);
            appendText(doc, device, QStringLiteral("version_ap"), ap);
            appendText(doc, device, QStringLiteral("capacity_total"), QString::number(total));
            // Wraps instead of overflowing on whatever figures a broken device reports.
            appendText(doc, device, QStringLiteral("capacity_used"),
                       QString::number(qint64(quint64(total) - quint64(free))));
            appendText(doc, device, QStringLiteral("state"), QStringLiteral("READY"));
            break;
        }
        case Action_BatchComponents:
            root.appendChild(components);
            for (const char* name : {"CYCLEROAD", "GPST_ENGINE"}) {
                const QString component = QLatin1String(name);
                ComponentStringToXmlNode(doc, components, component, GetComponentVersion(component));
            }
            break;
        case Action_BatchProfile:
            prepareUploadProfile(profilePath);
            appendDocumentFile(doc, root, profilePath);
            break;
        case Action_BatchLanguages:
            LanguageListXml(languagesPath);
            appendDocumentFile(doc, root, languagesPath);
            break;
        default: break;
        }
    }

    const bool written = writeWholeFile(shareData.path, doc.toByteArray(4));
    m_shareData = shareData;
    return written;
}

void ComponentStringToXmlNode(QDomDocument& doc, QDomElement& parent, QString name, QString components)
{
    const QStringList items = components.split(QLatin1Char('|'));
    for (const QString& item : items) {
        const QStringList pieces = item.split(QLatin1Char('^'));
        if (pieces.size() != 2)
            continue;
        QDomElement element = doc.createElement(QStringLiteral("item"));
        const QString texts[] = {name, pieces.at(0), pieces.at(1)};
        const char* tags[] = {"name", "drive", "version"};
        for (int i = 0; i < 3; ++i) {
            QDomElement child = doc.createElement(QLatin1String(tags[i]));
            child.appendChild(doc.createTextNode(JXWebCollectionData::xmlText(texts[i])));
            element.appendChild(child);
        }
        parent.appendChild(element);
    }
}

bool JXClient::LanguageListXml(QString path)
{
    JXFunctionTrace trace("LanguageListXml");
    QFile::remove(path);
    QStringList codes;
    getLanguageOnDevice(codes); // a device without languages still gets an empty list
    QByteArray content("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Language>\n");
    for (const QString& code : qAsConst(codes))
        content += "<lang>" + JXWebCollectionData::xmlText(code).toHtmlEscaped().toUtf8() + "</lang>\n";
    content += "</Language>";
    return writeWholeFile(path, content);
}
