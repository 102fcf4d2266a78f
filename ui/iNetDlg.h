// The list-view dialog of the component download ("INET_SETUP_DLG"): a model
// (columns, items, icons, texts and the three button events) and the
// operations that show it and change it while it is open.
//
// The dialog has no logic of its own: OK, Cancel and the command 200 go to
// the model's events. It is always loaded from the program's own module,
// never from a dialog library of the product.
//
// Threads: the dialog runs on the main thread. The download thread changes
// it only through the operations below that take the dialog window; each one
// is a synchronous window call, carried out by the main thread inside the
// dialog's message loop. Work that touches the model's item list while the
// dialog is open (refilling the list) must run on the main thread through
// RunOnDialogThread, since the list view reads the items when it paints.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

class TLVDialogInfoOV;

// One button event: a plain callback with its context (nothing when Proc is
// null).
struct TLVEvent {
    void (*Proc)(void* context, TLVDialogInfoOV& info) = nullptr;
    void* Context = nullptr;
    void operator()(TLVDialogInfoOV& info) const {
        if (Proc) Proc(Context, info);
    }
};

struct TLVColumnOV {
    std::string Caption;
    int32_t Width = 0;  // pixels
};

struct TLVItemOV {
    std::string Caption;                // first column
    std::vector<std::string> SubItems;  // second and later columns
    const char* Data = nullptr;         // caller's data, not owned, not shown
    int32_t ImageIndex = 0;             // into the model's image list
};

class TLVDialogInfoOV {
public:
    // Creates the image list (16 x 16, masked, 4 growing by 4); State 0.
    TLVDialogInfoOV();
    // Destroys the image list; columns and items go with the model.
    ~TLVDialogInfoOV();
    TLVDialogInfoOV(const TLVDialogInfoOV&) = delete;
    TLVDialogInfoOV& operator=(const TLVDialogInfoOV&) = delete;

    TLVEvent OnOK;      // button 1
    TLVEvent OnCancel;  // button 2, the system menu's Close, Escape
    TLVEvent OnDone;    // command 200
    HIMAGELIST ImageList = nullptr;
    HWND Window = nullptr;        // the dialog while it is open
    HWND ParentWindow = nullptr;  // owner
    std::vector<std::unique_ptr<TLVColumnOV>> Columns;
    std::vector<std::unique_ptr<TLVItemOV>> Items;
    std::string StatusText;  // status bar (102)
    std::string Text;        // main text (103)
    std::string OKText;      // label of button 1
    std::string CancelText;  // label of button 2
    // 0 idle, 1 preparing, 2 downloading, 3 terminating. Written by the
    // download thread and the main thread; a byte is read and written whole.
    volatile uint8_t State = 0;
    // An exception raised by an event: the dialog ends and
    // ListViewDlgExecute raises it again on its caller's side.
    std::exception_ptr Failure;

    void AddColumn(const std::string& caption, int32_t width);
    // Appends an empty item (image 0) and returns it.
    TLVItemOV& AddItem();
    void ClearItems();
    // Appends an icon to the image list; returns its index (the first gets 0).
    int AddIcon(HICON icon);
};

// Registers the common controls the dialog needs, shows "INET_SETUP_DLG" of
// the program's module modally (owner Info.ParentWindow) and returns the
// dialog's end value. The dialog ends only when an event calls EndDialog.
int ListViewDlgExecute(TLVDialogInfoOV& info);

// Operations on the open dialog (any thread; synchronous).
void SetMainText(HWND window, const std::string& text);  // control 103
// Progress bar <- percent; 105 <- text1; 106 <- text2 unless State is 3.
void SetProgressText(HWND window, const std::string& text1, const std::string& text2, int32_t percent);
// 106 and 103 <- text.
void SetTerminatingText(HWND window, const std::string& text);
// Fills the list again from the model's items; status bar <- StatusText.
void RefreshItems(HWND window);
// Once, when the transfer begins: hides 100 and 103, shows 104-106 and the
// animation.
void ShowProgressControls(HWND window);
// Runs proc(context) on the thread that owns the dialog and returns when it
// is done (a synchronous message to the dialog).
// Nothing runs when the window is not (or no longer) a window. An exception
// raised by proc reaches the caller.
void RunOnDialogThread(HWND window, void (*proc)(void* context), void* context);
// The model of an open dialog (null for any other window). Use it on the
// dialog's thread only.
TLVDialogInfoOV* DialogInfoOf(HWND window);
