// The system's folder browser with a caller-set caption, and the path of a
// special shell folder.
#pragma once

#include <windows.h>

#include <string>

// What the browser's callback needs for one showing.
struct TBrowseDlgInit {
    HWND Owner;               // owner of the browser; null for none
    std::string Caption;      // window title to set; empty keeps the system's title
    std::string Title;        // instruction text above the tree
    std::string OKText;       // kept, not applied: the browser keeps the system's labels
    std::string CancelText;   // kept, not applied
};

// Shows the folder browser modally, starting at the desktop (Folder is not
// read), centred over Owner or the screen. Returns true and stores the path in
// Folder when the user chose a file-system folder; returns false and leaves
// Folder unchanged on Cancel.
bool BrowseForFolder(HWND owner, const std::string& caption, const std::string& title, const std::string& okText,
                     const std::string& cancelText, std::string& folder);

// The file-system path of the shell's special folder folderId (a CSIDL value;
// 0 is the desktop), or "" when it cannot be found or has no file-system path.
std::string GetSpecialFolderPath(int folderId);
