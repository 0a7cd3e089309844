#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Conversions between the program's texts and the locale's character
// encoding, which every text handed to the system is in (host names, the
// settings file).

// Nothing when a character has no encoding in the locale's character set.
std::optional<QByteArray> encodeLocale(QStringView text);

// Bytes that are invalid in the locale's encoding become U+FFFD.
QString decodeLocale(QByteArrayView bytes);
