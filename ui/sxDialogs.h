// The setup's five modal dialogs (password, progress, message, confirmation,
// license) over the dialog-object layer, and their one-call forms. The texts
// come from the caller (the archive's string table), so the same templates
// serve every product and language. An empty button text gives an unlabelled
// button.
//
// None of these functions looks at the unattended mode: the caller decides
// whether a dialog is shown or a run-log entry is written instead.
#pragma once

#include "sxDialogObj.h"

#include <functional>
#include <string>

// "DLG_PASSWORD": asks for the setup password until CheckPassword accepts it
// or the user cancels. A wrong password shows ErrorText under the field; any
// edit of the field clears it again. At most 127 characters can be typed.
class TPasswordDlg : public TSEDialog {
public:
    TPasswordDlg(HWND parent, const std::string& caption, const std::string& prompt, const std::string& errorText,
                 const std::string& okText, const std::string& cancelText,
                 std::function<bool(const std::string&)> checkPassword);

    std::function<bool(const std::string&)> CheckPassword;
    std::string Prompt;
    std::string OKText;
    std::string CancelText;
    std::string ErrorText;

    void InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// "DLG_PROGRESS": shows a text and a progress bar while Work runs. Work runs
// once the dialog is visible, on the same thread inside the modal loop; it
// calls SetProgress after each step and PumpMessage often enough for Cancel
// to be seen, and ends with Close. Cancel (or the system menu's Close) only
// sets Cancelled: the next SetProgress returns false and the work stops of its
// own accord. A work that returns without calling Close leaves the dialog
// open; Cancel then closes it (Execute returns false), since no work is left
// to see the request.
class TProgressDlg : public TSEDialog {
public:
    TProgressDlg(HWND parent, const std::string& caption, const std::string& text, const std::string& cancelText,
                 std::function<void(TProgressDlg&)> work);

    bool Cancelled = false;
    std::string Text;
    std::string CancelText;

    // Moves the bar to position (0 to 100); true while the user has not asked
    // to cancel (and no error is pending in the dialog).
    bool SetProgress(int position);
    // Ends the dialog; Execute returns success.
    void Close(bool success);

    void InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool Execute() override;

private:
    bool WorkReturned = false;  // the work came back from OnShown
};

// "DLG_NOTIFY": a message with one button; any command closes it. Execute
// returns false.
class TMessageDlg : public TSEDialog {
public:
    TMessageDlg(HWND parent, const std::string& caption, const std::string& text, const std::string& okText);

    std::string Text;
    std::string OKText;

    void InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// "DLG_CONFIRM": a Yes/No question; Execute returns true for Yes. Escape and
// the system menu's Close answer No; Enter answers Yes (the default button).
class TConfirmDlg : public TSEDialog {
public:
    TConfirmDlg(HWND parent, const std::string& caption, const std::string& text, const std::string& yesText,
                const std::string& noText);

    std::string Text;
    std::string YesText;
    std::string NoText;

    void InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// "DLG_LICENSE": the license text (line breaks already CR LF) in a read-only
// field with the fixed question and &Yes/&No; Execute returns true for Yes.
// The template's own title stays. Escape declines; Enter does nothing.
class TLicenseDlg : public TSEDialog {
public:
    TLicenseDlg(HWND parent, const std::string& licenseText);

    std::string LicenseText;

    void InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool DoCommand(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// One-call forms: each shows its dialog without an owner and returns the
// dialog's result. They rethrow an exception that a callback raised.

// True only when CheckPassword accepted a typed password; false on Cancel.
bool AskPassword(const std::string& caption, const std::string& prompt, const std::string& errorText,
                 const std::string& okText, const std::string& cancelText,
                 const std::function<bool(const std::string&)>& checkPassword);
// Always false: callers use it for its effect.
bool ShowMessageDialog(const std::string& caption, const std::string& text, const std::string& okText);
// True for Yes.
bool AskConfirmation(const std::string& caption, const std::string& text, const std::string& yesText,
                     const std::string& noText);
// True when the user accepted the license.
bool AskLicenseAcceptance(const std::string& licenseText);
// Runs work under the progress dialog; returns what the work passed to Close
// (false when the template is missing).
bool RunProgressDialog(const std::string& caption, const std::string& text, const std::string& cancelText,
                       std::function<void(TProgressDlg&)> work);
