// The setup's five dialogs and their one-call forms.
#include "sxDialogs.h"

#include <commctrl.h>

#include <utility>

#include "sxResIDs.h"

namespace {

// The password field reads at most this many characters.
constexpr int kMaxPasswordLength = 127;

// The whole WParam of a command: the control id in the low word, the
// notification code in the high word.
bool IsCloseCommand(WPARAM wParam)
{
    return wParam >= IDCANCEL && wParam <= 8;
}

// 2 (Cancel, Escape, system menu Close), 6 (Yes), 7 (No), 8 (Close).
bool IsAnswerCommand(WPARAM wParam)
{
    return wParam == IDCANCEL || wParam == IDYES || wParam == IDNO || wParam == 8;
}

}  // namespace

// ---------------------------------------------------------------- password

TPasswordDlg::TPasswordDlg(HWND parent, const std::string& caption, const std::string& prompt,
                           const std::string& errorText, const std::string& okText, const std::string& cancelText,
                           std::function<bool(const std::string&)> checkPassword)
    : TSEDialog(parent, SX_DLG_PASSWORD), CheckPassword(std::move(checkPassword)), Prompt(prompt), OKText(okText),
      CancelText(cancelText), ErrorText(errorText)
{
    Caption = caption;
}

void TPasswordDlg::InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TSEDialog::InitDialog(window, message, wParam, lParam);
    SetItemText(SXID_TEXT, Prompt);
    SetItemText(SXID_OK, OKText);
    SetItemText(SXID_CANCEL, CancelText);
    SetItemText(SXID_PASSWORD_ERROR, std::string());
    // Longer input is refused at the field rather than cut silently on OK.
    SendDlgItemMessageA(window, SXID_PASSWORD, EM_LIMITTEXT, kMaxPasswordLength, 0);
}

bool TPasswordDlg::DoCommand(UINT, WPARAM wParam, LPARAM)
{
    if (LOWORD(wParam) == SXID_PASSWORD && HIWORD(wParam) == EN_CHANGE) {
        SetItemText(SXID_PASSWORD_ERROR, std::string());
        return true;
    }
    if (wParam == IDOK) {
        char buffer[kMaxPasswordLength + 1] = {};
        GetDlgItemTextA(Handle, SXID_PASSWORD, buffer, sizeof(buffer));
        std::string password(buffer);
        SecureZeroMemory(buffer, sizeof(buffer));
        // Without a check nothing can be accepted: the user leaves with Cancel.
        bool accepted = CheckPassword && CheckPassword(password);
        SecureZeroMemory(&password[0], password.size());
        if (accepted) {
            Result = true;
            EndWith(IDOK);
        } else {
            SetItemText(SXID_PASSWORD_ERROR, ErrorText);
            HWND edit = GetDlgItem(Handle, SXID_PASSWORD);
            if (edit) {
                SetFocus(edit);
                SendMessageA(edit, EM_SETSEL, 0, -1);
            }
        }
        return true;
    }
    if (IsCloseCommand(wParam)) {
        EndWith(static_cast<INT_PTR>(wParam));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- progress

TProgressDlg::TProgressDlg(HWND parent, const std::string& caption, const std::string& text,
                           const std::string& cancelText, std::function<void(TProgressDlg&)> work)
    : TSEDialog(parent, SX_DLG_PROGRESS), Text(text), CancelText(cancelText)
{
    Caption = caption;
    if (work) {
        OnShown = [work = std::move(work)](TDialogObj& dialog) {
            auto& self = static_cast<TProgressDlg&>(dialog);
            work(self);
            self.WorkReturned = true;
        };
    } else {
        WorkReturned = true;
    }
}

bool TProgressDlg::SetProgress(int position)
{
    if (Handle)
        SendDlgItemMessageA(Handle, SXID_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    return !Cancelled && !HasFailure();
}

void TProgressDlg::Close(bool success)
{
    Result = success;
    EndWith(IDOK);
}

void TProgressDlg::InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TSEDialog::InitDialog(window, message, wParam, lParam);
    SetItemText(SXID_TEXT, Text);
    SetItemText(SXID_CANCEL, CancelText);
    SendDlgItemMessageA(window, SXID_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window, SXID_PROGRESS, PBM_SETPOS, 3, 0);
}

bool TProgressDlg::DoCommand(UINT, WPARAM wParam, LPARAM)
{
    if (IsCloseCommand(wParam)) {
        Cancelled = true;  // the work sees it at its next SetProgress
        // Without a running work nobody would ever close the window.
        if (WorkReturned)
            EndWith(static_cast<INT_PTR>(wParam));
        return true;
    }
    return false;
}

bool TProgressDlg::Execute()
{
    return TSEDialog::Execute();
}

// ---------------------------------------------------------------- message

TMessageDlg::TMessageDlg(HWND parent, const std::string& caption, const std::string& text, const std::string& okText)
    : TSEDialog(parent, SX_DLG_NOTIFY), Text(text), OKText(okText)
{
    Caption = caption;
}

void TMessageDlg::InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TSEDialog::InitDialog(window, message, wParam, lParam);
    SetItemText(SXID_TEXT, Text);
    SetItemText(SXID_OK, OKText);
}

bool TMessageDlg::DoCommand(UINT, WPARAM, LPARAM)
{
    EndWith(0);
    return true;
}

// ---------------------------------------------------------------- confirmation

TConfirmDlg::TConfirmDlg(HWND parent, const std::string& caption, const std::string& text,
                         const std::string& yesText, const std::string& noText)
    : TSEDialog(parent, SX_DLG_CONFIRM), Text(text), YesText(yesText), NoText(noText)
{
    Caption = caption;
}

void TConfirmDlg::InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TSEDialog::InitDialog(window, message, wParam, lParam);
    SetItemText(SXID_TEXT, Text);
    SetItemText(SXID_YES, YesText);
    SetItemText(SXID_NO, NoText);
}

bool TConfirmDlg::DoCommand(UINT, WPARAM wParam, LPARAM)
{
    if (IsAnswerCommand(wParam)) {
        Result = wParam == IDYES;
        EndWith(static_cast<INT_PTR>(wParam));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- license

TLicenseDlg::TLicenseDlg(HWND parent, const std::string& licenseText)
    : TSEDialog(parent, SX_DLG_LICENSE), LicenseText(licenseText)
{
}

void TLicenseDlg::InitDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TSEDialog::InitDialog(window, message, wParam, lParam);
    SetItemText(SXID_TEXT, LicenseText);
}

bool TLicenseDlg::DoCommand(UINT, WPARAM wParam, LPARAM)
{
    if (HIWORD(wParam) == EN_SETFOCUS) {
        // Keep the text from showing selected when the field gets the focus.
        SendDlgItemMessageA(Handle, SXID_TEXT, EM_SETSEL, static_cast<WPARAM>(-1), 0);
        return true;
    }
    if (IsAnswerCommand(wParam)) {
        Result = wParam == IDYES;
        EndWith(static_cast<INT_PTR>(wParam));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- one-call forms

bool AskPassword(const std::string& caption, const std::string& prompt, const std::string& errorText,
                 const std::string& okText, const std::string& cancelText,
                 const std::function<bool(const std::string&)>& checkPassword)
{
    TPasswordDlg dialog(nullptr, caption, prompt, errorText, okText, cancelText, checkPassword);
    return dialog.Execute();
}

bool ShowMessageDialog(const std::string& caption, const std::string& text, const std::string& okText)
{
    TMessageDlg dialog(nullptr, caption, text, okText);
    return dialog.Execute();
}

bool AskConfirmation(const std::string& caption, const std::string& text, const std::string& yesText,
                     const std::string& noText)
{
    TConfirmDlg dialog(nullptr, caption, text, yesText, noText);
    return dialog.Execute();
}

bool AskLicenseAcceptance(const std::string& licenseText)
{
    TLicenseDlg dialog(nullptr, licenseText);
    return dialog.Execute();
}

bool RunProgressDialog(const std::string& caption, const std::string& text, const std::string& cancelText,
                       std::function<void(TProgressDlg&)> work)
{
    TProgressDlg dialog(nullptr, caption, text, cancelText, std::move(work));
    return dialog.Execute();
}
