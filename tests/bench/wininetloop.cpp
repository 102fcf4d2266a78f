// wininetloop: the plain download that the setup's transfer is measured
// against: the system's Internet library, the same request header, 64 KiB
// reads straight into a file, nothing else.
//
//   wininetloop URL OUTFILE [BLOCK]
//
// BLOCK: bytes per read (default 65,536).
//
// Prints "bytes=N ms=T" and exits 0, or prints the failing step and exits 1.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: wininetloop URL OUTFILE [BLOCK]\n");
        return 2;
    }
    const long block = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 64 * 1024;
    if (block < 1 || block > 16 * 1024 * 1024) {
        std::fprintf(stderr, "BLOCK must be 1 to 16,777,216 bytes\n");
        return 2;
    }
    const DWORD start = GetTickCount();
    HINTERNET root = InternetOpenA("wininetloop", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!root) {
        std::printf("InternetOpen failed: %lu\n", GetLastError());
        return 1;
    }
    HINTERNET request = InternetOpenUrlA(root, argv[1], "Accept: */*", 11, 0, 0);
    if (!request) {
        std::printf("InternetOpenUrl failed: %lu\n", GetLastError());
        InternetCloseHandle(root);
        return 1;
    }
    HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("CreateFile failed: %lu\n", GetLastError());
        InternetCloseHandle(request);
        InternetCloseHandle(root);
        return 1;
    }
    std::vector<char> buffer(static_cast<size_t>(block));
    unsigned long long total = 0;
    int result = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got) || got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) {
            std::printf("WriteFile failed: %lu\n", GetLastError());
            result = 1;
            break;
        }
        total += written;
    }
    CloseHandle(file);
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    std::printf("bytes=%llu ms=%lu\n", total, GetTickCount() - start);
    return result;
}
