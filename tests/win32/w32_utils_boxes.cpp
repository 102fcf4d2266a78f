// The standard message boxes: caption, converted text, buttons and answer.
// A helper thread finds the box by its caption, records what it shows and
// presses a button, as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include "ovUtils.h"

#include <atomic>
#include <thread>

namespace {

struct Seen {
    bool found = false;
    std::string texts;  // the texts of the box's controls, one per line
    DWORD style = 0;
};

BOOL CALLBACK CollectText(HWND child, LPARAM param)
{
    char text[512];
    int n = GetWindowTextA(child, text, sizeof(text));
    reinterpret_cast<Seen*>(param)->texts += std::string(text, n) + "|";
    return TRUE;
}

// Waits for a top-level window with this caption, records it and sends it
// the command `button`.
std::thread Responder(const std::string& caption, int button, Seen& seen)
{
    return std::thread([caption, button, &seen] {
        for (int i = 0; i < 500; ++i) {
            HWND box = FindWindowA("#32770", caption.c_str());
            if (box && IsWindowVisible(box)) {
                seen.found = true;
                seen.style = static_cast<DWORD>(GetWindowLongA(box, GWL_STYLE));
                EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&seen));
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                return;
            }
            Sleep(20);
        }
    });
}

}  // namespace

// Yes answers true, No false; the caption is "Confirmation" and the stored
// "\n" markers are shown as line breaks.
TEST(MessageBoxes, ConfirmAnswers)
{
    struct Row {
        int button;
        bool expected;
    } rows[] = {{IDYES, true}, {IDNO, false}};
    for (size_t i = 0; i < 2; ++i) {
        Seen seen;
        std::thread t = Responder("Confirmation", rows[i].button, seen);
        bool answer = Confirm("Remove the old version?\\nIt is in C:\\old");
        t.join();
        ASSERT_TRUE(seen.found) << "row " << i;
        EXPECT_EQ(rows[i].expected, answer) << "row " << i;
        EXPECT_NE(std::string::npos, seen.texts.find("Remove the old version?\r\nIt is in C:\\old")) << seen.texts;
        EXPECT_NE(std::string::npos, seen.texts.find("&Yes")) << seen.texts;
        EXPECT_NE(std::string::npos, seen.texts.find("&No")) << seen.texts;
    }
}

TEST(MessageBoxes, ErrorBoxShowsTextWithOk)
{
    EXPECT_EQ("Confirmation", ConfirmationCaption);
    EXPECT_EQ("Information", InformationCaption);
    EXPECT_EQ("Error", ErrorCaption);
    Seen seen;
    std::thread t = Responder("Error", IDOK, seen);
    ShowError("Cannot access\\nthe file");
    t.join();
    ASSERT_TRUE(seen.found);
    EXPECT_NE(std::string::npos, seen.texts.find("Cannot access\r\nthe file")) << seen.texts;
    EXPECT_NE(std::string::npos, seen.texts.find("OK")) << seen.texts;
    EXPECT_EQ(std::string::npos, seen.texts.find("&No")) << seen.texts;
}

// The caption texts are the program's: a changed text is used by the next box.
TEST(MessageBoxes, CaptionFollowsTheVariable)
{
    ConfirmationCaption = "Setup of Demo";
    Seen seen;
    std::thread t = Responder("Setup of Demo", IDYES, seen);
    bool answer = ConfirmBox(nullptr, "");
    t.join();
    ConfirmationCaption = "Confirmation";
    EXPECT_TRUE(seen.found);
    EXPECT_TRUE(answer);
}
