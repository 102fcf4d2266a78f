// The dialog-object layer: one object binds one modal dialog to one named
// dialog template. A single dialog procedure routes the window messages to the
// object's virtual operations; the object is kept in the window's user-data
// slot (GWLP_USERDATA) from WM_INITDIALOG on.
//
// Lifetime: a dialog object serves exactly one showing. Objects are ordinary
// C++ objects (usually on the caller's stack, as the one-call helpers of
// sxDialogs.h do): Execute shows the dialog once and leaves the object to its
// owner, who must not show it again (a second Execute returns false and shows
// nothing). This replaces "Execute destroys the object" with the same
// observable behaviour and no chance of a dangling pointer.
//
// Errors: an exception thrown by a virtual operation or by OnShown while the
// dialog is up cannot travel through the system's dialog code. The dialog
// procedure catches it, ends the dialog, and Execute rethrows it to its caller
// once the modal loop is left.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

// The module from which Execute loads dialog templates: the program itself
// unless the setup replaced it with a dialog library of the product. The
// owner of a replacement library restores GetModuleHandleA(nullptr) before it
// frees the library.
extern HMODULE DialogModule;

// Private message that a dialog posts to itself when it is shown; when the
// modal loop takes it from the queue, the dialog is on screen.
constexpr UINT WM_DIALOGSHOWN = WM_USER + 100;

class TDialogObj {
public:
    TDialogObj(HWND parentWindow, const char* templateName);
    virtual ~TDialogObj() = default;
    TDialogObj(const TDialogObj&) = delete;
    TDialogObj& operator=(const TDialogObj&) = delete;

    const char* TemplateName;   // name of the dialog template resource; null or "" shows nothing
    HWND ParentWindow;          // owner of the dialog; null for none
    HWND Handle = nullptr;      // the dialog window while it is shown (set by InitDialog)
    bool Result = false;        // what Execute returns; set by the subclasses
    std::string Caption;        // replaces the template's title when not empty
    std::function<void(TDialogObj&)> OnShown;  // runs once the dialog is visible, inside the modal loop
    bool CenterOnParent = true; // centre the dialog over its owner (or the screen) in InitDialog

    // Sets the text of control ControlId when the dialog has one; an empty
    // text clears the control. Ignored when the template lacks the control.
    virtual void SetItemText(int controlId, const std::string& text);
    // Base: stores Window in Handle, sets Caption as title when not empty,
    // centres the dialog when CenterOnParent. Subclasses call it first.
    virtual void InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Base: a WParam (id and notification code together) of 2 to 8 ends the
    // dialog with that value; true when handled. OK (1) is left to subclasses.
    virtual bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam);
    // Base: does nothing, returns true.
    virtual bool DoShowWindow(UINT message, WPARAM wParam, LPARAM lParam);
    // Base: returns false (message not handled).
    virtual bool DoMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Shows the dialog modally from DialogModule and returns Result. Returns
    // false without showing anything when TemplateName is empty, when the
    // object was shown before, or (Result still false) when the template
    // cannot be loaded. Rethrows an exception caught while the dialog was up.
    virtual bool Execute();

    // True while the dialog is being shown (between WM_INITDIALOG and the end
    // of the modal loop).
    bool IsShowing() const { return Handle != nullptr; }

protected:
    // Ends the dialog with value (EndDialog); safe when it is not shown.
    void EndWith(INT_PTR value);
    // True once an exception was caught while the dialog was up.
    bool HasFailure() const { return static_cast<bool>(Failure); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    bool Executed = false;       // shown once already
    bool ShownCalled = false;    // OnShown ran (it runs at most once per showing)
    std::exception_ptr Failure;  // caught in the dialog procedure, rethrown by Execute
};

// Base of the setup dialogs: lets one waiting message of the thread's queue be
// processed before the dialog is shown.
class TSEDialog : public TDialogObj {
public:
    using TDialogObj::TDialogObj;
    bool Execute() override;
};
