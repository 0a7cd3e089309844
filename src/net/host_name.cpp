#include "net/host_name.h"

#include "platform/locale_codec.h"

QByteArray hostNameBytes(QStringView text) {
    return encodeLocale(text).value_or(QByteArray());
}
