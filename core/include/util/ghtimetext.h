#ifndef GHTIMETEXT_H
#define GHTIMETEXT_H

#include <QString>

// Times of the ride logs and GPX files as texts "yyyy-MM-ddThh:mm:ssZ", always UTC: the computer's time zone never
// enters either direction.

// The text of Unix seconds.
QString tm_i2s(quint32 seconds);

// The Unix seconds of a text in exactly that form; 0 for an empty or malformed text, an impossible date or time, or
// a time outside the 32-bit unsigned range (before 1970 or after 2106-02-07T06:28:15Z).
quint32 tm_s2i(const QString& text);

#endif
