#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The profile-file reader: copies the value of key in [section] of file, or
// defaultValue where the file, the section or the key is missing, into
// buffer: at most size - 1 bytes and a NUL. Returns the bytes copied, the NUL
// not counted.
//
// Texts are bytes in the locale's encoding. Section and key names compare
// without regard to case, blanks around them ignored; the first matching
// section and key win. A value is everything after the first "=", kept as it
// stands. Lines end with CR LF, LF or CR; lines starting with ";" are
// comments. Only regular files are read, and only their first MiB.
uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const char* file);

// What the reader finds in a file's content: the value as it stands (pointing
// into content), or nothing where the section or the key is missing.
std::optional<std::string_view> findProfileValue(std::string_view content, std::string_view section,
                                                 std::string_view key);
