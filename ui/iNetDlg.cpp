#include "iNetDlg.h"

#include <cstring>

#include "sxHandles.h"
#include "sxResIDs.h"
#include "sxUtils.h"

namespace {

// The window property that marks this dialog and names its model.
const char kModelProperty[] = "SxLVDialogInfo";

// The private message of RunOnDialogThread: lParam is a TRunRequest.
constexpr UINT WM_SXLV_RUN = WM_APP + 0x51;

struct TRunRequest {
    void (*Proc)(void* context);
    void* Context;
    std::exception_ptr Failure;
};

// The shell library when this module had to load it; freed at program end.
TModuleHandle LoadedShellLibrary;

HMODULE ProgramModule()
{
    return GetModuleHandleA(nullptr);
}

void SetItemText(HWND window, int id, const std::string& text)
{
    SetDlgItemTextA(window, id, text.c_str());
}

// The common controls library is not imported (an import would be resolved
// before the program restricts the library search, when a copy beside the
// program would win); its functions are looked up here, in the copy that
// the program loads by name once the search is restricted (the manifest's
// version through the activation context, otherwise the system's own).
FARPROC CommonControlsProc(const char* name)
{
    static const HMODULE comctl = LoadLibraryA("comctl32.dll");
    return comctl ? GetProcAddress(comctl, name) : nullptr;
}

template <typename T>
T CommonControlsFn(const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(CommonControlsProc(name)));
}

// The common controls of one class family; "comctl32.dll" must already be
// loaded for its InitCommonControlsEx to be used.
void InitCommonControl(DWORD classes)
{
    using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    TInitCommonControlsEx initEx = nullptr;
    if (HMODULE comctl = GetModuleHandleA("comctl32.dll"))
        initEx = reinterpret_cast<TInitCommonControlsEx>(GetProcAddress(comctl, "InitCommonControlsEx"));
    INITCOMMONCONTROLSEX record;
    record.dwSize = sizeof(record);
    record.dwICC = classes;
    if (initEx && initEx(&record))
        return;
    if (auto init = CommonControlsFn<void(WINAPI*)()>("InitCommonControls"))
        init();
}

// Client rectangle of a child, in the dialog's client coordinates.
RECT ChildRect(HWND window, int id)
{
    RECT rect = {};
    HWND child = GetDlgItem(window, id);
    if (child) {
        GetWindowRect(child, &rect);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

// The status bar spans the bottom with its own height; the list fills the
// client width from 15 pixels under control 106 down to the status bar.
void Layout(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    HWND status = GetDlgItem(window, SXID_LV_STATUS);
    int statusTop = client.bottom;
    if (status) {
        RECT own;
        GetWindowRect(status, &own);
        const int height = own.bottom - own.top;
        statusTop = client.bottom - height;
        MoveWindow(status, 0, statusTop, client.right, height, TRUE);
    }
    HWND list = GetDlgItem(window, SXID_LV_LIST);
    if (list) {
        const int top = ChildRect(window, SXID_LV_PROGRESS2).bottom + 15;
        const int height = statusTop > top ? statusTop - top : 0;
        MoveWindow(list, 0, top, client.right, height, TRUE);
    }
}

void FillList(HWND window, TLVDialogInfoOV& info)
{
    HWND list = GetDlgItem(window, SXID_LV_LIST);
    if (!list)
        return;
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < info.Items.size(); ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = LPSTR_TEXTCALLBACKA;
        item.iImage = info.Items[i]->ImageIndex;
        item.lParam = reinterpret_cast<LPARAM>(&info.Items);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void InitDialog(HWND window, TLVDialogInfoOV& info)
{
    info.Window = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&info));
    SetPropA(window, kModelProperty, &info);
    // The big icon of the dialog class: later dialogs of the class show it too.
    if (HICON icon = LoadIconA(ProgramModule(), SX_ICON_ITEM))
        SetClassLongPtrA(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
    HWND list = GetDlgItem(window, SXID_LV_LIST);
    for (size_t i = 0; i < info.Columns.size(); ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = info.Columns[i]->Width;
        column.pszText = const_cast<char*>(info.Columns[i]->Caption.c_str());
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(info.ImageList));
    FillList(window, info);
    Layout(window);
    SetItemText(window, SXID_OK, info.OKText);
    SetItemText(window, SXID_CANCEL, info.CancelText);
    SetItemText(window, SXID_LV_STATUS, info.StatusText);
    SetItemText(window, SXID_LV_TEXT, info.Text);
    SetItemText(window, SXID_LV_PROGRESS1, std::string());
    SetItemText(window, SXID_LV_PROGRESS2, std::string());
    CenterWindow(nullptr, window);
}

// LVN_GETDISPINFO: the texts and the image of item iItem, bounds-checked.
void GetDisplayInfo(const TLVDialogInfoOV& info, NMLVDISPINFOA& display)
{
    LVITEMA& item = display.item;
    if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= info.Items.size())
        return;
    const TLVItemOV& row = *info.Items[item.iItem];
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        const std::string empty;
        const std::string* text = nullptr;
        if (item.iSubItem == 0)
            text = &row.Caption;
        else if (item.iSubItem > 0 && static_cast<size_t>(item.iSubItem) <= row.SubItems.size())
            text = &row.SubItems[item.iSubItem - 1];
        else
            text = &empty;
        const size_t room = static_cast<size_t>(item.cchTextMax) - 1;
        const size_t length = text->size() < room ? text->size() : room;
        std::memcpy(item.pszText, text->data(), length);
        item.pszText[length] = '\0';
    }
    if (item.mask & LVIF_IMAGE)
        item.iImage = row.ImageIndex;
}

INT_PTR Route(HWND window, TLVDialogInfoOV& info, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        Layout(window);
        return FALSE;
    case WM_DESTROY:
        RemovePropA(window, kModelProperty);
        return FALSE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->code == LVN_GETDISPINFOA) {
            GetDisplayInfo(info, *reinterpret_cast<NMLVDISPINFOA*>(lParam));
            return TRUE;
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (wParam == SXID_OK)
            info.OnOK(info);
        else if (wParam == SXID_CANCEL)
            info.OnCancel(info);
        else if (wParam == SXID_LV_DONE)
            info.OnDone(info);
        return TRUE;
    case WM_SXLV_RUN: {
        TRunRequest* request = reinterpret_cast<TRunRequest*>(lParam);
        try {
            request->Proc(request->Context);
        } catch (...) {
            request->Failure = std::current_exception();
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TLVDialogInfoOV* info = nullptr;
    if (message == WM_INITDIALOG) {
        info = reinterpret_cast<TLVDialogInfoOV*>(lParam);
        if (!info)
            return FALSE;
    } else {
        info = DialogInfoOf(window);
        if (!info)
            return FALSE;  // messages before WM_INITDIALOG
    }
    // Exceptions must not cross the system's dialog code: keep the first,
    // end the dialog, and let ListViewDlgExecute raise it again.
    try {
        if (message == WM_INITDIALOG) {
            InitDialog(window, *info);
            return TRUE;
        }
        return Route(window, *info, message, wParam, lParam);
    } catch (...) {
        if (!info->Failure)
            info->Failure = std::current_exception();
        EndDialog(window, 0);
        return TRUE;
    }
}

}  // namespace

// ---------------------------------------------------------------- model

TLVDialogInfoOV::TLVDialogInfoOV()
{
    if (auto create = CommonControlsFn<HIMAGELIST(WINAPI*)(int, int, UINT, int, int)>("ImageList_Create"))
        ImageList = create(16, 16, ILC_MASK, 4, 4);
}

TLVDialogInfoOV::~TLVDialogInfoOV()
{
    if (ImageList)
        if (auto destroy = CommonControlsFn<BOOL(WINAPI*)(HIMAGELIST)>("ImageList_Destroy"))
            destroy(ImageList);
}

void TLVDialogInfoOV::AddColumn(const std::string& caption, int32_t width)
{
    std::unique_ptr<TLVColumnOV> column(new TLVColumnOV);
    column->Caption = caption;
    column->Width = width;
    Columns.push_back(std::move(column));
}

TLVItemOV& TLVDialogInfoOV::AddItem()
{
    Items.emplace_back(new TLVItemOV);
    return *Items.back();
}

void TLVDialogInfoOV::ClearItems()
{
    Items.clear();
}

int TLVDialogInfoOV::AddIcon(HICON icon)
{
    auto replace = CommonControlsFn<int(WINAPI*)(HIMAGELIST, int, HICON)>("ImageList_ReplaceIcon");
    return ImageList && replace ? replace(ImageList, -1, icon) : -1;
}

// ---------------------------------------------------------------- showing

int ListViewDlgExecute(TLVDialogInfoOV& info)
{
    InitCommonControl(ICC_PROGRESS_CLASS);
    InitCommonControl(ICC_ANIMATE_CLASS);
    InitCommonControl(ICC_LISTVIEW_CLASSES);
    InitCommonControl(ICC_BAR_CLASSES);
    info.Failure = nullptr;
    const INT_PTR result = DialogBoxParamA(ProgramModule(), SX_DLG_INET_SETUP, info.ParentWindow, DialogProc,
                                           reinterpret_cast<LPARAM>(&info));
    info.Window = nullptr;
    if (info.Failure) {
        std::exception_ptr failure = info.Failure;
        info.Failure = nullptr;
        std::rethrow_exception(failure);
    }
    return static_cast<int>(result);
}

TLVDialogInfoOV* DialogInfoOf(HWND window)
{
    if (!window || !IsWindow(window))
        return nullptr;
    // The property tells this dialog from any other window whose user-data
    // slot holds something else.
    return static_cast<TLVDialogInfoOV*>(GetPropA(window, kModelProperty));
}

void RunOnDialogThread(HWND window, void (*proc)(void* context), void* context)
{
    if (!proc || !window || !IsWindow(window))
        return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        proc(context);
        return;
    }
    TRunRequest request{proc, context, nullptr};
    SendMessageA(window, WM_SXLV_RUN, 0, reinterpret_cast<LPARAM>(&request));
    if (request.Failure)
        std::rethrow_exception(request.Failure);
}

// ---------------------------------------------------------------- operations

namespace {

struct TTextRequest {
    HWND Window;
    const std::string* Text1;
    const std::string* Text2;
    int32_t Percent;
};

}  // namespace

void SetMainText(HWND window, const std::string& text)
{
    TTextRequest request{window, &text, nullptr, 0};
    RunOnDialogThread(
        window, [](void* context) {
            auto& r = *static_cast<TTextRequest*>(context);
            SetItemText(r.Window, SXID_LV_TEXT, *r.Text1);
        },
        &request);
}

void SetProgressText(HWND window, const std::string& text1, const std::string& text2, int32_t percent)
{
    TTextRequest request{window, &text1, &text2, percent};
    RunOnDialogThread(
        window, [](void* context) {
            auto& r = *static_cast<TTextRequest*>(context);
            SendDlgItemMessageA(r.Window, SXID_LV_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(r.Percent), 0);
            SetItemText(r.Window, SXID_LV_PROGRESS1, *r.Text1);
            const TLVDialogInfoOV* info = DialogInfoOf(r.Window);
            if (!info || info->State != 3)
                SetItemText(r.Window, SXID_LV_PROGRESS2, *r.Text2);
        },
        &request);
}

void SetTerminatingText(HWND window, const std::string& text)
{
    TTextRequest request{window, &text, nullptr, 0};
    RunOnDialogThread(
        window, [](void* context) {
            auto& r = *static_cast<TTextRequest*>(context);
            SetItemText(r.Window, SXID_LV_PROGRESS2, *r.Text1);
            SetItemText(r.Window, SXID_LV_TEXT, *r.Text1);
        },
        &request);
}

void RefreshItems(HWND window)
{
    RunOnDialogThread(
        window, [](void* context) {
            HWND w = static_cast<HWND>(context);
            if (TLVDialogInfoOV* info = DialogInfoOf(w)) {
                FillList(w, *info);
                SetItemText(w, SXID_LV_STATUS, info->StatusText);
            }
        },
        window);
}

void ShowProgressControls(HWND window)
{
    RunOnDialogThread(
        window, [](void* context) {
            HWND w = static_cast<HWND>(context);
            if (GetDlgItem(w, SXID_LV_ANIMATION))
                return;  // once
            ShowWindow(GetDlgItem(w, SXID_LV_ICON), SW_HIDE);
            ShowWindow(GetDlgItem(w, SXID_LV_TEXT), SW_HIDE);
            ShowWindow(GetDlgItem(w, SXID_LV_PROGRESS), SW_SHOW);
            ShowWindow(GetDlgItem(w, SXID_LV_PROGRESS1), SW_SHOW);
            ShowWindow(GetDlgItem(w, SXID_LV_PROGRESS2), SW_SHOW);
            HMODULE shell = GetModuleHandleA("shell32.dll");
            if (!shell) {
                char folder[MAX_PATH + 1];
                const UINT length = GetSystemDirectoryA(folder, sizeof(folder));
                if (length > 0 && length < sizeof(folder))
                    LoadedShellLibrary.reset(LoadLibraryA((std::string(folder, length) + "\\shell32.dll").c_str()));
                shell = LoadedShellLibrary.get();
            }
            HWND animation = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | ACS_TRANSPARENT, 0, 0, 0, 0, w,
                                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(SXID_LV_ANIMATION)),
                                             shell ? shell : ProgramModule(), nullptr);
            if (!animation)
                return;  // the download goes on without it
            if (shell)
                SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(shell), reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(160)));
            RECT dialog, text;
            GetWindowRect(w, &dialog);
            GetWindowRect(GetDlgItem(w, SXID_LV_PROGRESS1), &text);
            SetWindowPos(animation, nullptr, text.left - dialog.left, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            ShowWindow(animation, SW_SHOW);
            SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 100));
        },
        window);
}
