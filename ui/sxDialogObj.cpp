// The dialog-object layer: construction, the base operations and the one
// dialog procedure shared by every dialog object.
#include "sxDialogObj.h"

#include <commctrl.h>

#include "sxUtils.h"

HMODULE DialogModule = GetModuleHandleA(nullptr);

namespace {

// The progress bar's window class must be registered before a template that
// names it can be created. Idempotent, cheap after the first call.
//
// The common controls library is not one the system always takes from its
// own folder, so it is not imported (an import is resolved before the
// program runs, when a copy beside the program would win). It is loaded
// here by name, after the program restricted the library search: the
// manifest's side-by-side version 6 is found through the activation
// context, anything else only in the system folder. Never unloaded.
void EnsureCommonControls()
{
    typedef BOOL(WINAPI * TInitCommonControlsEx)(const INITCOMMONCONTROLSEX*);
    static const TInitCommonControlsEx init = [] {
        HMODULE comctl = LoadLibraryA("comctl32.dll");
        return comctl ? reinterpret_cast<TInitCommonControlsEx>(GetProcAddress(comctl, "InitCommonControlsEx"))
                      : nullptr;
    }();
    if (init) {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
        init(&icc);
    }
}

}  // namespace

TDialogObj::TDialogObj(HWND parentWindow, const char* templateName)
    : TemplateName(templateName), ParentWindow(parentWindow)
{
}

void TDialogObj::SetItemText(int controlId, const std::string& text)
{
    if (!Handle)
        return;
    HWND item = GetDlgItem(Handle, controlId);
    if (item)
        SetWindowTextA(item, text.c_str());
}

void TDialogObj::InitDialog(HWND window, UINT, WPARAM, LPARAM)
{
    Handle = window;
    if (!Caption.empty())
        SetWindowTextA(window, Caption.c_str());
    if (CenterOnParent)
        CenterWindow(ParentWindow, window);
}

bool TDialogObj::DoCommand(UINT, WPARAM wParam, LPARAM)
{
    // The whole WParam: a notification code in the high word never closes.
    if (wParam >= IDCANCEL && wParam <= 8) {
        EndWith(static_cast<INT_PTR>(wParam));
        return true;
    }
    return false;
}

bool TDialogObj::DoShowWindow(UINT, WPARAM, LPARAM)
{
    return true;
}

bool TDialogObj::DoMessage(UINT, WPARAM, LPARAM)
{
    return false;
}

void TDialogObj::EndWith(INT_PTR value)
{
    if (Handle)
        EndDialog(Handle, value);
}

bool TDialogObj::Execute()
{
    if (!TemplateName || !*TemplateName || Executed)
        return false;
    Executed = true;
    EnsureCommonControls();
    DialogBoxParamA(DialogModule, TemplateName, ParentWindow, &TDialogObj::DialogProc,
                    reinterpret_cast<LPARAM>(this));
    Handle = nullptr;
    if (Failure) {
        std::exception_ptr failure = Failure;
        Failure = nullptr;
        std::rethrow_exception(failure);
    }
    return Result;
}

INT_PTR CALLBACK TDialogObj::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TDialogObj* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<TDialogObj*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<TDialogObj*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    }
    if (!self)
        return FALSE;  // messages before WM_INITDIALOG
    // Exceptions must not cross the system's dialog code: keep the first one,
    // end the dialog, and let Execute rethrow it.
    try {
        return self->Route(window, message, wParam, lParam);
    } catch (...) {
        if (!self->Failure)
            self->Failure = std::current_exception();
        EndDialog(window, 0);
        return TRUE;
    }
}

INT_PTR TDialogObj::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(window, message, wParam, lParam);
        return TRUE;  // the system sets the default focus
    case WM_SHOWWINDOW:
        DoShowWindow(message, wParam, lParam);
        PostMessageA(window, WM_DIALOGSHOWN, 0, 0);
        return FALSE;
    case WM_DIALOGSHOWN:
        // Posted on hiding too (EndDialog hides the window first): the work in
        // OnShown runs once, and never after the dialog was asked to end.
        if (!IsWindowVisible(window) || ShownCalled || Failure)
            return TRUE;
        SetForegroundWindow(window);
        ShownCalled = true;
        if (OnShown)
            OnShown(*this);
        return TRUE;
    case WM_COMMAND:
        return DoCommand(message, wParam, lParam) ? TRUE : FALSE;
    default:
        return DoMessage(message, wParam, lParam) ? TRUE : FALSE;
    }
}

bool TSEDialog::Execute()
{
    PumpMessage();
    return TDialogObj::Execute();
}
