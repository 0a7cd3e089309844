#pragma once

#include <QByteArray>
#include <QStringView>

// A host text as the lookup takes it: in the locale's encoding. A text that
// the encoding cannot hold gives the empty name, which never resolves, so that
// no substitute characters are ever sent to the resolver.
QByteArray hostNameBytes(QStringView text);
