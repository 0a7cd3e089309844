#include "platform/settings_folder.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

#include <unistd.h>

SettingsFolder chooseSettingsFolder(const QString& programFolder, const QString& xdgConfigHome,
                                    const QString& home) {
    if (access(QFile::encodeName(programFolder).constData(), W_OK) == 0) {
        return {programFolder};
    }
    // Relative values are to be ignored, as the XDG base directory rules say.
    const QString config = QDir::isAbsolutePath(xdgConfigHome) ? xdgConfigHome
                           : QDir::isAbsolutePath(home)        ? home + QStringLiteral("/.config")
                                                               : QString();
    if (config.isEmpty()) {
        return {programFolder};
    }
    return {config + QStringLiteral("/sondrel-ping"), true};
}

QString makeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
    return error ? QString::fromLocal8Bit(error.message()) : QString();
}
