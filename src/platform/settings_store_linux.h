#pragma once

#include "platform/settings_store.h"

#include <string>
#include <string_view>
#include <vector>

// Settings.inf in the program's folder where this process may write there and
// the program is not installed (a build tree, a portable copy), for reading
// and writing. Else a save writes the user's own file in "sondrel-ping" of the
// user's configuration folder: xdgConfigHome where it is an absolute path,
// else home + "/.config"; with neither, a copy's folder after all, and no file
// for an installed one. The load then reads the first of these that exists:
// the user's file, the one beside a copy, "sondrel-ping/Settings.inf" in each
// absolute folder of the colon-separated xdgConfigDirs (empty: /etc/xdg), and
// for an installed program the same in its prefix's etc/xdg (/etc/xdg for
// /usr). Installed: in a folder of the system's (under /usr or /opt, /bin,
// /sbin), or where the prefix, the folder above the program's, holds its
// desktop entry, share/applications/sondrel-ping.desktop.
// Paths are bytes, as the system has them; the form sees them decoded in the
// locale's encoding, and the paths it hands back that read as the store's
// own go to the system as their bytes. Make it after the capabilities are
// dropped: root's override must not count.
class LinuxSettingsStore final : public SettingsStore {
public:
    LinuxSettingsStore(const std::string& programFolder, std::string_view xdgConfigHome,
                       std::string_view home, std::string_view xdgConfigDirs = {});
    std::u16string readPath() const override;
    std::u16string writePath() const override;
    uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                      const char* defaultValue, char* buffer, uint32_t size,
                                      const char* file) override;
    std::u16string replace(const std::u16string& path, std::string_view content) override;

private:
    std::string readBytes() const;

    std::string writePath_;  // empty: nowhere
    std::vector<std::string> readOrder_;
};
