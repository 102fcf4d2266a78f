// The dialog-object layer and the dialog templates: message routing, the base
// command rule, captions, centring, OnShown, missing templates, and every
// template's controls (ids, classes, texts, rectangles, styles, font, icons)
// as the dialog manager creates them.
#include "w32_dialogs_driver.h"

#include <commctrl.h>

#include <stdexcept>

#include "sxDialogObj.h"
#include "sxResIDs.h"

namespace {

// A dialog object that keeps the base behaviour and records its commands.
class TProbeDlg : public TSEDialog {
public:
    using TSEDialog::TSEDialog;
    std::vector<WPARAM> Commands;
    std::vector<UINT> EarlyMessages;  // messages seen before InitDialog
    bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        Commands.push_back(wParam);
        return TSEDialog::DoCommand(message, wParam, lParam);
    }
    bool DoMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (!Handle)
            EarlyMessages.push_back(message);
        return TSEDialog::DoMessage(message, wParam, lParam);
    }
};

bool StillOpen(HWND dialog)
{
    return IsWindow(dialog) && IsWindowVisible(dialog);
}

// Maps a control rectangle as the dialog manager does: position and size
// separately (so right = left + mapped width).
RECT ToPixels(HWND dialog, int x, int y, int w, int h)
{
    RECT pos = {x, y, w, h};
    MapDialogRect(dialog, &pos);
    return {pos.left, pos.top, pos.left + pos.right, pos.top + pos.bottom};
}

RECT ChildRect(HWND dialog, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

}  // namespace

// The base closes on WParam 2..8 only; OK (1) and 9 are left open, and a
// non-zero notification code never closes, even with the low word 2.
TEST(DialogObj, BaseClosesOnlyOnWholeCommandTwoToEight)
{
    for (WPARAM closing : {2u, 3u, 8u}) {  // both ends of the range and one inside
        SCOPED_TRACE(closing);
        TProbeDlg dialog(nullptr, SX_DLG_NOTIFY);
        bool openAfterIgnored = false;
        TDialogScript script("Message", {
            [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); return true; },
            [](HWND d) { PostMessageA(d, WM_COMMAND, 9, 0); return true; },
            [](HWND d) { PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS), 0); return true; },
            [=](HWND d) { PostMessageA(d, WM_COMMAND, MAKEWPARAM(closing == 2 ? 3 : 2, 1), 0); return true; },
            [&, closing](HWND d) { openAfterIgnored = StillOpen(d); PostMessageA(d, WM_COMMAND, closing, 0); return true; },
        });
        EXPECT_FALSE(dialog.Execute());
        EXPECT_FALSE(script.TimedOut());
        EXPECT_TRUE(script.Finished());
        EXPECT_TRUE(openAfterIgnored);
        ASSERT_EQ(5u, dialog.Commands.size());
        EXPECT_EQ(closing, dialog.Commands.back());
        EXPECT_FALSE(dialog.IsShowing());
    }
}

// An empty Caption keeps the template's title; a Caption replaces it.
TEST(DialogObj, CaptionReplacesTitleOnlyWhenSet)
{
    {
        TProbeDlg dialog(nullptr, SX_DLG_CONFIRM);
        TDialogScript script("Cofirmation", {[](HWND d) { PostMessageA(d, WM_COMMAND, IDNO, 0); return true; }});
        dialog.Execute();
        EXPECT_TRUE(script.SawDialog());
        EXPECT_FALSE(script.TimedOut());
    }
    {
        TProbeDlg dialog(nullptr, SX_DLG_CONFIRM);
        dialog.Caption = "Acme Setup";
        TDialogScript script("Acme Setup", {[](HWND d) { PostMessageA(d, WM_COMMAND, IDNO, 0); return true; }});
        dialog.Execute();
        EXPECT_TRUE(script.SawDialog());
        EXPECT_FALSE(script.TimedOut());
    }
}

// OnShown runs once, after the dialog is visible and in the foreground,
// inside the modal loop; messages before WM_INITDIALOG never reach DoMessage.
TEST(DialogObj, OnShownRunsOnceWhenVisible)
{
    TProbeDlg dialog(nullptr, SX_DLG_NOTIFY);
    int calls = 0;
    bool visible = false, handleSet = false;
    dialog.OnShown = [&](TDialogObj& shown) {
        ++calls;
        visible = IsWindowVisible(shown.Handle) != FALSE;
        handleSet = &shown == &dialog && shown.Handle != nullptr;
        // Hiding and showing again posts the notice again; the work must not rerun.
        ShowWindow(shown.Handle, SW_HIDE);
        ShowWindow(shown.Handle, SW_SHOW);
    };
    TDialogScript script("Message", {
        [](HWND d) { return true; },  // one tick for the repeated notice to arrive
        [](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); return true; },
    });
    dialog.Execute();
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(visible);
    EXPECT_TRUE(handleSet);
    EXPECT_TRUE(dialog.EarlyMessages.empty());
}

// The dialog is centred on the screen when it has no owner.
TEST(DialogObj, CentredOnScreenWithoutOwner)
{
    TProbeDlg dialog(nullptr, SX_DLG_LICENSE);
    RECT shown = {};
    TDialogScript script("License Agreement", {[&](HWND d) {
        GetWindowRect(d, &shown);
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        return true;
    }});
    dialog.Execute();
    ASSERT_TRUE(script.SawDialog());
    int w = shown.right - shown.left, h = shown.bottom - shown.top;
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - w) / 2, shown.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - h) / 2, shown.top);
}

// No template name, a template the module lacks, or a second showing: false,
// nothing shown.
TEST(DialogObj, MissingTemplateReturnsFalse)
{
    TProbeDlg unnamed(nullptr, "");
    unnamed.Result = true;
    EXPECT_FALSE(unnamed.Execute());

    TProbeDlg missing(nullptr, "DLG_NO_SUCH_TEMPLATE");
    EXPECT_FALSE(missing.Execute());
    EXPECT_FALSE(missing.IsShowing());

    // A replacement module without the templates: the dialog cannot be created.
    HMODULE own = DialogModule;
    DialogModule = GetModuleHandleA("kernel32.dll");
    TProbeDlg elsewhere(nullptr, SX_DLG_NOTIFY);
    EXPECT_FALSE(elsewhere.Execute());
    DialogModule = own;
    EXPECT_EQ(GetModuleHandleA(nullptr), DialogModule);

    TProbeDlg twice(nullptr, SX_DLG_NOTIFY);
    {
        TDialogScript script("Message", {[](HWND d) { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); return true; }});
        twice.Result = true;
        EXPECT_TRUE(twice.Execute());
    }
    EXPECT_FALSE(twice.Execute());
}

// Templates and their icons come from DialogModule, also when it is a
// resource library loaded as a data file (a product's own dialog library).
TEST(DialogObj, TemplatesFromDataFileModule)
{
    char path[MAX_PATH + 1] = {};
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
    HMODULE library = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, library);
    HMODULE own = DialogModule;
    DialogModule = library;
    bool iconLoaded = false;
    {
        TProbeDlg dialog(nullptr, SX_DLG_CONFIRM);
        TDialogScript script("Cofirmation", {[&](HWND d) {
            iconLoaded = SendDlgItemMessageA(d, SXID_ICON, STM_GETICON, 0, 0) != 0;
            PostMessageA(d, WM_COMMAND, IDNO, 0);
            return true;
        }});
        dialog.Execute();
        EXPECT_TRUE(script.Finished());
    }
    DialogModule = own;
    FreeLibrary(library);
    EXPECT_TRUE(iconLoaded);
}

// An exception raised by OnShown ends the dialog and reaches Execute's caller.
TEST(DialogObj, ExceptionInOnShownReachesCaller)
{
    TProbeDlg dialog(nullptr, SX_DLG_NOTIFY);
    HWND shown = nullptr;
    dialog.OnShown = [&](TDialogObj& d) {
        shown = d.Handle;
        throw std::runtime_error("disk full");
    };
    try {
        dialog.Execute();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("disk full", e.what());
    }
    EXPECT_FALSE(IsWindow(shown));
}

// ---------------------------------------------------------------- templates

namespace {

struct ControlRow {
    int Id;
    const char* Class;
    const char* Text;
    int X, Y, W, H;
    DWORD Style;   // bits that must be set
    DWORD Absent;  // bits that must be clear
};

struct TemplateRow {
    const char* Name;
    const char* Title;
    int W, H;
    DWORD Style;
    DWORD Absent;
    std::vector<ControlRow> Controls;
};

const char kLicenseQuestion[] =
    "Do you accept all of the terms of the preceding License Agreement? If you choose No, Setup will close. "
    "To continue you must accept this agreement.";

const DWORD kFrame = DS_MODALFRAME | WS_CAPTION | WS_VISIBLE | WS_POPUP;

std::vector<TemplateRow> Templates()
{
    return {
        {SX_DLG_PASSWORD, "Decrypting Files", 220, 75, kFrame | WS_SYSMENU | DS_SYSMODAL, 0,
         {{10, "Static", "", 33, 11, 180, 10, 0, 0},
          {11, "Edit", "", 33, 25, 180, 12, ES_PASSWORD | WS_TABSTOP, ES_AUTOHSCROLL | ES_MULTILINE},
          {12, "Static", "", 33, 41, 180, 10, 0, 0},
          {13, "Static", "", 6, 11, 18, 20, SS_ICON, 0},
          {1, "Button", "OK", 109, 54, 50, 14, BS_DEFPUSHBUTTON, 0},
          {2, "Button", "Cancel", 163, 54, 50, 14, 0, BS_DEFPUSHBUTTON}}},
        {SX_DLG_PROGRESS, "Progress", 228, 67, kFrame | WS_SYSMENU, 0,
         {{10, "Static", "Text", 33, 9, 168, 27, 0, 0},
          {13, "Static", "", 7, 9, 18, 20, SS_ICON, 0},
          {104, PROGRESS_CLASSA, "", 11, 45, 154, 8, 0, 0},
          {2, "Button", "Cancel", 173, 45, 45, 14, 0, BS_DEFPUSHBUTTON}}},
        {SX_DLG_NOTIFY, "Message", 203, 66, kFrame | WS_SYSMENU, 0,
         {{1, "Button", "OK", 143, 46, 50, 14, BS_DEFPUSHBUTTON, 0},
          {10, "Static", "Text", 36, 8, 160, 35, 0, 0},
          {13, "Static", "", 9, 8, 20, 20, SS_ICON, 0}}},
        {SX_DLG_CONFIRM, "Cofirmation", 233, 66, kFrame | WS_SYSMENU, 0,
         {{6, "Button", "Yes", 121, 46, 50, 14, BS_DEFPUSHBUTTON, 0},
          {7, "Button", "No", 176, 46, 50, 14, 0, BS_DEFPUSHBUTTON},
          {10, "Static", "Text", 37, 10, 191, 35, 0, 0},
          {13, "Static", "", 7, 10, 18, 20, SS_ICON, 0}}},
        {SX_DLG_LICENSE, "License Agreement", 277, 272, kFrame, WS_SYSMENU,
         {{10, "Edit", "", 6, 6, 264, 222, ES_MULTILINE | ES_READONLY | WS_VSCROLL, 0},
          {0xFFFF, "Static", kLicenseQuestion, 8, 233, 260, 18, 0, 0},
          {6, "Button", "&Yes", 163, 255, 50, 14, 0, BS_DEFPUSHBUTTON},
          {7, "Button", "&No", 220, 255, 50, 14, 0, BS_DEFPUSHBUTTON}}},
    };
}

// Checks the shown template against its table; returns nothing, records failures.
void CheckTemplate(HWND d, const TemplateRow& row)
{
    char title[128] = {};
    GetWindowTextA(d, title, sizeof(title));
    EXPECT_STREQ(row.Title, title);

    DWORD style = GetWindowLongA(d, GWL_STYLE);
    EXPECT_EQ(row.Style, style & row.Style) << std::hex << style;
    EXPECT_EQ(0u, style & row.Absent) << std::hex << style;

    RECT client;
    GetClientRect(d, &client);
    RECT size = ToPixels(d, 0, 0, row.W, row.H);
    EXPECT_EQ(size.right, client.right);
    EXPECT_EQ(size.bottom, client.bottom);

    HFONT font = reinterpret_cast<HFONT>(SendMessageA(d, WM_GETFONT, 0, 0));
    LOGFONTA lf = {};
    ASSERT_NE(0, GetObjectA(font, sizeof(lf), &lf));
    EXPECT_STREQ("MS Sans Serif", lf.lfFaceName);
    HDC dc = GetDC(d);
    EXPECT_EQ(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), lf.lfHeight);
    ReleaseDC(d, dc);

    int children = 0;
    for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(static_cast<int>(row.Controls.size()), children);

    for (size_t i = 0; i < row.Controls.size(); ++i) {
        const ControlRow& c = row.Controls[i];
        SCOPED_TRACE(testing::Message() << "control row " << i << " id " << c.Id);
        HWND item = GetDlgItem(d, c.Id);
        ASSERT_NE(nullptr, item);
        const bool icon = !lstrcmpiA(c.Class, "Static") && (c.Style & SS_TYPEMASK) == SS_ICON;
        EXPECT_EQ(0, lstrcmpiA(c.Class, ClassOf(item).c_str())) << ClassOf(item);
        if (!icon) {
            EXPECT_EQ(std::string(c.Text), person::Text(d, c.Id));
        }
        RECT want = ToPixels(d, c.X, c.Y, c.W, c.H);
        RECT got = ChildRect(d, item);
        EXPECT_EQ(want.left, got.left);
        EXPECT_EQ(want.top, got.top);
        if (!icon) {  // an icon control takes the icon's size
            EXPECT_EQ(want.right, got.right);
            EXPECT_EQ(want.bottom, got.bottom);
        }
        DWORD s = GetWindowLongA(item, GWL_STYLE);
        EXPECT_EQ(c.Style | WS_CHILD | WS_VISIBLE, s & (c.Style | WS_CHILD | WS_VISIBLE)) << std::hex << s;
        if (icon) {
            EXPECT_EQ(static_cast<DWORD>(SS_ICON), s & SS_TYPEMASK);
            EXPECT_NE(0, SendMessageA(item, STM_GETICON, 0, 0)) << "icon not loaded";
        } else if (c.Absent) {
            EXPECT_EQ(0u, s & c.Absent) << std::hex << s;
        }
        if (!lstrcmpiA(c.Class, "Edit")) {
            // A bordered edit: the border or its 3D form, as the dialog manager chooses.
            DWORD ex = GetWindowLongA(item, GWL_EXSTYLE);
            EXPECT_TRUE((s & WS_BORDER) || (ex & WS_EX_CLIENTEDGE)) << std::hex << s << " " << ex;
        }
    }
}

}  // namespace

// Every template: title, style, size, font and each control as the table
// gives it (rectangles compared through MapDialogRect).
TEST(DialogTemplates, MatchTheirTables)
{
    for (const TemplateRow& row : Templates()) {
        SCOPED_TRACE(row.Name);
        TProbeDlg dialog(nullptr, row.Name);
        TDialogScript script(row.Title, {[&](HWND d) {
            CheckTemplate(d, row);
            EndDialog(d, 0);
            return true;
        }});
        dialog.Execute();
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(script.TimedOut());
    }
}

// The icon groups the program carries, each with a 32x32 and a 16x16 image.
TEST(DialogTemplates, IconGroupsPresent)
{
    for (const char* name : {SX_ICON_MAIN, SX_ICON_PASSWORD, SX_ICON_INET_SETUP, SX_ICON_ITEM, SX_ICON_PACK}) {
        SCOPED_TRACE(name);
        EXPECT_NE(nullptr, FindResourceA(nullptr, name, reinterpret_cast<LPCSTR>(RT_GROUP_ICON)));
        for (int size : {32, 16}) {
            HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, size, size, 0));
            ASSERT_NE(nullptr, icon) << size;
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP bm = {};
            GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
            EXPECT_EQ(size, bm.bmWidth);
            if (info.hbmColor)
                DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}
