// The helpers the parts of ovUtils share; not for use outside install/ovUtils*.cpp.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ovutils_detail {

// Calls a Win32 "get folder" function with a buffer that grows until the
// result fits.
template <typename F>
std::string GetSystemText(F call)
{
    std::string buffer(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        UINT n = call(&buffer[0], static_cast<UINT>(buffer.size()));
        if (n == 0)
            return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(n + 1);
    }
    return std::string();
}

// The folder part of a path, up to its last backslash and without it.
std::string FolderPart(const std::string& path);
std::string CurrentFolder();
bool PathExists(const std::string& path);
// The text of a file as lines; an empty list when the file is missing.
std::vector<std::string> LoadLines(const std::string& fileName);
// The lines, each ended by CR LF, as the whole file.
void SaveLines(const std::vector<std::string>& lines, const std::string& fileName);
// The first free "ov~NNNNN" name of the folder that is not in `taken`.
std::string FreeTempName(const std::string& folder, const std::string& extension,
                         const std::vector<std::string>* taken);

}  // namespace ovutils_detail
