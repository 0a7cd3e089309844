#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The settings file service: where the file is read and written, the
// profile-file reader, and the writer of a whole file.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Full path of the file the load reads.
    virtual std::u16string readPath() const = 0;
    // Full path of the file a save writes.
    virtual std::u16string writePath() const = 0;

    // Copies the value of key in [section] of file, or defaultValue where the
    // file, the section or the key is missing, into buffer: at most size - 1
    // bytes and a NUL. Returns the bytes copied, the NUL not counted. Texts
    // are bytes in the locale's encoding; the reading rules are the system's
    // profile reader's, findProfileValue's where it has none.
    virtual uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                              const char* defaultValue, char* buffer, uint32_t size,
                                              const char* file) = 0;

    // Writes content as the whole file at path, its missing folders made
    // first, so that a failure at any point leaves the earlier file as it
    // was. Returns the empty text, or why not.
    virtual std::u16string replace(const std::u16string& path, std::string_view content) = 0;
};
