// The extractors against Wine's real files and registry, with archives built
// in memory the way the builder lays them out. Runs unattended (SilentMode),
// so every message becomes a run-log entry that the tests read back.
#include <gtest/gtest.h>
#include <windows.h>

#include "w32_helpers.h"

#include "ovBlowFish.h"
#include "ovUtils.h"
#include "ovsZIP.h"
#include "sxExtract.h"
#include "sxExtractSL.h"
#include "sxUtils.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Deterministic bytes (no time seed): a simple linear congruential sequence.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> data(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        // Half of each file repeats, so it compresses and still varies.
        data[i] = (i / 512) % 2 ? static_cast<uint8_t>(i % 7) : static_cast<uint8_t>(x >> 24);
    }
    return data;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& plain)
{
    TMemoryStream out;
    {
        TCompressionStream zip(2, out);
        if (!plain.empty())
            zip.WriteBuffer(plain.data(), static_cast<int32_t>(plain.size()));
        zip.Finish();
    }
    return out.Bytes();
}

struct TTestFile {
    std::string Name;
    std::vector<uint8_t> Data;
    bool Compressed = false;
    int32_t FolderIndex = -1;
    // Damage applied to the stored bytes after encoding.
    std::function<void(std::vector<uint8_t>&)> Damage = nullptr;
    int32_t SizeDelta = 0;  // added to the entry's Size
};

// Builds an archive: header, string table, stored data.
std::vector<uint8_t> BuildArchive(TSXHeader& header, const std::vector<std::string>& strings,
                                  const std::vector<TTestFile>& files, const std::string& password = "")
{
    std::vector<std::vector<uint8_t>> stored;
    header.Files.clear();
    if (!password.empty()) {
        header.Options |= soPassword;
        std::vector<uint8_t> block(((password.size() + 1 + 7) / 8) * 8, 0);
        std::memcpy(block.data(), password.data(), password.size());
        EncryptBuffer(block.data(), static_cast<int32_t>(block.size()), password);
        header.CheckLength = static_cast<int16_t>(block.size());
        std::memcpy(header.CheckBlock, block.data(), block.size());
    }
    for (const TTestFile& f : files) {
        TFileInfo entry;
        entry.Name = f.Name;
        entry.Compressed = f.Compressed;
        entry.Size = static_cast<int32_t>(f.Data.size()) + f.SizeDelta;
        entry.FolderIndex = f.FolderIndex;
        std::vector<uint8_t> bytes = f.Compressed ? Compress(f.Data) : f.Data;
        if (!password.empty()) {
            entry.PlainSize = static_cast<int32_t>(bytes.size());
            bytes.resize((bytes.size() + 7) / 8 * 8, 0);
            EncryptBuffer(bytes.data(), static_cast<int32_t>(bytes.size()), password);
        }
        if (f.Damage)
            f.Damage(bytes);
        entry.StoredSize = static_cast<int32_t>(bytes.size());
        header.Files.push_back(entry);
        stored.push_back(bytes);
    }
    header.FileCount = static_cast<int16_t>(files.size());
    TMemoryStream out;
    header.SaveAllToStream(out);
    std::string table;
    for (size_t i = 0; i < strings.size(); ++i)
        table += (i ? "\r\n" : "") + strings[i];
    WriteShortString(out, table);
    for (const auto& s : stored)
        if (!s.empty())
            out.WriteBuffer(s.data(), static_cast<int32_t>(s.size()));
    return out.Bytes();
}

std::vector<std::string> DefaultStrings()
{
    std::vector<std::string> s(22);
    s[0] = "Test Setup";
    s[1] = "Test Product";
    s[2] = "Welcome to <SetupName>";
    return s;
}

std::string ReadFileOrMissing(const std::string& path)
{
    return ReadFileText(path, "<missing>");
}

std::string AsText(const std::vector<uint8_t>& data)
{
    return std::string(data.begin(), data.end());
}

// The base extractor with the sequence of an unattended extraction.
class TTestExtractor : public TSXExtractor {
public:
    bool Execute() override { return GetTargetFolder() && ExtractFiles(); }
};

class TTestExtractorSL : public TSXExtractorSL {};

class ExtractTest : public testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        Folder = GetTempDir() + FormatText("w32ext%lu_%d", GetCurrentProcessId(), ++counter);
        ASSERT_TRUE(CreateDirectoryA(Folder.c_str(), nullptr));
        SilentMode = false;
        RunLog.clear();
        MaxSeverity = 0;
    }
    void TearDown() override
    {
        DeleteTree(Folder);
        SilentMode = false;
        RunLog.clear();
        MaxSeverity = 0;
    }

    // Loads archive into extractor (unattended) and runs its extraction into
    // Folder; returns false when the run ended with the silent abort.
    bool Extract(TSXExtractor& extractor, TStream& stream, const std::string& password = "")
    {
        if (!extractor.Load(stream))
            return false;
        extractor.Password = password;
        extractor.TargetFolder = Folder + "\\";
        try {
            return extractor.ExtractFiles();
        } catch (const EAbort&) {
            return false;
        }
    }

    std::string Folder;
};

}  // namespace

// Files of sizes around the 61,440-byte output chunk and the 65,536-byte
// zlib buffer come out byte for byte: stored, compressed, enciphered, both;
// from a resource-like memory window and from a plain stream.
TEST_F(ExtractTest, DecodesEveryFormAtChunkBoundaries)
{
    const size_t sizes[] = {0, 1, 61439, 61440, 61441, 65536, 200000};
    const char* const passwords[] = {"", "secret"};
    for (int usePassword = 0; usePassword < 2; ++usePassword) {
        for (int memoryWindow = 0; memoryWindow < 2; ++memoryWindow) {
            SCOPED_TRACE(testing::Message() << "password " << usePassword << " memory " << memoryWindow);
            std::vector<TTestFile> files;
            uint32_t seed = 1;
            for (size_t size : sizes) {
                for (int compressed = 0; compressed < 2; ++compressed) {
                    TTestFile f;
                    f.Name = FormatText("sub\\f%u_%d.bin", static_cast<unsigned>(size), compressed);
                    f.Data = Pattern(size, seed++);
                    f.Compressed = compressed != 0;
                    files.push_back(f);
                }
            }
            TSXHeader header;
            header.Options = soSilent;
            std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), files, passwords[usePassword]);
            TTestExtractor extractor;
            bool ok;
            if (memoryWindow) {
                TReadOnlyMemoryStream stream(archive.data(), archive.size());
                ok = Extract(extractor, stream, passwords[usePassword]);
            } else {
                TMemoryStream stream;
                stream.WriteBuffer(archive.data(), static_cast<int32_t>(archive.size()));
                stream.SetPosition(0);
                ok = Extract(extractor, stream, passwords[usePassword]);
            }
            ASSERT_TRUE(ok) << RunLog;
            EXPECT_EQ("", RunLog);
            for (size_t i = 0; i < files.size(); ++i) {
                SCOPED_TRACE(files[i].Name);
                EXPECT_EQ(AsText(files[i].Data), ReadFileOrMissing(Folder + "\\" + files[i].Name));
            }
        }
    }
}

// Damaged data is a failure of that file, logged with its path unchanged and
// ending the run: a corrupt zlib stream, one cut short, a wrong Size, and
// enciphered data whose padding is missing. No short file is left behind.
TEST_F(ExtractTest, DamagedDataEndsTheRunWithThePathIntact)
{
    std::vector<uint8_t> plain = Pattern(100000, 7);
    struct TCase {
        const char* What;
        bool Compressed;
        std::function<void(std::vector<uint8_t>&)> Damage;
        int32_t SizeDelta;
        const char* Password;
    };
    const TCase cases[] = {
        {"corrupt zlib", true, [](std::vector<uint8_t>& b) { for (size_t i = 10; i < 200; ++i) b[i] ^= 0x5A; }, 0, ""},
        {"zlib cut short", true, [](std::vector<uint8_t>& b) { b.resize(b.size() / 2); }, 0, ""},
        {"size too large", false, nullptr, 1, ""},
        {"size too small", true, nullptr, -1, ""},
        {"cipher cut short", false, [](std::vector<uint8_t>& b) { b.resize(b.size() - 8); }, 0, "pw"},
    };
    for (size_t k = 0; k < sizeof(cases) / sizeof(cases[0]); ++k) {
        const TCase& c = cases[k];
        SCOPED_TRACE(testing::Message() << "case " << k << ": " << c.What);
        RunLog.clear();
        MaxSeverity = 0;
        TTestFile good{"first.bin", Pattern(5000, 1), true};
        TTestFile bad{"new\\app.dll", plain, c.Compressed, -1, c.Damage, c.SizeDelta};
        TTestFile after{"after.bin", Pattern(10, 2), false};
        TSXHeader header;
        header.Options = soSilent;
        std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), {good, bad, after}, c.Password);
        TReadOnlyMemoryStream stream(archive.data(), archive.size());
        TTestExtractor extractor;
        EXPECT_FALSE(Extract(extractor, stream, c.Password));
        EXPECT_EQ(8, MaxSeverity);
        std::string path = Folder + "\\new\\app.dll";
        EXPECT_NE(std::string::npos, RunLog.find("Error (Setup Extract Files Code 261): \r\n\r\nCannot write to file:\r\n\"" +
                                                 path + "\"\r\n\r\nPossible reasons:\r\n"))
            << RunLog;
        EXPECT_EQ(AsText(good.Data), ReadFileOrMissing(Folder + "\\first.bin"));
        EXPECT_FALSE(FileExists(path)) << "a damaged file must not stay behind";
        EXPECT_FALSE(FileExists(Folder + "\\after.bin")) << "the run goes no further";
        DeleteFileA((Folder + "\\first.bin").c_str());
    }
}

// The password check accepts exactly the password of the check block.
TEST_F(ExtractTest, CheckPasswordAcceptsOnlyTheRightPassword)
{
    TSXHeader header;
    header.Options = soSilent;
    std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), {}, "Open Sesame");
    TReadOnlyMemoryStream stream(archive.data(), archive.size());
    TTestExtractor extractor;
    ASSERT_TRUE(extractor.Load(stream));
    const char* const wrong[] = {"", "open sesame", "Open Sesam", "Open Sesame!", "Open Sesame "};
    for (const char* typed : wrong) {
        EXPECT_FALSE(extractor.CheckPassword(typed)) << typed;
        EXPECT_EQ("", extractor.Password);
    }
    EXPECT_TRUE(extractor.CheckPassword("Open Sesame"));
    EXPECT_EQ("Open Sesame", extractor.Password);
}

// An unreadable archive logs "Initialization Code 258" and stops: an empty
// string table, a truncated data area, a header cut short.
TEST_F(ExtractTest, UnreadableArchiveIsReportedAsInvalidFormat)
{
    TTestFile file{"a.bin", Pattern(1000, 3), false};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        RunLog.clear();
        MaxSeverity = 0;
        TSXHeader header;
        header.Options = soSilent;
        std::vector<uint8_t> archive =
            BuildArchive(header, k == 0 ? std::vector<std::string>() : DefaultStrings(), {file});
        if (k == 1)
            archive.resize(archive.size() - 1);
        if (k == 2)
            archive.resize(8);
        TReadOnlyMemoryStream stream(archive.data(), archive.size());
        TTestExtractor extractor;
        bool aborted = false;
        try {
            EXPECT_FALSE(extractor.Load(stream));
        } catch (const EAbort&) {
            aborted = true;
        }
        EXPECT_TRUE(aborted);
        EXPECT_EQ(8, MaxSeverity);
        EXPECT_NE(std::string::npos, RunLog.find("Error (Initialization Code 258): \r\n\r\nError")) << RunLog;
    }
}

// Lines the string table lacks read as the empty text; the others as stored.
// An entry whose data decode to far more than it declares stops one byte
// after the declared size: nothing beyond the size is written.
TEST_F(ExtractTest, DecodingStopsOneByteAfterTheDeclaredSize)
{
    std::vector<uint8_t> stored = Compress(std::vector<uint8_t>(8 << 20, 0));
    for (int32_t size : {0, 1, 100000}) {
        TFileInfo entry;
        entry.Compressed = true;
        entry.Size = size;
        entry.StoredSize = static_cast<int32_t>(stored.size());
        TReadOnlyMemoryStream source(stored.data(), static_cast<int64_t>(stored.size()));
        TMemoryStream target;
        EXPECT_THROW(TSXExtractor::DecodeFile(source, target, "", entry), EReadError) << size;
        EXPECT_LE(target.Size(), static_cast<int64_t>(size)) << size;
    }
}

TEST_F(ExtractTest, GetStringOutsideTheTableIsEmpty)
{
    TSXHeader header;
    std::vector<uint8_t> archive = BuildArchive(header, {"Setup", "Product", "", "Hello\\nWorld"}, {});
    TReadOnlyMemoryStream stream(archive.data(), archive.size());
    TTestExtractor extractor;
    ASSERT_TRUE(extractor.Load(stream));
    EXPECT_EQ("Product", extractor.GetString(1));
    EXPECT_EQ("Hello\\nWorld", extractor.GetString(3));
    EXPECT_EQ("", extractor.GetString(4));
    EXPECT_EQ("", extractor.GetString(21));
    EXPECT_EQ("", extractor.GetString(-1));
}

// The end of a run: the exit code of unattended runs follows completion, the
// log goes to its file whole (replacing a longer one), interactive runs exit 0.
TEST_F(ExtractTest, FinishRunWritesTheLogAndChoosesTheExitCode)
{
    std::string logFile = Folder + "\\setup.log";
    SaveStringToFile(std::string(5000, 'x'), logFile);
    SilentMode = true;
    LogMessage(0, "Welcome Message Code 259", "Hi");
    EXPECT_EQ(0, FinishRun(true, logFile));
    EXPECT_EQ(RunLog, ReadFileOrMissing(logFile));
    EXPECT_EQ(8, FinishRun(false, logFile));
    SilentMode = false;
    EXPECT_EQ(0, FinishRun(false, logFile));
    EXPECT_EQ("C:\\setup.log", RunLogFileName("C:\\some dir\\setup.exe"));
    EXPECT_EQ("C:\\my.setup.log", RunLogFileName("D:\\my.setup.exe"));
}

// Files of a registered folder whose names hold subfolders: every created
// folder is recorded outermost first, the files are recorded, and the
// header's date is stamped on them.
TEST_F(ExtractTest, RegisteredFolderRecordsCreatedFoldersAndFiles)
{
    TSXHeaderSL header;
    header.Options = soSilent;
    header.Folders = {Folder + "\\App", Folder + "\\Other"};
    header.FolderCount = 2;
    header.RegisteredFolders = 1;
    header.StampDate = true;
    header.FileDate = 36526.5;  // 2000-01-01 12:00 local
    std::vector<TTestFile> files = {
        {"bin\\deep\\tool.exe", Pattern(3000, 4), true, 0},
        {"readme.txt", Pattern(20, 5), false, 0},
        {"x\\unrecorded.txt", Pattern(20, 6), false, 1},
    };
    std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), files);
    TReadOnlyMemoryStream stream(archive.data(), archive.size());
    TTestExtractorSL extractor;
    ASSERT_TRUE(extractor.Load(stream));
    extractor.TargetFolder = Folder + "\\";
    ASSERT_TRUE(extractor.ExtractFiles()) << RunLog;
    for (const TTestFile& f : files)
        EXPECT_EQ(AsText(f.Data), ReadFileOrMissing(Folder + (f.FolderIndex ? "\\Other\\" : "\\App\\") + f.Name));
    std::vector<std::string> folders = {Folder + "\\App", Folder + "\\App\\bin", Folder + "\\App\\bin\\deep"};
    EXPECT_EQ(folders, extractor.Uninstall->Folders);
    std::vector<std::string> recorded = {Folder + "\\App\\bin\\deep\\tool.exe", Folder + "\\App\\readme.txt"};
    EXPECT_EQ(recorded, extractor.Uninstall->Files);
    EXPECT_EQ(3040, extractor.ExtractedBytes);

    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExA((Folder + "\\App\\readme.txt").c_str(), GetFileExInfoStandard, &info));
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&info.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(2000, st.wYear);
    EXPECT_EQ(1, st.wMonth);
    EXPECT_EQ(1, st.wDay);
    EXPECT_EQ(12, st.wHour);
}

// A file held open without sharing is written under an ov~NNNNN.tmp name
// beside it; the pair is kept for the restart and the target is recorded.
TEST_F(ExtractTest, LockedFileIsRedirectedToATemporaryName)
{
    std::string app = Folder + "\\App";
    CreateDirectoryA(app.c_str(), nullptr);
    std::string target = app + "\\locked.dll";
    SaveStringToFile("old content", target);
    HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);

    TSXHeaderSL header;
    header.Options = soSilent;
    header.Folders = {app};
    header.FolderCount = 1;
    header.RegisteredFolders = 1;
    TTestFile file{"locked.dll", Pattern(4000, 9), true, 0};
    std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), {file});
    TReadOnlyMemoryStream stream(archive.data(), archive.size());
    TTestExtractorSL extractor;
    ASSERT_TRUE(extractor.Load(stream));
    bool ok = extractor.ExtractFiles();
    CloseHandle(lock);
    ASSERT_TRUE(ok) << RunLog;
    ASSERT_EQ(1u, extractor.LockedTemp.size());
    EXPECT_EQ(std::vector<std::string>{target}, extractor.LockedTarget);
    EXPECT_EQ(app + "\\ov~", extractor.LockedTemp[0].substr(0, app.size() + 4));
    EXPECT_EQ(AsText(file.Data), ReadFileOrMissing(extractor.LockedTemp[0]));
    EXPECT_EQ("old content", ReadFileOrMissing(target));
    EXPECT_EQ(std::vector<std::string>{target}, extractor.Uninstall->Files);
}

// The libraries are extracted into a folder of this run that did not exist
// before; the folder and its files are gone once the extractor is.
TEST_F(ExtractTest, LibraryFolderIsFreshAndRemoved)
{
    std::string folder;
    {
        // Two extractors of one process never share a folder.
        struct TOpen : TSXExtractorSL {
            using TSXExtractorSL::MakeLibraryFolder;
        };
        TOpen first, second;
        ASSERT_TRUE(first.MakeLibraryFolder());
        ASSERT_TRUE(second.MakeLibraryFolder());
        EXPECT_NE(first.RunFolder(), second.RunFolder());
        EXPECT_EQ(GetTempDir(), first.RunFolder().substr(0, GetTempDir().size()));
        folder = first.RunFolder();
        EXPECT_TRUE(FolderExists(folder));
    }
    EXPECT_FALSE(FolderExists(folder));
}

namespace {
bool ProgressSeenLate = false;
DWORD ProgressStart = 0;
void CALLBACK LookForProgress(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = FindWindowA(nullptr, "Test Setup");
    if (dialog && IsWindowVisible(dialog) && GetTickCount() - ProgressStart >= 1500)
        ProgressSeenLate = true;
}
}  // namespace

// Interactive extraction of one small file keeps the progress dialog up for
// at least 1.7 seconds (1.2 s, then 0.5 s at 100 percent) and writes the file.
TEST_F(ExtractTest, ProgressDialogStaysUpAtLeast1700Ms)
{
    TSXHeader header;
    TTestFile file{"one.txt", Pattern(10, 1), false};
    std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), {file});
    TReadOnlyMemoryStream stream(archive.data(), archive.size());
    TTestExtractor extractor;
    ASSERT_TRUE(extractor.Load(stream));
    extractor.TargetFolder = Folder + "\\";
    ProgressSeenLate = false;
    ProgressStart = GetTickCount();
    UINT_PTR timer = SetTimer(nullptr, 0, 50, &LookForProgress);
    bool ok = extractor.ExtractFiles();
    DWORD elapsed = GetTickCount() - ProgressStart;
    KillTimer(nullptr, timer);
    EXPECT_TRUE(ok);
    EXPECT_GE(elapsed, 1700u);
    EXPECT_LT(elapsed, 10000u);
    EXPECT_TRUE(ProgressSeenLate) << "the progress dialog was not visible after 1.5 s";
    EXPECT_EQ(AsText(file.Data), ReadFileOrMissing(Folder + "\\one.txt"));
}

// With uninstall registration, the default folder and the parents this run
// made for it are recorded ahead of the registered folders' own; one that
// existed is not. The temporary folders the run made go at its end.
TEST_F(ExtractTest, TargetFoldersAreRecordedAndTemporaryFoldersRemoved)
{
    ASSERT_TRUE(CreateDirectoryA((Folder + "\\Existing").c_str(), nullptr));
    TSXHeaderSL header;
    header.Options = soSilent | soUninstall | soDefaultFolder | soDeleteTempFiles;
    header.DefaultFolder = Folder + "\\Existing\\New\\Target";
    header.UninstallFolder = Folder;
    header.Folders = {Folder + "\\Existing\\New\\Target\\App", Folder + "\\Tmp\\Deep"};
    header.FolderCount = 2;
    header.RegisteredFolders = 1;
    header.TempFolderIndex = 1;
    std::vector<TTestFile> files = {
        {"app.exe", Pattern(100, 1), false, 0},
        {"loose.txt", Pattern(10, 2), false, -1},
        {"scratch.dat", Pattern(10, 3), false, 1},
    };
    std::vector<uint8_t> archive = BuildArchive(header, DefaultStrings(), files);
    TReadOnlyMemoryStream stream(archive.data(), archive.size());
    TTestExtractorSL extractor;
    ASSERT_TRUE(extractor.Load(stream));
    ASSERT_TRUE(extractor.PrepareUninstall());
    ASSERT_TRUE(extractor.GetTargetFolder());
    ASSERT_TRUE(extractor.ExtractFiles()) << RunLog;
    EXPECT_TRUE(FolderExists(Folder + "\\Tmp\\Deep"));
    ASSERT_TRUE(extractor.DeleteTempFiles());

    std::vector<std::string> folders = {Folder + "\\Existing\\New", Folder + "\\Existing\\New\\Target",
                                        Folder + "\\Existing\\New\\Target\\App"};
    EXPECT_EQ(folders, extractor.Uninstall->Folders);
    EXPECT_FALSE(FolderExists(Folder + "\\Tmp"));
    EXPECT_EQ(110, extractor.ExtractedBytes);  // the temporary file does not count
}
