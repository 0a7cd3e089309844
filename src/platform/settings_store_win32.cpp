#include "platform/settings_store_win32.h"

#include "platform/locale_codec.h"
#include "platform/system_text_win32.h"

#include <windows.h>

#include <filesystem>

namespace {

constexpr std::u16string_view kFileName = u"\\Settings.inf";
constexpr std::u16string_view kOwnFolder = u"\\Sondrel Ping";
// What a save keeps of the earlier file's attributes.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool exists(const std::u16string& path, DWORD& attributes) {
    attributes = GetFileAttributesW(wideText(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A new file beside target, with a name of its own.
HANDLE createTemporary(const std::u16string& target, DWORD flags, std::u16string& name) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    auto mark = static_cast<unsigned long long>(now.QuadPart) ^ GetCurrentProcessId();
    for (int attempt = 0; attempt < 100; ++attempt, mark = mark * 6364136223846793005ULL + 1) {
        name = target + u'.';
        for (const char digit : std::to_string(mark % 1000000007ULL)) {
            name += static_cast<char16_t>(digit);
        }
        const HANDLE file = CreateFileW(wideText(name), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | flags, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// A save could replace the file: a new file can be made beside it, and it
// is not read-only.
bool mayReplace(const std::u16string& file) {
    DWORD attributes = 0;
    if (exists(file, attributes) && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    std::u16string probe;
    const HANDLE handle = createTemporary(file, FILE_FLAG_DELETE_ON_CLOSE, probe);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

// Not std::filesystem::create_directories: its errors are the C library's,
// in English, where the user is told the system's, in the user's language.
DWORD makeFolders(const std::filesystem::path& folder) {
    if (!folder.has_relative_path() ||
        GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    if (const DWORD error = makeFolders(folder.parent_path()); error != 0) {
        return error;
    }
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS
               ? 0
               : GetLastError();
}

bool writeAll(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1 << 20));
        if (!WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        content.remove_prefix(written);
    }
    return true;
}

}  // namespace

WindowsSettingsStore::WindowsSettingsStore(const std::u16string& programFolder,
                                           const std::u16string& appData)
    : readOrder_{programFolder + std::u16string(kFileName)} {
    if (!appData.empty() && !mayReplace(readOrder_.front())) {
        readOrder_.insert(readOrder_.begin(),
                          appData + std::u16string(kOwnFolder) + std::u16string(kFileName));
    }
}

std::u16string WindowsSettingsStore::readPath() const {
    for (const std::u16string& path : readOrder_) {
        DWORD attributes = 0;
        if (!exists(path, attributes)) {
            continue;
        }
        if (encodeLocale(path)) {
            return path;
        }
        wchar_t shortPath[MAX_PATH] = {};
        const DWORD length = GetShortPathNameW(wideText(path), shortPath, MAX_PATH);
        return length > 0 && length < MAX_PATH ? programText({shortPath, length}) : path;
    }
    return writePath();
}

std::u16string WindowsSettingsStore::writePath() const {
    return readOrder_.front();
}

uint32_t WindowsSettingsStore::GetPrivateProfileStringA(const char* section, const char* key,
                                                        const char* defaultValue, char* buffer,
                                                        uint32_t size, const char* file) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file);
}

std::u16string WindowsSettingsStore::replace(const std::u16string& path, std::string_view content) {
    if (const DWORD error = makeFolders(std::filesystem::path(path).parent_path()); error != 0) {
        return systemMessage(error);
    }
    // The new file takes the earlier one's place, with its attributes; its
    // permissions are the folder's, as any new file's. A symbolic link is
    // replaced itself, never followed: ReplaceFileW, which would keep the
    // permissions, removes the link's target under Wine.
    DWORD attributes = 0;
    const DWORD kept = exists(path, attributes) ? attributes & kKeptAttributes : 0;
    std::u16string temporary;
    const HANDLE file = createTemporary(path, kept, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        return systemMessage(GetLastError());
    }
    bool written = writeAll(file, content) && FlushFileBuffers(file);
    DWORD error = written ? 0 : GetLastError();
    if (!CloseHandle(file) && written) {
        written = false;
        error = GetLastError();
    }
    if (written && !MoveFileExW(wideText(temporary), wideText(path),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        written = false;
        error = GetLastError();
    }
    if (!written) {
        DeleteFileW(wideText(temporary));
        return systemMessage(error);
    }
    return {};
}
