// The five setup dialogs driven as a person would: typing, buttons, Enter,
// Escape and the system menu, checking what each dialog shows and returns.
#include "w32_dialogs_driver.h"

#include <commctrl.h>

#include <stdexcept>

#include "sxDialogs.h"
#include "sxResIDs.h"
#include "sxUtils.h"

namespace {

bool StillOpen(HWND dialog)
{
    return IsWindow(dialog) && IsWindowVisible(dialog);
}

// Closing through the system menu, as the title bar's close box does.
void SystemClose(HWND dialog)
{
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace

// ---------------------------------------------------------------- password

// A wrong password shows the error line and selects the typed text; typing
// clears the error; the right password ends the dialog with true.
TEST(PasswordDlg, WrongThenRight)
{
    std::vector<std::string> tried;
    std::string afterWrong, afterTyping, prompt, okLabel, cancelLabel;
    DWORD selection = 0;
    bool focusOnEdit = false, openAfterWrong = false;
    TDialogScript script("Acme Setup", {
        [&](HWND d) {
            prompt = person::Text(d, SXID_TEXT);
            okLabel = person::Text(d, SXID_OK);
            cancelLabel = person::Text(d, SXID_CANCEL);
            person::Type(d, SXID_PASSWORD, "wrong");
            return true;
        },
        [](HWND d) { person::Key(d, VK_RETURN); return true; },
        [&](HWND d) {
            afterWrong = person::Text(d, SXID_PASSWORD_ERROR);
            openAfterWrong = StillOpen(d);
            selection = static_cast<DWORD>(SendDlgItemMessageA(d, SXID_PASSWORD, EM_GETSEL, 0, 0));
            focusOnEdit = GetFocus() == GetDlgItem(d, SXID_PASSWORD);
            person::Type(d, SXID_PASSWORD, "s");  // replaces the selected text
            return true;
        },
        [&](HWND d) {
            afterTyping = person::Text(d, SXID_PASSWORD_ERROR);
            person::Type(d, SXID_PASSWORD, "ecret");
            return true;
        },
        [](HWND d) { person::Click(d, SXID_OK); return true; },
    });
    bool accepted = AskPassword("Acme Setup", "Enter the password:", "Wrong password.", "&OK", "&Cancel",
                                [&](const std::string& p) {
                                    tried.push_back(p);
                                    return p == "secret";
                                });
    EXPECT_TRUE(accepted);
    EXPECT_FALSE(script.TimedOut());
    EXPECT_EQ("Enter the password:", prompt);
    EXPECT_EQ("&OK", okLabel);
    EXPECT_EQ("&Cancel", cancelLabel);
    EXPECT_TRUE(openAfterWrong);
    EXPECT_EQ("Wrong password.", afterWrong);
    EXPECT_EQ(MAKELONG(0, 5), selection);
    EXPECT_TRUE(focusOnEdit);
    EXPECT_EQ("", afterTyping);
    EXPECT_EQ((std::vector<std::string>{"wrong", "secret"}), tried);
}

// Cancel after several wrong tries gives false; the field takes at most 127
// characters (fewer in practice: it does not scroll, so typing stops at its
// right edge); empty button texts give unlabelled buttons.
TEST(PasswordDlg, CancelAfterWrongTriesAndLongInput)
{
    int tries = 0;
    size_t longest = 0;
    std::string okLabel = "x", errorAtStart = "x";
    LRESULT limit = 0;
    TDialogScript script("Decrypting Files", {
        [&](HWND d) {
            limit = SendDlgItemMessageA(d, SXID_PASSWORD, EM_GETLIMITTEXT, 0, 0);
            okLabel = person::Text(d, SXID_OK);
            errorAtStart = person::Text(d, SXID_PASSWORD_ERROR);
            person::Type(d, SXID_PASSWORD, std::string(200, 'p'));
            return true;
        },
        [](HWND d) { person::Click(d, SXID_OK); return true; },
        [](HWND d) { person::Click(d, SXID_OK); return true; },
        [](HWND d) { person::Click(d, SXID_CANCEL); return true; },
    });
    bool accepted = AskPassword("", "Password:", "Wrong.", "", "Cancel", [&](const std::string& p) {
        ++tries;
        longest = std::max(longest, p.size());
        return false;
    });
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(2, tries);
    EXPECT_EQ(127, limit);
    EXPECT_GT(longest, 10u);
    EXPECT_LE(longest, 127u);
    EXPECT_EQ("", okLabel);
    EXPECT_EQ("", errorAtStart);
}

// ---------------------------------------------------------------- progress

// The bar opens at 3; Cancel and the system menu's Close keep the window open
// and make the next SetProgress answer false; Execute returns Close's value.
TEST(ProgressDlg, CancelRequestsStopButDoesNotClose)
{
    for (bool useSystemMenu : {false, true}) {
        SCOPED_TRACE(useSystemMenu ? "system menu" : "Cancel button");
        int startPos = -1;
        bool openAfterCancel = false, answeredFalse = false;
        std::string text, cancelLabel;
        TDialogScript script("Copying", {
            [&](HWND d) {
                text = person::Text(d, SXID_TEXT);
                cancelLabel = person::Text(d, SXID_CANCEL);
                if (useSystemMenu)
                    SystemClose(d);
                else
                    person::Click(d, SXID_CANCEL);
                return true;
            },
            [&](HWND d) { openAfterCancel = StillOpen(d); return true; },
        });
        bool result = RunProgressDialog("Copying", "Copying the files", "Stop", [&](TProgressDlg& dlg) {
            startPos = static_cast<int>(SendDlgItemMessageA(dlg.Handle, SXID_PROGRESS, PBM_GETPOS, 0, 0));
            // Time-bound rather than step-bound, so a slow machine still sees the cancel.
            const DWORD start = GetTickCount();
            for (int i = 0; GetTickCount() - start < 10000; ++i) {
                Sleep(5);
                for (int k = 0; k < 10; ++k)
                    PumpMessage();
                if (!dlg.SetProgress(i % 100)) {
                    answeredFalse = true;
                    // Still open: the work decides when to close; it lets the
                    // script look at the window first.
                    const DWORD asked = GetTickCount();
                    while (!script.Finished() && GetTickCount() - asked < 5000) {
                        Sleep(5);
                        PumpMessage();
                    }
                    dlg.Close(false);
                    return;
                }
            }
            dlg.Close(true);
        });
        EXPECT_FALSE(result);
        EXPECT_FALSE(script.TimedOut());
        EXPECT_EQ(3, startPos);
        EXPECT_TRUE(answeredFalse);
        EXPECT_TRUE(openAfterCancel);
        EXPECT_EQ("Copying the files", text);
        EXPECT_EQ("Stop", cancelLabel);
    }
}

// A work that runs to its end returns true; the bar shows its last position.
TEST(ProgressDlg, CompletedWorkReturnsTrue)
{
    int shownPos = -1;
    bool result = RunProgressDialog("Copying", "Copying", "Cancel", [&](TProgressDlg& dlg) {
        for (int i = 0; i <= 100; i += 10) {
            EXPECT_TRUE(dlg.SetProgress(i));
            PumpMessage();
        }
        shownPos = static_cast<int>(SendDlgItemMessageA(dlg.Handle, SXID_PROGRESS, PBM_GETPOS, 0, 0));
        dlg.Close(true);
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(100, shownPos);
}

// A work that returns without Close leaves the dialog open, and Cancel then
// closes it instead of leaving the user with a window that cannot be closed.
TEST(ProgressDlg, CancelClosesOnceWorkReturnedWithoutClose)
{
    bool openAfterWork = false;
    TDialogScript script("Copying", {
        [&](HWND d) { openAfterWork = IsWindowVisible(d) != FALSE; return true; },
        [](HWND d) { person::Click(d, SXID_CANCEL); return true; },
    });
    bool workRan = false;
    EXPECT_FALSE(RunProgressDialog("Copying", "Copying", "Cancel", [&](TProgressDlg& dlg) {
        workRan = true;
        dlg.SetProgress(50);
    }));
    EXPECT_TRUE(workRan);
    EXPECT_TRUE(openAfterWork);
    EXPECT_TRUE(script.Finished());
    EXPECT_FALSE(script.TimedOut());
}

// An exception from the work (an aborted extraction) reaches the caller and
// the dialog is gone.
TEST(ProgressDlg, ExceptionFromWorkReachesCaller)
{
    HWND window = nullptr;
    EXPECT_THROW(RunProgressDialog("Copying", "Copying", "Cancel",
                                   [&](TProgressDlg& dlg) {
                                       window = dlg.Handle;
                                       throw std::runtime_error("write failed");
                                   }),
                 std::runtime_error);
    EXPECT_FALSE(IsWindow(window));
}

// ---------------------------------------------------------------- message

// Any command ends the message dialog, a control's notification included; it
// returns false.
TEST(MessageDlg, AnyCommandCloses)
{
    struct Row {
        const char* Name;
        std::function<void(HWND)> Act;
    };
    std::vector<Row> rows = {
        {"OK button", [](HWND d) { person::Click(d, SXID_OK); }},
        {"Enter", [](HWND d) { person::Key(d, VK_RETURN); }},
        {"Escape", [](HWND d) { person::Key(d, VK_ESCAPE); }},
        {"notification", [](HWND d) { person::Command(d, SXID_TEXT, STN_CLICKED); }},
        {"system menu", [](HWND d) { SystemClose(d); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        std::string text, ok;
        TDialogScript script("Done", {[&](HWND d) {
            text = person::Text(d, SXID_TEXT);
            ok = person::Text(d, SXID_OK);
            row.Act(d);
            return true;
        }});
        EXPECT_FALSE(ShowMessageDialog("Done", "Setup is complete.\r\nEnjoy.", "Close"));
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(script.TimedOut());
        EXPECT_EQ("Setup is complete.\r\nEnjoy.", text);
        EXPECT_EQ("Close", ok);
    }
}

// ---------------------------------------------------------------- confirmation

// Yes and Enter (the default button) answer true; No, Escape and the system
// menu answer false; other commands (OK, Abort) are ignored.
TEST(ConfirmDlg, Answers)
{
    struct Row {
        const char* Name;
        std::function<void(HWND)> Act;
        bool Expected;
    };
    std::vector<Row> rows = {
        {"Yes", [](HWND d) { person::Click(d, SXID_YES); }, true},
        {"Enter", [](HWND d) { person::Key(d, VK_RETURN); }, true},
        {"No", [](HWND d) { person::Click(d, SXID_NO); }, false},
        {"Escape", [](HWND d) { person::Key(d, VK_ESCAPE); }, false},
        {"system menu", [](HWND d) { SystemClose(d); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        std::string text, yes, no;
        bool openAfterIgnored = false;
        TDialogScript script("Remove", {
            [&](HWND d) {
                text = person::Text(d, SXID_TEXT);
                yes = person::Text(d, SXID_YES);
                no = person::Text(d, SXID_NO);
                PostMessageA(d, WM_COMMAND, IDOK, 0);
                PostMessageA(d, WM_COMMAND, IDABORT, 0);
                return true;
            },
            [&](HWND d) {
                openAfterIgnored = StillOpen(d);
                row.Act(d);
                return true;
            },
        });
        EXPECT_EQ(row.Expected, AskConfirmation("Remove", "Remove the old version?", "Remove", "Keep"));
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(script.TimedOut());
        EXPECT_TRUE(openAfterIgnored);
        EXPECT_EQ("Remove the old version?", text);
        EXPECT_EQ("Remove", yes);
        EXPECT_EQ("Keep", no);
    }
}

// ---------------------------------------------------------------- license

// The license text shows unchanged and unselected, read-only; Enter does
// nothing; Yes accepts, No and Escape decline.
TEST(LicenseDlg, Answers)
{
    const std::string license = "LICENSE\r\n\r\n1. You may install this product.\r\n2. No warranty.";
    struct Row {
        const char* Name;
        std::function<void(HWND)> Act;
        bool Expected;
    };
    std::vector<Row> rows = {
        {"Yes", [](HWND d) { person::Click(d, SXID_YES); }, true},
        {"No", [](HWND d) { person::Click(d, SXID_NO); }, false},
        {"Escape", [](HWND d) { person::Key(d, VK_ESCAPE); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        std::string text, typedOver;
        DWORD selection = 1;
        bool openAfterEnter = false;
        TDialogScript script("License Agreement", {
            [&](HWND d) {
                text = person::Text(d, SXID_TEXT);
                person::Type(d, SXID_TEXT, "x");  // read-only: nothing changes
                return true;
            },
            [&](HWND d) {
                typedOver = person::Text(d, SXID_TEXT);
                SendDlgItemMessageA(d, SXID_TEXT, EM_SETSEL, 0, -1);  // as after a Tab into the field
                SetFocus(GetDlgItem(d, SXID_YES));
                SetFocus(GetDlgItem(d, SXID_TEXT));  // EN_SETFOCUS removes the selection
                DWORD start = 0, end = 0;
                SendDlgItemMessageA(d, SXID_TEXT, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                                    reinterpret_cast<LPARAM>(&end));
                selection = end - start;
                person::Key(d, VK_RETURN);
                return true;
            },
            [&](HWND d) {
                openAfterEnter = StillOpen(d);
                row.Act(d);
                return true;
            },
        });
        EXPECT_EQ(row.Expected, AskLicenseAcceptance(license));
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(script.TimedOut());
        EXPECT_EQ(license, text);
        EXPECT_EQ(license, typedOver);
        EXPECT_EQ(0u, selection);
        EXPECT_TRUE(openAfterEnter);
    }
}
