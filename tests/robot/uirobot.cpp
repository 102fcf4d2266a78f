// uirobot: drives the setup's dialogs from outside the process, as a person
// would, for the end-to-end tests. Each call does one thing and exits:
//
//   uirobot wait TITLE [--timeout S]      wait for a visible top-level window; prints its handle
//   uirobot gone TITLE [--timeout S]      wait until no such window is left
//   uirobot windows                       one line per visible top-level window: handle, class, title
//   uirobot list TITLE                    one line per control (see below)
//   uirobot rect TITLE                    the window's rectangle on the screen: x,y,w,h
//   uirobot text TITLE ID                 prints the control's text (0 or "title": the window title)
//   uirobot type TITLE ID TEXT            focuses the edit and types TEXT character by character
//   uirobot click TITLE ID                presses a button (BM_CLICK)
//   uirobot command TITLE ID [CODE]       posts WM_COMMAND as the control would send it
//   uirobot key TITLE KEY                 presses a key on the focused control (ENTER, ESCAPE, TAB, SPACE or a number)
//   uirobot close TITLE                   the title bar's close box (fails when the window has none)
//   uirobot msgbox TITLE                  a message box: its text (control 0xFFFF), then one line per button
//   uirobot folder TITLE PATH             folder browser: selects PATH and presses OK
//   uirobot folder TITLE --cancel         folder browser: presses Cancel
//   uirobot items TITLE ID                a list view: one line per row, its columns' texts tab-separated (escaped)
//
// TITLE is matched exactly. Every command but wait and gone first waits for the
// window (--timeout, default 10 seconds). IDs are decimal or 0x hex; -1 and
// 0xFFFF are the same. Exit codes: 0 success, 1 timeout, 2 usage or missing
// control, 3 the action failed. Messages go to stderr.
//
// list prints tab-separated fields: id, class, style (hex), rectangle in pixels
// relative to the client area (x,y,w,h), rectangle in dialog units
// (x,y,w,h, computed from the 8-point "MS Sans Serif" base units, so it may
// be off by one), text with CR, LF, tab and backslash escaped.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum ExitCode { kOk = 0, kTimeout = 1, kUsage = 2, kFailed = 3 };

struct Failure {
    int Code;
    std::string Message;
};

[[noreturn]] void Fail(int code, const std::string& message)
{
    throw Failure{code, message};
}

DWORD TimeoutMs = 10000;

std::string WindowText(HWND window)
{
    // WM_GETTEXT goes to the owning process; a hung window must not hang the robot.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return std::string();
    std::vector<char> buffer(length + 2);
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::string(buffer.data());
}

std::string ClassOf(HWND window)
{
    char name[128] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

struct TopSearch {
    const std::string* Title;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTop(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<TopSearch*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    char title[512] = {};
    GetWindowTextA(window, title, sizeof(title));
    if (!search->Title || *search->Title == title)
        search->Found.push_back(window);
    return TRUE;
}

HWND FindTop(const std::string& title)
{
    TopSearch search{&title, {}};
    EnumWindows(&CollectTop, reinterpret_cast<LPARAM>(&search));
    return search.Found.empty() ? nullptr : search.Found.front();
}

HWND WaitFor(const std::string& title)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = FindTop(title))
            return window;
        if (GetTickCount() - start > TimeoutMs)
            Fail(kTimeout, "timeout: no visible window titled \"" + title + "\"");
        Sleep(50);
    }
}

void WaitGone(const std::string& title)
{
    DWORD start = GetTickCount();
    while (FindTop(title)) {
        if (GetTickCount() - start > TimeoutMs)
            Fail(kTimeout, "timeout: window \"" + title + "\" is still there");
        Sleep(50);
    }
}

int ParseId(const std::string& text)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end)
        Fail(kUsage, "not a control id: " + text);
    return static_cast<int>(value & 0xFFFF);
}

HWND Control(HWND dialog, int id)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetDlgCtrlID(child) & 0xFFFF) == id)
            return child;
    Fail(kUsage, "no control with id " + std::to_string(id));
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

// Dialog base units of the templates' font, for the dialog-unit estimate.
void BaseUnits(int& x, int& y)
{
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                             DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SIZE size = {};
    const char sample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32A(dc, sample, 52, &size);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    x = (size.cx / 26 + 1) / 2;
    y = tm.tmHeight;
    if (x <= 0)
        x = 6;
    if (y <= 0)
        y = 13;
}

void List(HWND dialog)
{
    int bx = 0, by = 0;
    BaseUnits(bx, by);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        int w = r.right - r.left, h = r.bottom - r.top;
        std::printf("%d\t%s\t0x%08lX\t%ld,%ld,%d,%d\t%d,%d,%d,%d\t%s\n", GetDlgCtrlID(child) & 0xFFFF,
                    ClassOf(child).c_str(), static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)), r.left,
                    r.top, w, h, MulDiv(r.left, 4, bx), MulDiv(r.top, 8, by), MulDiv(w, 4, bx), MulDiv(h, 8, by),
                    Escape(WindowText(child)).c_str());
    }
}

// Gives the control the keyboard focus of its own thread.
void FocusControl(HWND control)
{
    DWORD target = GetWindowThreadProcessId(control, nullptr);
    DWORD self = GetCurrentThreadId();
    bool attached = AttachThreadInput(self, target, TRUE) != FALSE;
    SetFocus(control);
    if (attached)
        AttachThreadInput(self, target, FALSE);
}

void Type(HWND control, const std::string& text)
{
    if (!IsWindowEnabled(control))
        Fail(kFailed, "the control is disabled");
    FocusControl(control);
    for (unsigned char c : text) {
        // Sent, not posted: when the robot returns, the text and its EN_CHANGE are in.
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(control, WM_CHAR, c, 1, SMTO_ABORTIFHUNG, 5000, &ignored))
            Fail(kFailed, "the window does not answer");
    }
}

void Click(HWND button)
{
    if (!IsWindowEnabled(button) || !IsWindowVisible(button))
        Fail(kFailed, "the button is disabled or hidden");
    // Posted: a button that opens another modal window must not block the robot.
    PostMessageA(button, BM_CLICK, 0, 0);
}

UINT ParseKey(const std::string& name)
{
    struct Named {
        const char* Name;
        UINT Key;
    };
    static const Named keys[] = {{"ENTER", VK_RETURN}, {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE},
                                 {"ESC", VK_ESCAPE},   {"TAB", VK_TAB},       {"SPACE", VK_SPACE}};
    for (const Named& k : keys)
        if (!lstrcmpiA(k.Name, name.c_str()))
            return k.Key;
    char* end = nullptr;
    long value = std::strtol(name.c_str(), &end, 0);
    if (name.empty() || *end || value <= 0 || value > 255)
        Fail(kUsage, "unknown key: " + name);
    return static_cast<UINT>(value);
}

// A key press goes to the focused window of the dialog's thread, where the
// dialog manager sees it in the modal loop.
void Key(HWND dialog, UINT key)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        target = info.hwndFocus;
    UINT scan = MapVirtualKeyA(key, 0);
    PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    if (key == VK_SPACE)
        PostMessageA(target, WM_CHAR, ' ', 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void CloseBox(HWND window)
{
    if (!(GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU))
        Fail(kFailed, "the window has no close box");
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void MessageBoxInfo(HWND box)
{
    bool found = false;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetDlgCtrlID(child) & 0xFFFF) == 0xFFFF && !lstrcmpiA(ClassOf(child).c_str(), "Static") &&
            !WindowText(child).empty()) {
            std::printf("%s\n", Escape(WindowText(child)).c_str());
            found = true;
            break;
        }
    if (!found)
        Fail(kUsage, "no message text (control 0xFFFF)");
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (!lstrcmpiA(ClassOf(child).c_str(), "Button") && IsWindowVisible(child))
            std::printf("%d\t%s\n", GetDlgCtrlID(child), Escape(WindowText(child)).c_str());
}

// Memory in another process, for messages whose parameters are pointers.
class TRemoteBuffer {
public:
    TRemoteBuffer(HWND window, size_t size) : Size(size)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        Process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (!Process)
            Fail(kFailed, "cannot open the window's process");
        Address = static_cast<char*>(VirtualAllocEx(Process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        if (!Address) {
            CloseHandle(Process);
            Fail(kFailed, "cannot allocate memory in the window's process");
        }
    }
    ~TRemoteBuffer()
    {
        VirtualFreeEx(Process, Address, 0, MEM_RELEASE);
        CloseHandle(Process);
    }
    TRemoteBuffer(const TRemoteBuffer&) = delete;
    TRemoteBuffer& operator=(const TRemoteBuffer&) = delete;

    char* Remote(size_t offset = 0) const { return Address + offset; }
    void Write(size_t offset, const void* data, size_t size) const
    {
        if (offset + size > Size || !WriteProcessMemory(Process, Address + offset, data, size, nullptr))
            Fail(kFailed, "cannot write to the window's process");
    }
    void Read(size_t offset, void* data, size_t size) const
    {
        if (offset + size > Size || !ReadProcessMemory(Process, Address + offset, data, size, nullptr))
            Fail(kFailed, "cannot read from the window's process");
    }

private:
    HANDLE Process = nullptr;
    char* Address = nullptr;
    size_t Size;
};

HWND FindChildOfClass(HWND parent, const char* cls)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!lstrcmpiA(ClassOf(child).c_str(), cls))
            return child;
        if (HWND inner = FindChildOfClass(child, cls))
            return inner;
    }
    return nullptr;
}

// The text of the tree's selected item ("" when none).
std::string SelectedTreeText(HWND tree, const TRemoteBuffer& buffer)
{
    DWORD_PTR item = 0;
    if (!SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 5000, &item) || !item)
        return std::string();
    const size_t textOffset = 64;
    TVITEMA request = {};
    request.mask = TVIF_TEXT | TVIF_HANDLE;
    request.hItem = reinterpret_cast<HTREEITEM>(item);
    request.pszText = buffer.Remote(textOffset);
    request.cchTextMax = 260;
    buffer.Write(0, &request, sizeof(request));
    char empty = 0;
    buffer.Write(textOffset, &empty, 1);
    DWORD_PTR ok = 0;
    SendMessageTimeoutA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(buffer.Remote()), SMTO_ABORTIFHUNG, 5000,
                        &ok);
    char text[261] = {};
    buffer.Read(textOffset, text, 260);
    return text;
}

// Every row of a report-style list view: the columns' texts, tab-separated.
void ListItems(HWND list)
{
    DWORD_PTR rows = 0, columns = 0;
    SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &rows);
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    if (header)
        SendMessageTimeoutA(header, HDM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &columns);
    if (columns == 0)
        columns = 1;
    TRemoteBuffer buffer(list, 4096);
    const size_t textOffset = 128;
    const int room = 2048;
    for (DWORD_PTR row = 0; row < rows; ++row) {
        std::string line;
        for (DWORD_PTR column = 0; column < columns; ++column) {
            LVITEMA request = {};
            request.iSubItem = static_cast<int>(column);
            request.pszText = buffer.Remote(textOffset);
            request.cchTextMax = room;
            buffer.Write(0, &request, sizeof(request));
            char empty = 0;
            buffer.Write(textOffset, &empty, 1);
            DWORD_PTR length = 0;
            SendMessageTimeoutA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(buffer.Remote()),
                                SMTO_ABORTIFHUNG, 5000, &length);
            std::string text(room + 1, '\0');
            buffer.Read(textOffset, &text[0], room);
            text.resize(std::strlen(text.c_str()));
            if (column > 0)
                line += '\t';
            line += Escape(text);
        }
        std::printf("%s\n", line.c_str());
    }
}

// What the tree shows for the folder: its last path component ("C:" for a root).
std::string ExpectedTreeText(std::string path)
{
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (path.size() <= 3)
        return path.substr(0, 2);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A folder shows as its name; a drive as "C:" or with a label, "System (C:)".
bool TreeTextMatches(std::string shown, std::string expected)
{
    CharUpperA(&shown[0]);
    CharUpperA(&expected[0]);
    if (shown.empty())
        return false;
    if (shown == expected)
        return true;
    return expected.size() == 2 && expected[1] == ':' && shown.find(expected) != std::string::npos;
}

// Selects path in a folder browser of another process (the path must live in
// that process's memory for BFFM_SETSELECTION). The browser fills its tree
// after it is shown and a selection made before is lost, so the selection is
// repeated until the tree's selected item shows the folder.
void SelectFolder(HWND browser, const std::string& path)
{
    HWND tree = FindChildOfClass(browser, WC_TREEVIEWA);
    if (!tree)
        Fail(kUsage, "not a folder browser: no tree");
    TRemoteBuffer buffer(browser, 64 + 261 + path.size() + 1);
    const size_t pathOffset = 64 + 261;
    buffer.Write(pathOffset, path.c_str(), path.size() + 1);
    const std::string expected = ExpectedTreeText(path);
    std::string shown;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD_PTR count = 0;
        SendMessageTimeoutA(tree, TVM_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
        if (count > 0) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(buffer.Remote(pathOffset)),
                                SMTO_ABORTIFHUNG, 5000, &ignored);
            shown = SelectedTreeText(tree, buffer);
            if (TreeTextMatches(shown, expected))
                return;
        }
        if (GetTickCount() - start > TimeoutMs)
            Fail(kTimeout, "timeout: the browser does not select " + path + " (selected: \"" + shown + "\")");
        Sleep(100);
    }
}

void Usage()
{
    Fail(kUsage,
         "usage: uirobot wait|gone|list|windows|text|type|click|command|key|close|msgbox|folder|items TITLE ... "
         "[--timeout SECONDS]");
}

int Run(std::vector<std::string> args)
{
    // Options first: --timeout anywhere on the line.
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--timeout") {
            if (i + 1 >= args.size())
                Usage();
            TimeoutMs = static_cast<DWORD>(std::atof(args[i + 1].c_str()) * 1000);
            args.erase(args.begin() + i, args.begin() + i + 2);
            --i;
        }
    }
    if (args.empty())
        Usage();
    const std::string command = args[0];
    if (command == "windows") {
        TopSearch search{nullptr, {}};
        EnumWindows(&CollectTop, reinterpret_cast<LPARAM>(&search));
        for (HWND w : search.Found) {
            char title[512] = {};
            GetWindowTextA(w, title, sizeof(title));
            std::printf("0x%08lX\t%s\t%s\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(w)),
                        ClassOf(w).c_str(), title);
        }
        return kOk;
    }
    if (args.size() < 2)
        Usage();
    const std::string& title = args[1];
    if (command == "gone") {
        WaitGone(title);
        return kOk;
    }
    HWND window = WaitFor(title);
    auto need = [&](size_t count) {
        if (args.size() < count)
            Usage();
    };
    if (command == "wait") {
        std::printf("0x%08lX\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    } else if (command == "list") {
        List(window);
    } else if (command == "rect") {
        RECT r;
        GetWindowRect(window, &r);
        std::printf("%ld,%ld,%ld,%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    } else if (command == "text") {
        need(3);
        if (args[2] == "title" || args[2] == "0")
            std::printf("%s\n", WindowText(window).c_str());
        else
            std::printf("%s\n", WindowText(Control(window, ParseId(args[2]))).c_str());
    } else if (command == "type") {
        need(4);
        Type(Control(window, ParseId(args[2])), args[3]);
    } else if (command == "click") {
        need(3);
        Click(Control(window, ParseId(args[2])));
    } else if (command == "command") {
        need(3);
        int id = ParseId(args[2]);
        int code = args.size() > 3 ? std::atoi(args[3].c_str()) : 0;
        HWND control = nullptr;
        for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if ((GetDlgCtrlID(c) & 0xFFFF) == id)
                control = c;
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
    } else if (command == "key") {
        need(3);
        Key(window, ParseKey(args[2]));
    } else if (command == "close") {
        CloseBox(window);
    } else if (command == "msgbox") {
        MessageBoxInfo(window);
    } else if (command == "items") {
        need(3);
        ListItems(Control(window, ParseId(args[2])));
    } else if (command == "folder") {
        need(3);
        if (args[2] == "--cancel") {
            Click(Control(window, IDCANCEL));
        } else {
            SelectFolder(window, args[2]);
            Click(Control(window, IDOK));
        }
    } else {
        Usage();
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    // Texts go out byte for byte: a CR LF in a control stays CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        int code = Run(args);
        std::fflush(stdout);
        return code;
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "uirobot: %s\n", failure.Message.c_str());
        return failure.Code;
    }
}
