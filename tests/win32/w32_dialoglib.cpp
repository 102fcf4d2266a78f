// The sample dialog library (examples/samples/dialoglib) carries the five
// setup dialog templates under the program's names, with the same controls
// (ids and classes) but its own captions, so a setup that uses it shows
// dialogs that work the same and can be told apart.
#include <gtest/gtest.h>

#include "w32_helpers.h"
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

struct TDialogShape {
    bool Created = false;
    std::string Caption;
    std::map<int, std::string> Controls;  // id -> lower-case class name (id -1 left out)
    std::string Labels;                   // texts of the id -1 statics
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto* shape = reinterpret_cast<TDialogShape*>(param);
    char cls[64] = {}, text[512] = {};
    GetClassNameA(child, cls, sizeof(cls));
    GetWindowTextA(child, text, sizeof(text));
    int id = GetDlgCtrlID(child);
    std::string name = cls;
    for (auto& c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (id == -1 || id == 0xFFFF)
        shape->Labels += std::string(text) + "\n";
    else
        shape->Controls[id] = name;
    return TRUE;
}

// Creates the dialog hidden (a copy of its template without WS_VISIBLE: a
// visible window would make the test wait for the display at each hide) and
// records its caption and controls.
TDialogShape Shape(HMODULE module, const char* name)
{
    TDialogShape shape;
    HRSRC resource = FindResourceA(module, name, MAKEINTRESOURCEA(5));
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return shape;
    std::vector<DWORD> copy((SizeofResource(module, resource) + 3) / 4);
    memcpy(copy.data(), data, SizeofResource(module, resource));
    const WORD* words = reinterpret_cast<const WORD*>(copy.data());
    bool extended = words[0] == 1 && words[1] == 0xFFFF;
    copy[extended ? 3 : 0] &= ~static_cast<DWORD>(WS_VISIBLE);
    HWND dialog = CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()), nullptr,
                                             QuietProc, 0);
    if (!dialog)
        return shape;
    shape.Created = true;
    char caption[256] = {};
    GetWindowTextA(dialog, caption, sizeof(caption));
    shape.Caption = caption;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&shape));
    DestroyWindow(dialog);
    return shape;
}

}  // namespace

TEST(DialogLibrary, SameControlsOtherCaptions)
{
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    std::string path = SamplePath("dialoglib", "DialogLib.dll");
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, library) << path;
    const char* names[] = {"DLG_PASSWORD", "DLG_PROGRESS", "DLG_NOTIFY", "DLG_CONFIRM", "DLG_LICENSE"};
    for (const char* name : names) {
        TDialogShape own = Shape(GetModuleHandleA(nullptr), name);
        TDialogShape sample = Shape(library, name);
        ASSERT_TRUE(own.Created) << name;
        ASSERT_TRUE(sample.Created) << name;
        EXPECT_GE(own.Controls.size(), 3u) << name;
        EXPECT_EQ(own.Controls, sample.Controls) << name;
        EXPECT_NE(own.Caption, sample.Caption) << name;
        EXPECT_EQ(0u, sample.Caption.find("Sample ")) << name << ": " << sample.Caption;
        EXPECT_NE(std::string::npos, sample.Labels.find("Sample dialog library")) << name;
    }
    FreeLibrary(library);
}
