#pragma once

#include "platform/settings_store.h"

// Settings.inf in the program's folder where this process may write there (a
// build tree, a portable copy). Else, as for a program installed under /usr,
// in "sondrel-ping" of the user's configuration folder: xdgConfigHome where it
// is an absolute path, else home + "/.config"; with neither, the program's
// folder after all. Make it after the capabilities are dropped: root's
// override must not count.
class LinuxSettingsStore final : public SettingsStore {
public:
    LinuxSettingsStore(const QString& programFolder, const QString& xdgConfigHome,
                       const QString& home);

    QString readPath() const override { return path_; }
    QString writePath() const override { return path_; }
    uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                      const char* defaultValue, char* buffer, uint32_t size,
                                      const char* file) override;
    QString replace(const QString& path, QByteArrayView content) override;

private:
    QString path_;
};
