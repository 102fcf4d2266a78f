// The PE resource writer against the Windows loader: a copy of this test
// program with an "SX_STORAGE" resource added by the builder's writer is
// opened with LoadLibraryExA as a data file, FindResourceA finds the archive
// byte for byte at sizes around the writer's chunk and alignment, the
// program's own dialog templates are still there, the loader's checksum
// routine agrees with the header, and the copy still runs.
#include <gtest/gtest.h>

#include <windows.h>

#include "sxPEFile.h"
#include "w32_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::string SelfPath()
{
    char buf[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, sizeof buf);
    return std::string(buf, n);
}

std::vector<uint8_t> Payload(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(size);
    for (auto& c : d)
        c = static_cast<uint8_t>(rng());
    return d;
}

// The bytes of a resource of a module loaded as a data file.
bool ReadResource(HMODULE module, const char* name, LPCSTR type, std::vector<uint8_t>& out)
{
    HRSRC res = FindResourceA(module, name, type);
    if (!res)
        return false;
    HGLOBAL mem = LoadResource(module, res);
    DWORD size = SizeofResource(module, res);
    const void* p = LockResource(mem);
    if (!p && size)
        return false;
    out.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
    return true;
}

// CheckSumMappedFile of imagehlp: the system's own computation.
bool SystemChecksum(const std::string& path, DWORD& header, DWORD& computed)
{
    HMODULE imagehlp = LoadLibraryA("imagehlp.dll");
    if (!imagehlp)
        return false;
    using Fn = PIMAGE_NT_HEADERS(WINAPI*)(PVOID, DWORD, PDWORD, PDWORD);
    auto fn = reinterpret_cast<Fn>(GetProcAddress(imagehlp, "CheckSumMappedFile"));
    bool ok = false;
    if (fn) {
        std::vector<uint8_t> b = ReadFileBytes(path);
        ok = fn(b.data(), static_cast<DWORD>(b.size()), &header, &computed) != nullptr;
    }
    FreeLibrary(imagehlp);
    return ok;
}

}  // namespace

// Payload sizes that straddle the 8-byte data alignment, the file alignment
// and the writer's 1 MB copy chunk; each copy is a loadable image whose
// SX_STORAGE reads back byte for byte beside the original templates.
TEST(PEResourcesUnderWindows, ArchiveReadsBackThroughTheLoader)
{
    const size_t sizes[] = {0, 1, 7, 8, 9, 511, 512, 513, (1 << 20) - 1, (1 << 20) + 1, 3 << 20};
    std::string self = SelfPath();
    std::string temp = testing::TempDir();
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        SCOPED_TRACE(sizes[i]);
        std::vector<uint8_t> payload = Payload(sizes[i], static_cast<uint32_t>(i));
        TPEFile pe;
        pe.LoadFromFile(self);
        pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), payload);
        std::string out = temp + "w32_peres_copy.exe";
        {
            TFileStream f(out, fmCreate);
            pe.SaveToStream(f);
        }
        HMODULE m = LoadLibraryExA(out.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m) << GetLastError();
        std::vector<uint8_t> back;
        EXPECT_TRUE(ReadResource(m, "SX_STORAGE", MAKEINTRESOURCEA(10), back));
        EXPECT_TRUE(back == payload);
        std::vector<uint8_t> dialog;
        EXPECT_TRUE(ReadResource(m, "DLG_PASSWORD", MAKEINTRESOURCEA(5), dialog));
        EXPECT_FALSE(dialog.empty());
        FreeLibrary(m);

        DWORD header = 0, computed = 0;
        EXPECT_TRUE(SystemChecksum(out, header, computed));
        EXPECT_EQ(computed, header);
        EXPECT_NE(0u, header);
        DeleteFileA(out.c_str());
    }
}

// A copy with a 2 MB archive still starts and runs: it lists its tests and
// exits with code 0.
TEST(PEResourcesUnderWindows, CopyStillRuns)
{
    std::string out = testing::TempDir() + "w32_peres_run.exe";
    {
        TPEFile pe;
        pe.LoadFromFile(SelfPath());
        pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Payload(2 << 20, 77));
        TFileStream f(out, fmCreate);
        pe.SaveToStream(f);
    }
    std::string cmd = "\"" + out + "\" --gtest_list_tests";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
    DWORD code = 1234;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileA(out.c_str());
}

// Used by the end-to-end test: SX_PERES_SETUP names a setup built by
// sxbuild and SX_PERES_ARCHIVE the bare archive of the same project; the
// setup's SX_STORAGE must equal the archive. Skipped when they are not set.
TEST(PEResourcesUnderWindows, BuiltSetupFromEnvironment)
{
    const char* setup = std::getenv("SX_PERES_SETUP");
    const char* archive = std::getenv("SX_PERES_ARCHIVE");
    if (!setup || !archive)
        GTEST_SKIP() << "SX_PERES_SETUP / SX_PERES_ARCHIVE not set";
    HMODULE m = LoadLibraryExA(setup, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m) << GetLastError();
    std::vector<uint8_t> back;
    EXPECT_TRUE(ReadResource(m, "SX_STORAGE", MAKEINTRESOURCEA(10), back));
    EXPECT_TRUE(back == ReadFileBytes(archive));
    std::vector<uint8_t> manifest;
    EXPECT_TRUE(ReadResource(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), manifest));
    std::vector<uint8_t> dialog;
    EXPECT_TRUE(ReadResource(m, "DLG_PASSWORD", MAKEINTRESOURCEA(5), dialog));
    FreeLibrary(m);
    DWORD header = 0, computed = 0;
    EXPECT_TRUE(SystemChecksum(setup, header, computed));
    EXPECT_EQ(computed, header);
}
