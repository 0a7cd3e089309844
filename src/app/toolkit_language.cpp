#include "app/toolkit_language.h"

#include <QGuiApplication>
#include <QLibraryInfo>

ToolkitLanguage::ToolkitLanguage(const QLocale& locale) {
    if (translator_.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&translator_);
    }
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
}
