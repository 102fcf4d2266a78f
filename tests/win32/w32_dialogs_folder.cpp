// The folder browser and special folder paths: caption, centring, the start
// at the desktop, OK and Cancel.
#include "w32_dialogs_driver.h"

#include <shlobj.h>

#include "sxFolderDlg.h"

namespace {

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string WindowText(HWND window)
{
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

// Whether a child window shows exactly this text (the instruction line).
bool HasChildText(HWND dialog, const std::string& text)
{
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (WindowText(c) == text)
            return true;
    return false;
}

}  // namespace

// File-system folders give their path; a virtual folder and an unknown id give "".
TEST(SpecialFolder, Paths)
{
    std::string desktop = GetSpecialFolderPath(CSIDL_DESKTOP);
    EXPECT_FALSE(desktop.empty());
    EXPECT_TRUE(IsFolder(desktop)) << desktop;

    char windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(windows, sizeof(windows));
    EXPECT_EQ(0, lstrcmpiA(windows, GetSpecialFolderPath(CSIDL_WINDOWS).c_str()));

    EXPECT_EQ("", GetSpecialFolderPath(CSIDL_DRIVES));  // "My Computer": no path
    EXPECT_EQ("", GetSpecialFolderPath(0x7E));          // no such folder
}

// Cancel leaves Folder as it was; the caption and the instruction text are
// shown and the browser is centred on the screen.
TEST(BrowseForFolder, CancelKeepsFolder)
{
    std::string folder = "C:\\keep\\this";
    RECT shown = {};
    bool instructionShown = false;
    TDialogScript script("Choose Folder", {[&](HWND d) {
        GetWindowRect(d, &shown);
        instructionShown = HasChildText(d, "Where shall the product go?");
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        return true;
    }});
    EXPECT_FALSE(BrowseForFolder(nullptr, "Choose Folder", "Where shall the product go?", "OK", "Cancel", folder));
    ASSERT_TRUE(script.Finished());
    EXPECT_EQ("C:\\keep\\this", folder);
    EXPECT_TRUE(instructionShown);
    int w = shown.right - shown.left, h = shown.bottom - shown.top;
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - w) / 2, shown.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - h) / 2, shown.top);
}

// A folder selected in the tree comes back on OK.
TEST(BrowseForFolder, SelectedFolderReturned)
{
    char windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(windows, sizeof(windows));
    std::string folder;
    TDialogScript script("Target", {
        [&](HWND d) { SendMessageA(d, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(windows)); return true; },
        [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); return true; },
    });
    EXPECT_TRUE(BrowseForFolder(nullptr, "Target", "Pick", "OK", "Cancel", folder));
    EXPECT_EQ(0, lstrcmpiA(windows, folder.c_str())) << folder;
}

// The browser starts at the desktop whatever Folder holds; an empty caption
// keeps the system's own title.
TEST(BrowseForFolder, StartsAtDesktopWithSystemTitle)
{
    std::string folder = "C:\\windows";
    std::string title;
    TDialogScript script("", {[&](HWND d) {
        title = WindowText(d);
        PostMessageA(d, WM_COMMAND, IDOK, 0);
        return true;
    }});
    EXPECT_TRUE(BrowseForFolder(nullptr, "", "Pick", "OK", "Cancel", folder));
    EXPECT_FALSE(title.empty());
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_DESKTOP), folder);
}
