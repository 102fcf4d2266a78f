// ovUninst.exe: removes a product that a setup installed, as its uninstall
// record lists it. Command lines, as the product's registration writes them:
//
//   ovUninst.exe "record.del"            asks first, reports at the end
//   ovUninst.exe /silent "record.del"    no user interface at all
//
// Exit codes: 0 removed, 1 no record file named or it cannot be read,
// 2 the user declined.
#include "UninstRecord.h"

#include "ovUtils.h"
#include "sxShell.h"
#include "sxUtils.h"

#include <windows.h>

#include <string>

namespace {

enum { ExitDone = 0, ExitNoRecord = 1, ExitDeclined = 2 };

const char* const Caption = "Uninstall";

// Every message of the uninstaller goes through here: none in silent mode.
// Texts are shown as they are (paths are not touched).
int Message(bool silent, const std::string& text, UINT type)
{
    if (silent)
        return type & MB_YESNO ? IDYES : IDOK;
    return MessageBoxA(nullptr, text.c_str(), Caption, type | MB_TASKMODAL | MB_SETFOREGROUND);
}

// The arguments after the program's own name.
std::string Arguments()
{
    const char* line = GetCommandLineA();
    if (!line)
        return std::string();
    const char* p = line;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && static_cast<unsigned char>(*p) > ' ')
            ++p;
    }
    return p;
}

// Leaves the folders that may be removed: a process's current folder cannot be.
void LeaveRemovedFolders()
{
    char folder[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        SetCurrentDirectoryA(folder);
}

int Run()
{
    bool silent = false;
    std::string recordFileName;
    if (!ParseUninstallCommandLine(Arguments(), silent, recordFileName)) {
        Message(silent, "Usage: ovUninst.exe [/silent] \"uninstall information file\"", MB_OK | MB_ICONERROR);
        return ExitNoRecord;
    }
    LeaveRemovedFolders();
    TUninstallRecord record;
    if (!ReadUninstallRecord(recordFileName, record)) {
        Message(silent, "Cannot read the uninstall information file:\r\n" + recordFileName, MB_OK | MB_ICONERROR);
        return ExitNoRecord;
    }
    std::string product = record.ProgramName.empty() ? std::string("this product") : record.ProgramName;
    if (Message(silent, "Do you want to remove " + product + " and all of its components?",
                MB_YESNO | MB_ICONQUESTION) != IDYES)
        return ExitDeclined;

    TRemovalResult result = RemoveRecordedItems(record, recordFileName);

    if (!record.AfterUninstall.empty())
        RunAndWait(record.AfterUninstall, record.AfterUninstallParamString, SW_SHOWNORMAL, false);

    std::string text = product + " was removed from your computer.";
    if (!result.Scheduled.empty())
        text += "\r\n\r\nSome files are in use. They will be removed when you restart your computer.";
    if (!result.Kept.empty())
        text += "\r\n\r\nSome items could not be removed; you may remove them yourself.";
    Message(silent, text, MB_OK | MB_ICONINFORMATION);
    return ExitDone;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Before anything can load a library: only the system folder is searched,
    // never the uninstaller's own folder or the current one.
    RestrictLibrarySearch();
    try {
        return Run();
    } catch (const std::exception&) {
        // A failure half way: what was removed stays removed.
        return ExitNoRecord;
    }
}
