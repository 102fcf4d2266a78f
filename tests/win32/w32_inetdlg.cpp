// The component download dialog: the model shown through the template, the
// callback texts (short rows, cut texts, bad indexes), the events that never
// close the dialog on their own, the layout after a resize, and the
// operations the download thread calls from its own thread.
#include "w32_dialogs_driver.h"

#include <commctrl.h>

#include <stdexcept>

#include "iNetDlg.h"
#include "sxResIDs.h"

namespace {

const char kTitle[] = "Ravudure Dudor";

struct TCounts {
    int OK = 0, Cancel = 0, Done = 0;
};

void FillModel(TLVDialogInfoOV& info, TCounts& counts)
{
    info.AddColumn("Component To Download", 220);
    info.AddColumn("Size", 50);
    info.AddColumn("Web Location", 250);
    EXPECT_EQ(0, info.AddIcon(LoadIconA(GetModuleHandleA(nullptr), SX_ICON_ITEM)));
    TLVItemOV& first = info.AddItem();
    first.Caption = "Runtime";
    first.SubItems = {"1.5M"};  // no third column
    TLVItemOV& second = info.AddItem();
    second.Caption = "Graphics";
    second.SubItems = {"640K", std::string(300, 'u') + "END"};
    info.Text = "main text";
    info.StatusText = "status text";
    info.OKText = "&Download";
    info.CancelText = "&Abort";
    info.OnOK = {[](void* c, TLVDialogInfoOV&) { ++static_cast<TCounts*>(c)->OK; }, &counts};
    info.OnCancel = {[](void* c, TLVDialogInfoOV&) { ++static_cast<TCounts*>(c)->Cancel; }, &counts};
    info.OnDone = {[](void* c, TLVDialogInfoOV& i) {
                       ++static_cast<TCounts*>(c)->Done;
                       EndDialog(i.Window, 7);
                   },
                   &counts};
}

std::string ItemText(HWND dialog, int item, int subItem, int room)
{
    std::string buffer(static_cast<size_t>(room) + 8, '#');
    LVITEMA lv = {};
    lv.iSubItem = subItem;
    lv.pszText = &buffer[0];
    lv.cchTextMax = room;
    SendDlgItemMessageA(dialog, SXID_LV_LIST, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lv));
    return buffer.substr(0, buffer.find('\0'));
}

RECT ClientRectOf(HWND dialog, int id)
{
    RECT r = {};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool Visible(HWND dialog, int id)
{
    return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

}  // namespace

// The model's texts reach the template's controls; the list asks for its
// texts: short rows give empty cells, long texts are cut to the buffer, an
// index out of range leaves the buffer alone. OK, Cancel and Escape only call
// the events; the command 200's event ends the dialog.
TEST(ListViewDialog, ShowsTheModelAndLeavesClosingToTheEvents)
{
    TLVDialogInfoOV info;
    TCounts counts;
    FillModel(info, counts);
    TDialogScript script(kTitle, {
        [&](HWND d) {
            EXPECT_EQ(d, info.Window);
            EXPECT_EQ("&Download", person::Text(d, SXID_OK));
            EXPECT_EQ("&Abort", person::Text(d, SXID_CANCEL));
            EXPECT_EQ("main text", person::Text(d, SXID_LV_TEXT));
            EXPECT_EQ("status text", person::Text(d, SXID_LV_STATUS));
            EXPECT_EQ("", person::Text(d, SXID_LV_PROGRESS1));
            // Until the transfer begins only the text shows: the progress
            // controls lie over it.
            for (int id : {SXID_LV_PROGRESS, SXID_LV_PROGRESS1, SXID_LV_PROGRESS2})
                EXPECT_FALSE(Visible(d, id)) << id;
            EXPECT_EQ(2, SendDlgItemMessageA(d, SXID_LV_LIST, LVM_GETITEMCOUNT, 0, 0));
            EXPECT_EQ("Runtime", ItemText(d, 0, 0, 260));
            EXPECT_EQ("1.5M", ItemText(d, 0, 1, 260));
            EXPECT_EQ("", ItemText(d, 0, 2, 260));
            EXPECT_EQ("Graphics", ItemText(d, 1, 0, 260));
            EXPECT_EQ("uuuuuuu", ItemText(d, 1, 2, 8));
            // A bad index straight to the dialog: nothing is written.
            char buffer[16] = "untouched";
            NMLVDISPINFOA display = {};
            display.hdr.hwndFrom = GetDlgItem(d, SXID_LV_LIST);
            display.hdr.idFrom = SXID_LV_LIST;
            display.hdr.code = LVN_GETDISPINFOA;
            display.item.mask = LVIF_TEXT;
            display.item.pszText = buffer;
            display.item.cchTextMax = sizeof(buffer);
            for (int index : {-1, 2, 1000}) {
                display.item.iItem = index;
                SendMessageA(d, WM_NOTIFY, SXID_LV_LIST, reinterpret_cast<LPARAM>(&display));
                EXPECT_STREQ("untouched", buffer) << index;
            }
            PostMessageA(d, WM_COMMAND, IDOK, 0);
            person::Key(d, VK_ESCAPE);
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(SXID_OK, BN_SETFOCUS), 0);  // not exactly 1: ignored
            return true;
        },
        [&](HWND d) {
            if (counts.Cancel == 0)
                return false;
            EXPECT_EQ(1, counts.OK);
            EXPECT_TRUE(IsWindowVisible(d));
            PostMessageA(d, WM_COMMAND, SXID_LV_DONE, 0);
            return true;
        },
    });
    EXPECT_EQ(7, ListViewDlgExecute(info));
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(1, counts.Done);
    EXPECT_EQ(nullptr, info.Window);
}

// After a resize the status bar spans the bottom and the list fills the
// width from 15 pixels under the second progress text down to the bar.
TEST(ListViewDialog, LayoutFollowsTheSize)
{
    TLVDialogInfoOV info;
    TCounts counts;
    FillModel(info, counts);
    TDialogScript script(kTitle, {[&](HWND d) {
        for (int grow : {0, 200, -60}) {
            RECT window;
            GetWindowRect(d, &window);
            SetWindowPos(d, nullptr, 0, 0, window.right - window.left + grow, window.bottom - window.top + grow,
                         SWP_NOMOVE | SWP_NOZORDER);
            RECT client;
            GetClientRect(d, &client);
            const RECT status = ClientRectOf(d, SXID_LV_STATUS);
            const RECT list = ClientRectOf(d, SXID_LV_LIST);
            const RECT text2 = ClientRectOf(d, SXID_LV_PROGRESS2);
            EXPECT_EQ(client.bottom, status.bottom) << grow;
            EXPECT_EQ(client.right, status.right - status.left) << grow;
            EXPECT_EQ(text2.bottom + 15, list.top) << grow;
            EXPECT_EQ(status.top, list.bottom) << grow;
            EXPECT_EQ(0, list.left) << grow;
            EXPECT_EQ(client.right, list.right) << grow;
        }
        EndDialog(d, 7);
        return true;
    }});
    EXPECT_EQ(7, ListViewDlgExecute(info));
    EXPECT_TRUE(script.Finished());
}

namespace {

struct TWorker {
    HWND Dialog = nullptr;
    DWORD ProcThread = 0;
    std::string Caught;
};

DWORD WINAPI WorkerMain(void* parameter)
{
    TWorker& w = *static_cast<TWorker*>(parameter);
    SetProgressText(w.Dialog, "Downloading Runtime ...", "%42 Done (645K)", 42);
    RunOnDialogThread(
        w.Dialog, [](void* c) { static_cast<TWorker*>(c)->ProcThread = GetCurrentThreadId(); }, &w);
    try {
        RunOnDialogThread(w.Dialog, [](void*) { throw std::runtime_error("raised on the dialog's thread"); }, nullptr);
    } catch (const std::exception& e) {
        w.Caught = e.what();
    }
    ShowProgressControls(w.Dialog);
    ShowProgressControls(w.Dialog);  // once only
    return 0;
}

}  // namespace

// The download thread's operations from another thread: they run on the
// dialog's thread, errors come back to the caller, the progress controls
// replace the icon and text, State 3 keeps the second text, and the
// terminating text goes into 106 and 103. Refilling updates list and status.
TEST(ListViewDialog, OperationsFromAnotherThread)
{
    TLVDialogInfoOV info;
    TCounts counts;
    FillModel(info, counts);
    TWorker worker;
    HANDLE thread = nullptr;
    const DWORD mainThread = GetCurrentThreadId();
    TDialogScript script(kTitle, {
        [&](HWND d) {
            worker.Dialog = d;
            thread = CreateThread(nullptr, 0, WorkerMain, &worker, 0, nullptr);
            EXPECT_NE(nullptr, thread);
            return true;
        },
        [&](HWND d) {
            if (thread && WaitForSingleObject(thread, 0) != WAIT_OBJECT_0)
                return false;
            EXPECT_EQ(mainThread, worker.ProcThread);
            EXPECT_EQ("raised on the dialog's thread", worker.Caught);
            EXPECT_EQ(42, SendDlgItemMessageA(d, SXID_LV_PROGRESS, PBM_GETPOS, 0, 0));
            EXPECT_EQ("Downloading Runtime ...", person::Text(d, SXID_LV_PROGRESS1));
            EXPECT_EQ("%42 Done (645K)", person::Text(d, SXID_LV_PROGRESS2));
            EXPECT_FALSE(Visible(d, SXID_LV_ICON));
            EXPECT_FALSE(Visible(d, SXID_LV_TEXT));
            for (int id : {SXID_LV_PROGRESS, SXID_LV_PROGRESS1, SXID_LV_PROGRESS2})
                EXPECT_TRUE(Visible(d, id)) << id;
            HWND animation = GetDlgItem(d, SXID_LV_ANIMATION);
            EXPECT_NE(nullptr, animation);
            char className[64] = {};
            if (animation)
                GetClassNameA(animation, className, sizeof(className));
            EXPECT_STREQ("SysAnimate32", className);
            EXPECT_EQ(nullptr, FindWindowExA(d, animation, "SysAnimate32", nullptr));  // only one

            info.State = 3;
            SetProgressText(d, "Downloading Graphics ...", "%50 Done (1.0M)", 50);
            EXPECT_EQ("Downloading Graphics ...", person::Text(d, SXID_LV_PROGRESS1));
            EXPECT_EQ("%42 Done (645K)", person::Text(d, SXID_LV_PROGRESS2));
            SetTerminatingText(d, "Terminating. Please wait...");
            EXPECT_EQ("Terminating. Please wait...", person::Text(d, SXID_LV_PROGRESS2));
            EXPECT_EQ("Terminating. Please wait...", person::Text(d, SXID_LV_TEXT));

            info.ClearItems();
            info.AddItem().Caption = "Graphics";
            info.StatusText = "The total size is 640K.";
            RefreshItems(d);
            EXPECT_EQ(1, SendDlgItemMessageA(d, SXID_LV_LIST, LVM_GETITEMCOUNT, 0, 0));
            EXPECT_EQ("Graphics", ItemText(d, 0, 0, 260));
            EXPECT_EQ("The total size is 640K.", person::Text(d, SXID_LV_STATUS));
            EXPECT_EQ(&info, DialogInfoOf(d));
            EXPECT_EQ(nullptr, DialogInfoOf(GetDlgItem(d, SXID_LV_LIST)));
            PostMessageA(d, WM_COMMAND, SXID_LV_DONE, 0);
            return true;
        },
    });
    EXPECT_EQ(7, ListViewDlgExecute(info));
    EXPECT_TRUE(script.Finished());
    if (thread) {
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
    }
}

// An event that raises ends the dialog, and the error reaches the caller of
// ListViewDlgExecute instead of crossing the system's dialog code.
TEST(ListViewDialog, AnEventErrorReachesTheCaller)
{
    TLVDialogInfoOV info;
    TCounts counts;
    FillModel(info, counts);
    info.OnOK = {[](void*, TLVDialogInfoOV&) { throw std::runtime_error("event failed"); }, nullptr};
    TDialogScript script(kTitle, {[](HWND d) {
        PostMessageA(d, WM_COMMAND, IDOK, 0);
        return true;
    }});
    try {
        ListViewDlgExecute(info);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("event failed", e.what());
    }
    EXPECT_TRUE(script.Finished());
}
