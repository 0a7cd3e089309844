#pragma once

#include "platform/settings_store.h"

#include <string>
#include <string_view>
#include <vector>

// Settings.inf in the program's folder where this process may write there
// and the file there, if any, is not read-only (a portable copy). Else (the
// program installed under Program Files, whose read-only Settings.inf holds
// the installation's defaults) a save writes the user's own file, appData +
// "\Sondrel Ping\Settings.inf", and the load reads the first of the two that
// exists, the user's first. The profile-file reader is the system's.
class WindowsSettingsStore final : public SettingsStore {
public:
    WindowsSettingsStore(const std::u16string& programFolder, const std::u16string& appData);
    // Where the ANSI code page cannot hold the path, its short (8.3) form,
    // which the reader takes in its place.
    std::u16string readPath() const override;
    std::u16string writePath() const override;
    uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                      const char* defaultValue, char* buffer, uint32_t size,
                                      const char* file) override;
    std::u16string replace(const std::u16string& path, std::string_view content) override;

private:
    std::vector<std::u16string> readOrder_;  // the file a save writes first
};
