#pragma once

#include <QByteArrayView>
#include <QString>

// Writes a whole file anew: into a temporary file in the same folder, synced,
// then renamed over the old one, so that a failure or a crash at any point
// leaves the earlier file as it was. Returns the empty text, or why not.
QString replaceFile(const QString& path, QByteArrayView content);
