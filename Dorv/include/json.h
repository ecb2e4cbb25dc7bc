#ifndef JSON_H
#define JSON_H

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace QtJson {

// A lenient JSON reader and writer over Qt variants. The reader skips stray
// commas and ignores text after the first value; the writer produces the
// spaced layout that the rest of the updater expects ("[ 1, 2 ]").
// Stateless: every operation is static and safe to call from any thread.
class Json
{
public:
    // Token kinds of the scanner.
    enum Token {
        JsonTokenNone = 0,
        JsonTokenCurlyOpen = 1,
        JsonTokenCurlyClose = 2,
        JsonTokenSquaredOpen = 3,
        JsonTokenSquaredClose = 4,
        JsonTokenColon = 5,
        JsonTokenComma = 6,
        JsonTokenString = 7,
        JsonTokenNumber = 8,
        JsonTokenTrue = 9,
        JsonTokenFalse = 10,
        JsonTokenNull = 11
    };

    // Objects and arrays nested deeper than this fail instead of exhausting
    // the stack: every level is one level of recursion.
    static const int MaxDepth = 1000;

    static QVariant parse(const QString& json);
    static QVariant parse(const QString& json, bool& success);
    // The same as parse(QString::fromUtf8(utf8), success), read from the bytes without a UTF-16 copy: the text
    // ends at the first zero byte, and bytes that are no UTF-8 read as replacement characters.
    static QVariant parse(const QByteArray& utf8, bool& success);
    static QByteArray serialize(const QVariant& data);
    static QByteArray serialize(const QVariant& data, bool& success);
};

} // namespace QtJson

#endif
