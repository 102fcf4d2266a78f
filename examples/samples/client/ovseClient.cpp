// Sample client library for setups: exports all sixteen hooks with the
// stdcall convention under their plain names, and lets a test decide, without
// rebuilding, what each hook answers and writes into its buffer.
//
// Control file: the path in the environment variable SX_CLIENT_SCRIPT, else
// "ovseClient.ini" in the folder of the running program (the setup). It is
// read on every call, so a test may change it between calls:
//
//   [General]
//   Trace=C:\path\trace.txt      ; one line per call is appended here
//   Delay=100                    ; GetExtarctedFileName waits this many ms
//                                ; (at most 10 s), so a test can slow the
//                                ; extraction down at will
//   [Answers]
//   BeforeGetPassword=0          ; answer of a hook (default 1)
//   [Buffer]
//   BeforeGetTargetFolder=C:\Target   ; text the hook writes into its buffer
//                                     ; ("*FILL*": all 261 bytes 'A', no terminator)
//   [Skip]
//   readme.txt=1                 ; GetExtarctedFileName answers 0 for this file name
//   [Rename]
//   a.txt=b.txt                  ; GetExtarctedFileName: new file name in the same folder
//   c.txt=C:\other\c.txt         ; or a whole new path (a value holding a backslash)
//
// Trace line: <hook name> TAB <buffer text as received> CR LF.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

const size_t BufferLength = 260;

std::string ControlFile()
{
    char value[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA("SX_CLIENT_SCRIPT", value, sizeof(value));
    if (n > 0 && n < sizeof(value))
        return value;
    char exe[MAX_PATH * 2];
    n = GetModuleFileNameA(nullptr, exe, sizeof(exe));
    if (n == 0 || n >= sizeof(exe))
        return std::string();
    std::string path(exe, n);
    size_t slash = path.find_last_of('\\');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return path + "ovseClient.ini";
}

std::string ReadEntry(const std::string& file, const char* section, const std::string& name, const char* fallback)
{
    char value[2048];
    GetPrivateProfileStringA(section, name.c_str(), fallback, value, sizeof(value), file.c_str());
    return value;
}

bool HasEntry(const std::string& file, const char* section, const std::string& name)
{
    // A marker default that no control file uses tells "missing" from "empty".
    return ReadEntry(file, section, name, "\x01") != "\x01";
}

void Trace(const std::string& file, const char* hook, const char* buffer)
{
    std::string target = ReadEntry(file, "General", "Trace", "");
    if (target.empty())
        return;
    std::string line = std::string(hook) + "\t" + std::string(buffer, strnlen(buffer, BufferLength)) + "\r\n";
    HANDLE h = CreateFileA(target.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

void WriteBuffer(char* buffer, const std::string& text)
{
    if (text == "*FILL*") {
        std::memset(buffer, 'A', BufferLength + 1);
        return;
    }
    size_t n = text.size() < BufferLength ? text.size() : BufferLength;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

unsigned char Hook(const char* name, char* buffer)
{
    std::string file = ControlFile();
    Trace(file, name, buffer);
    if (HasEntry(file, "Buffer", name))
        WriteBuffer(buffer, ReadEntry(file, "Buffer", name, ""));
    return GetPrivateProfileIntA("Answers", name, 1, file.c_str()) != 0 ? 1 : 0;
}

unsigned char FileNameHook(char* buffer)
{
    std::string file = ControlFile();
    Trace(file, "GetExtarctedFileName", buffer);
    const UINT delay = GetPrivateProfileIntA("General", "Delay", 0, file.c_str());
    if (delay > 0)
        Sleep(delay < 10000 ? delay : 10000);
    std::string path(buffer, strnlen(buffer, BufferLength));
    size_t slash = path.find_last_of('\\');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (GetPrivateProfileIntA("Skip", name.c_str(), 0, file.c_str()) != 0)
        return 0;
    std::string renamed = ReadEntry(file, "Rename", name, "");
    if (!renamed.empty()) {
        if (renamed.find('\\') == std::string::npos)
            renamed = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + renamed;
        WriteBuffer(buffer, renamed);
    }
    return GetPrivateProfileIntA("Answers", "GetExtarctedFileName", 1, file.c_str()) != 0 ? 1 : 0;
}

}  // namespace

#define SX_HOOK(name) \
    extern "C" __declspec(dllexport) unsigned char __stdcall name(char* buffer) { return Hook(#name, buffer); }

SX_HOOK(BeforeExecute)
SX_HOOK(BeforeGetPassword)
SX_HOOK(AfterGetPassword)
SX_HOOK(BeforeAcceptLicense)
SX_HOOK(AfterAcceptLicense)
SX_HOOK(BeforeGetTargetFolder)
SX_HOOK(AfterGetTargetFolder)
SX_HOOK(BeforeExtractFiles)
SX_HOOK(AfterExtractFiles)
SX_HOOK(BeforeExecuteCommand)
SX_HOOK(AfterExecuteCommand)
SX_HOOK(BeforeDeleteTempFiles)
SX_HOOK(AfterDeleteTempFiles)
SX_HOOK(AfterExecute)
SX_HOOK(BeforeTerminate)

extern "C" __declspec(dllexport) unsigned char __stdcall GetExtarctedFileName(char* buffer)
{
    return FileNameHook(buffer);
}
