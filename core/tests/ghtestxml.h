#ifndef GHTESTXML_H
#define GHTESTXML_H

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTextCodec>
#include <QtTest>

namespace GHTestXml {

inline bool available()
{
    return QFileInfo::exists(QStringLiteral("/usr/bin/xmllint"));
}

// Empty when xmllint finds the file well-formed, else its complaint (or why it did not run).
inline QString lint(const QString& path)
{
    QProcess xmllint;
    xmllint.start(QStringLiteral("/usr/bin/xmllint"), {QStringLiteral("--noout"), path});
    if (!xmllint.waitForFinished(30000))
        return QStringLiteral("xmllint did not run: ") + xmllint.errorString();
    if (xmllint.exitStatus() != QProcess::NormalExit || xmllint.exitCode() != 0)
        return QString::fromLocal8Bit(xmllint.readAllStandardError());
    return QString();
}

// An XML file of line-feed ends in UTF-8 as another tool would save it: its line ends as lineEnd, and for "UTF-16LE"
// or "UTF-16BE" with a byte-order mark and its declaration naming UTF-16.
inline QByteArray savedAs(QByteArray utf8, const QByteArray& lineEnd, const QByteArray& encoding)
{
    utf8.replace("\n", lineEnd);
    if (encoding == "UTF-8")
        return utf8;
    utf8.replace("encoding=\"UTF-8\"", "encoding=\"UTF-16\"");
    // Qt writes the byte-order mark of the named byte order.
    const QByteArray saved = QTextCodec::codecForName(encoding)->fromUnicode(QString::fromUtf8(utf8));
    if (!saved.startsWith(encoding == "UTF-16LE" ? "\xFF\xFE" : "\xFE\xFF"))
        qFatal("no byte-order mark in the %s fixture", encoding.constData());
    return saved;
}

// The columns "lineEnd" and "encoding" with the ways of saving an XML file that savedAs makes.
inline void addSavedAsRows()
{
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<QByteArray>("encoding");

    QTest::newRow("CR LF") << QByteArray("\r\n") << QByteArray("UTF-8");
    QTest::newRow("lone CR") << QByteArray("\r") << QByteArray("UTF-8");
    QTest::newRow("UTF-16LE") << QByteArray("\n") << QByteArray("UTF-16LE");
    QTest::newRow("UTF-16BE") << QByteArray("\n") << QByteArray("UTF-16BE");
    QTest::newRow("UTF-16LE, CR LF") << QByteArray("\r\n") << QByteArray("UTF-16LE");
    QTest::newRow("UTF-16BE, lone CR") << QByteArray("\r") << QByteArray("UTF-16BE");
}

// The content saved another way, as savedAs makes it, reads like the content itself, and the content as expected.
// write(bytes) gives the path of a file with those bytes (empty when it cannot); readFile(path, &calls) reads one
// file and records what its reader reports. Every file must be well-formed to xmllint, where it is installed.
template<typename Write, typename Read>
void compareWithTwin(const QByteArray& content, const QByteArray& lineEnd, const QByteArray& encoding,
                     const QStringList& expected, Write write, Read readFile)
{
    const auto callsOf = [&](const QByteArray& bytes, QStringList* calls) {
        const QString path = write(bytes);
        QVERIFY(!path.isEmpty());
        if (available())
            QVERIFY2(lint(path).isEmpty(), qPrintable(lint(path)));
        readFile(path, calls);
    };

    QStringList twin;
    callsOf(content, &twin);
    QCOMPARE(twin, expected);
    const QByteArray saved = savedAs(content, lineEnd, encoding);
    QStringList calls;
    callsOf(saved, &calls);
    QCOMPARE(calls, twin);
}

} // namespace GHTestXml

#endif
