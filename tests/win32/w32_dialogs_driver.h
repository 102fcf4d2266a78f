// Drives a modal dialog of the test's own thread from a thread timer: the
// modal loop under test dispatches the timer, so each step runs between two
// messages of that loop, exactly where user input would arrive. Keys and
// characters are posted to the focused control and go through the dialog
// manager like a person's typing.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class TDialogScript {
public:
    // A step gets the dialog window; it returns false to be called again at
    // the next tick (waiting for a condition), true when it is done.
    using Step = std::function<bool(HWND dialog)>;

    TDialogScript(std::string title, std::vector<Step> steps, DWORD timeoutMs = 15000)
        : Title(std::move(title)), Steps(std::move(steps)), Deadline(GetTickCount() + timeoutMs)
    {
        Current() = this;
        Timer = SetTimer(nullptr, 0, 25, &TDialogScript::Tick);
    }
    ~TDialogScript()
    {
        KillTimer(nullptr, Timer);
        Current() = nullptr;
    }
    TDialogScript(const TDialogScript&) = delete;
    TDialogScript& operator=(const TDialogScript&) = delete;

    bool Finished() const { return Next == Steps.size(); }
    bool TimedOut() const { return Expired; }
    bool SawDialog() const { return Seen; }

    // Finds a visible top-level window of this thread with the exact title
    // (any title when title is empty).
    static HWND FindDialog(const std::string& title)
    {
        struct Search {
            const std::string* Title;
            HWND Found;
        } search{&title, nullptr};
        EnumThreadWindows(GetCurrentThreadId(), &TDialogScript::Match, reinterpret_cast<LPARAM>(&search));
        return search.Found;
    }

private:
    static BOOL CALLBACK Match(HWND window, LPARAM data)
    {
        struct Search {
            const std::string* Title;
            HWND Found;
        };
        auto* s = reinterpret_cast<Search*>(data);
        char text[256] = {};
        GetWindowTextA(window, text, sizeof(text));
        if (IsWindowVisible(window) && (s->Title->empty() || *s->Title == text)) {
            s->Found = window;
            return FALSE;
        }
        return TRUE;
    }

    static TDialogScript*& Current()
    {
        static TDialogScript* current = nullptr;
        return current;
    }

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        TDialogScript* self = Current();
        if (!self || self->Busy)
            return;
        self->Busy = true;
        self->Run();
        self->Busy = false;
    }

    void Run()
    {
        HWND dialog = FindDialog(Title);
        if (GetTickCount() > Deadline) {
            // Leave the modal loop so that the test fails instead of hanging.
            if (dialog && !Expired)
                EndDialog(dialog, 0);
            Expired = true;
            return;
        }
        if (!dialog || Finished())
            return;
        Seen = true;
        if (Steps[Next](dialog))
            ++Next;
    }

    std::string Title;
    std::vector<Step> Steps;
    DWORD Deadline;
    UINT_PTR Timer = 0;
    size_t Next = 0;
    bool Busy = false;
    bool Expired = false;
    bool Seen = false;
};

// Small actions a person takes, for use inside steps.
namespace person {

inline std::string Text(HWND dialog, int id)
{
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

// Focuses the edit and posts one WM_CHAR per character.
inline void Type(HWND dialog, int id, const std::string& text)
{
    HWND edit = GetDlgItem(dialog, id);
    SetFocus(edit);
    for (unsigned char c : text)
        PostMessageA(edit, WM_CHAR, c, 1);
}

// A key press on the focused control, through the dialog manager.
inline void Key(HWND dialog, UINT vk)
{
    HWND target = GetFocus();
    if (!target || (target != dialog && !IsChild(dialog, target)))
        target = dialog;
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

inline void Click(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// A WM_COMMAND as a control would send it: id and notification code.
inline void Command(HWND dialog, int id, int code)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace person
