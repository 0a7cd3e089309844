#pragma once

#include <QString>

#include <string_view>

// The form's texts as the toolkit's.
inline QString qtText(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}
