#pragma once

#include "platform/settings_store.h"

#include <QStringList>

// Settings.inf in the program's folder where this process may write there (a
// build tree, a portable copy), for reading and writing. Else, as for a
// program installed under /usr, a save writes the user's own file in
// "sondrel-ping" of the user's configuration folder: xdgConfigHome where it is
// an absolute path, else home + "/.config"; with neither, the program's folder
// after all. The load then reads the first of these that exists: the user's
// file, the one beside the program, "sondrel-ping/Settings.inf" in each
// absolute folder of the colon-separated xdgConfigDirs (empty: /etc/xdg).
// Make it after the capabilities are dropped: root's override must not count.
class LinuxSettingsStore final : public SettingsStore {
public:
    LinuxSettingsStore(const QString& programFolder, const QString& xdgConfigHome,
                       const QString& home, const QString& xdgConfigDirs = {});

    QString readPath() const override;
    QString writePath() const override { return readOrder_.front(); }
    uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                      const char* defaultValue, char* buffer, uint32_t size,
                                      const char* file) override;
    QString replace(const QString& path, QByteArrayView content) override;

private:
    QStringList readOrder_;  // the file a save writes first
};
