#pragma once

#include <QByteArrayView>
#include <QIcon>

// The icon of an .ico file's 32-bit images, read here rather than through
// the toolkit's image plugin, which would cost a library and half a megabyte
// at every start. Images of other depths, and malformed ones, are passed over.
QIcon iconFromIco(QByteArrayView ico);
