#include "ovUtils.h"

#include "ovPlatformSeam.h"
#include "ovUtilsShared.h"

#include <algorithm>

using namespace ovutils_detail;

namespace {

// -1 asks the system; 0 or 1 is a test's forced answer.
int NtPlatformAnswer = -1;

}  // namespace

void OverrideNtPlatform(int answer)
{
    NtPlatformAnswer = answer;
}

// ---- Locked-file replacement -------------------------------------------------------------

void DeleteOrRedirect(std::string& fileName, std::vector<std::string>* tempNames,
                      std::vector<std::string>* targetNames)
{
    if (!FileExists(fileName))
        return;
    SetFileAttributesA(fileName.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    if (DeleteFileA(fileName.c_str()))
        return;
    if (!tempNames || !targetNames)
        return;
    // The new content goes beside the locked file, so that the move at
    // restart stays on one volume.
    std::string folder = ExtractFilePath(fileName);
    if (folder.empty())
        folder = CurrentFolder();
    // A name handed out before whose file was never written is not free:
    // two pairs with one source would put one file's content on both targets.
    std::string tempName = FreeTempName(folder, ".tmp", tempNames);
    targetNames->push_back(fileName);
    fileName = tempName;
    tempNames->push_back(fileName);
}

void ScheduleReplacements(const std::vector<std::string>& tempNames, const std::vector<std::string>* targetNames)
{
    if (!IsNtPlatform()) {
        WriteWininitRenames(tempNames, targetNames);
        return;
    }
    if (targetNames) {
        size_t count = std::min(tempNames.size(), targetNames->size());
        for (size_t i = 0; i < count; ++i)
            MoveFileExA(tempNames[i].c_str(), (*targetNames)[i].c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
        for (const std::string& name : tempNames)
            MoveFileExA(name.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

bool IsNtPlatform()
{
    if (NtPlatformAnswer >= 0)
        return NtPlatformAnswer != 0;
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return false;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void WriteWininitRenames(const std::vector<std::string>& tempNames, const std::vector<std::string>* targetNames)
{
    WriteWininitRenamesTo(JoinPath(GetWindowsDir(), "WININIT.INI"), tempNames, targetNames);
}

void WriteWininitRenamesTo(const std::string& fileName, const std::vector<std::string>& tempNames,
                           const std::vector<std::string>* targetNames)
{
    std::vector<std::string> lines = LoadLines(fileName);
    // The header must be the whole line; without one, a new header goes first.
    size_t insertAt = 0;
    for (size_t i = 0; i < lines.size() && insertAt == 0; ++i)
        if (SameText(lines[i], "[rename]"))
            insertAt = i + 1;
    if (insertAt == 0) {
        lines.insert(lines.begin(), "[rename]");
        insertAt = 1;
    }
    size_t count = targetNames ? std::min(tempNames.size(), targetNames->size()) : tempNames.size();
    for (size_t i = 0; i < count; ++i) {
        std::string line = targetNames ? ShortPathOf((*targetNames)[i]) + "=" + ShortPathOf(tempNames[i])
                                       : "NUL=" + ShortPathOf(tempNames[i]);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
    }
    SaveLines(lines, fileName);
}
