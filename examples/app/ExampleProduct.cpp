// The example product: a small window that shows the product's readme.txt
// (read from the program's own folder). It is what the example setup
// installs, with a Start-menu link, a desktop link and its icon in the list
// of installed programs.
#include <windows.h>

namespace {

const char* const WindowClass = "ExampleProductWindow";
const int ReadmeId = 100;
const DWORD MaxReadme = 1u << 20;

// readme.txt beside the program, with bare line feeds made CR LF for the
// edit control, into a buffer of the process heap (no C++ library: the
// program stays small). Null when it cannot be read.
char* ReadReadme()
{
    char path[MAX_PATH + 16] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    char* slash = path + n;
    while (slash > path && slash[-1] != '\\')
        --slash;
    lstrcpyA(slash, "readme.txt");
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    char* text = nullptr;
    DWORD size = GetFileSize(h, nullptr);
    HANDLE heap = GetProcessHeap();
    char* data = size != INVALID_FILE_SIZE && size <= MaxReadme
                     ? static_cast<char*>(HeapAlloc(heap, 0, size + 1)) : nullptr;
    DWORD got = 0;
    if (data && (size == 0 || ReadFile(h, data, size, &got, nullptr))) {
        // At worst every byte is a bare line feed.
        text = static_cast<char*>(HeapAlloc(heap, 0, 2 * static_cast<SIZE_T>(got) + 1));
        if (text) {
            char* out = text;
            for (DWORD i = 0; i < got; ++i) {
                if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
                    *out++ = '\r';
                *out++ = data[i] ? data[i] : ' ';
            }
            *out = 0;
        }
    }
    if (data)
        HeapFree(heap, 0, data);
    CloseHandle(h);
    return text;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                                    0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ReadmeId)),
                                    GetModuleHandleA(nullptr), nullptr);
        if (!edit)
            return -1;
        SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        char* text = ReadReadme();
        SetWindowTextA(edit, text ? text : "readme.txt cannot be read from the program's folder.");
        if (text)
            HeapFree(GetProcessHeap(), 0, text);
        return 0;
    }
    case WM_SIZE:
        MoveWindow(GetDlgItem(window, ReadmeId), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "MAINICON");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = WindowClass;
    if (!RegisterClassA(&wc))
        return 1;
    HWND window = CreateWindowExA(0, WindowClass, "Example Product", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 560, 420, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
