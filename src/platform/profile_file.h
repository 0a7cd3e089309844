#pragma once

#include <optional>
#include <string_view>

// The profile-file reader's rules, on a file's content in the locale's
// encoding. Section and key names compare without regard to case, blanks
// around them ignored; the first matching section and key win. A value is
// everything after the first "=", kept as it stands. Lines end with CR LF,
// LF or CR; lines starting with ";" are comments; a UTF-8 byte-order mark is
// skipped. Returns the value (pointing into content), or nothing where the
// section or the key is missing.
std::optional<std::string_view> findProfileValue(std::string_view content, std::string_view section,
                                                 std::string_view key);
