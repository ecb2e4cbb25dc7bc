#include "util/ghtimetext.h"

namespace {

const int SECONDS_PER_DAY = 86400;
// "yyyy-MM-ddThh:mm:ssZ"
const int TEXT_LENGTH = 20;

// Days from 1970-01-01 to the civil date (proleptic Gregorian), without any time-zone rules: a count of eras of 400
// years with the year starting in March, so that the leap day is the last day of a year.
qint64 daysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return qint64(era) * 146097 + dayOfEra - 719468;
}

void civilFromDays(qint64 days, int& year, int& month, int& day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const int dayOfEra = int(days - era * 146097);
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = int(yearOfEra + era * 400) + (month <= 2 ? 1 : 0);
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// The decimal number of count digits at text[at], or -1 when one of them is not an ASCII digit.
int digitsAt(const QChar* text, int at, int count)
{
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        const ushort c = text[i].unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

void putDigits(QChar* text, int at, int count, int value)
{
    for (int i = at + count - 1; i >= at; --i) {
        text[i] = QChar(ushort('0' + value % 10));
        value /= 10;
    }
}

} // namespace

QString tm_i2s(quint32 seconds)
{
    int year = 0, month = 0, day = 0;
    civilFromDays(seconds / SECONDS_PER_DAY, year, month, day);
    const int secondOfDay = int(seconds % SECONDS_PER_DAY);
    QString text(QStringLiteral("0000-00-00T00:00:00Z"));
    QChar* chars = text.data();
    putDigits(chars, 0, 4, year);
    putDigits(chars, 5, 2, month);
    putDigits(chars, 8, 2, day);
    putDigits(chars, 11, 2, secondOfDay / 3600);
    putDigits(chars, 14, 2, secondOfDay / 60 % 60);
    putDigits(chars, 17, 2, secondOfDay % 60);
    return text;
}

quint32 tm_s2i(const QString& text)
{
    if (text.size() != TEXT_LENGTH)
        return 0;
    const QChar* chars = text.constData();
    if (chars[4] != QLatin1Char('-') || chars[7] != QLatin1Char('-') || chars[10] != QLatin1Char('T') ||
        chars[13] != QLatin1Char(':') || chars[16] != QLatin1Char(':') || chars[19] != QLatin1Char('Z'))
        return 0;
    const int year = digitsAt(chars, 0, 4);
    const int month = digitsAt(chars, 5, 2);
    const int day = digitsAt(chars, 8, 2);
    const int hour = digitsAt(chars, 11, 2);
    const int minute = digitsAt(chars, 14, 2);
    const int second = digitsAt(chars, 17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return 0;
    const qint64 seconds = daysFromCivil(year, month, day) * SECONDS_PER_DAY + hour * 3600 + minute * 60 + second;
    return seconds <= qint64(0xFFFFFFFFu) ? quint32(seconds) : 0;
}
