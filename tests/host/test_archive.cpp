// The setup archive: header write/read round trips of every field, the
// stored data read back through the setup program's own decode chain
// (decrypting stream, then inflating stream), the password check block, and
// damaged archives rejected without a crash.
#include <gtest/gtest.h>

#include "ovBlowFish.h"
#include "ovsZIP.h"
#include "sxArchiveWriter.h"
#include "sxTypes.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

// A header with every field set to something other than its default.
TSXHeaderSL FullHeader()
{
    TSXHeaderSL h;
    h.Options = soRunCommand | soDefaultFolder | soNumberedFolder | soAskFolder | soDeleteTempFiles |
                soWaitForCommand | soDialogLibrary | soClientLibrary | soUninstall | soNoFinalMessage;
    h.TempFolderIndex = 1;
    h.ScriptFileIndex = 2;
    h.DefaultFolder = "<ProgramFilesDir>\\Product";
    h.Command = "<ThisDir>\\run.exe";
    h.Parameters = "/quiet \"<TempDir>\"";
    h.Folders = {"<ProgramFilesDir>\\Product", "<TempDir>\\Setup", ""};
    h.PreviousProducts = {"<ProductName> Beta", "Old Product"};
    h.RegisteredFolders = 0x80000005u;
    h.UninstallFolder = "<WindowsDir>";
    h.UninstallIcon = "icon.ico,0";
    h.AfterUninstall = "<SystemDir>\\after.exe";
    h.AfterUninstallParamString = "-x";
    h.Components = {"Comp A", "Comp B", "Comp C"};
    h.ComponentInf = {"[Comp A]", "File=a.dll", "", "Version=1,2,3,4"};
    h.StampDate = true;
    h.FileDate = 45413.5;
    h.KeepCopy = true;
    h.CopyPath = "<ProgramFilesDir>\\<ProductName>\\setup.exe";
    h.CopyKey = "Software\\<ProductName>";
    return h;
}

std::vector<uint8_t> Bytes(TMemoryStream& s) { return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()); }

// Decodes stored bytes as the setup program does: TDeCryptStream keyed with
// the password and PlainSize, then TDecompressionStream, copied in chunks.
std::string DecodeLikeSetup(const uint8_t* stored, const TFileInfo& f, const std::string& password)
{
    TReadOnlyMemoryStream source(stored, f.StoredSize);
    std::unique_ptr<TDeCryptStream> decrypt;
    TStream* s = &source;
    if (!password.empty()) {
        std::unique_ptr<TBlowfish> bf(new TBlowfish());
        bf->SetKey(password);
        decrypt.reset(new TDeCryptStream(std::move(bf), source, f.PlainSize));
        s = decrypt.get();
    }
    std::unique_ptr<TDecompressionStream> inflate;
    if (f.Compressed) {
        inflate.reset(new TDecompressionStream(*s));
        s = inflate.get();
    }
    std::string out;
    char buf[61440];
    for (;;) {
        int32_t n = s->Read(buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    if (inflate) {
        EXPECT_TRUE(inflate->StreamEnded()) << f.Name;
    }
    return out;
}

std::string Pattern(size_t size, uint32_t seed, bool compressible)
{
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = compressible ? "abcdefgh \n"[rng() % 10] : static_cast<char>(rng());
    return s;
}

TArchiveSource Memory(const std::string& name, const std::string& data, int folder = -1, bool compress = true)
{
    TArchiveSource s;
    s.Name = name;
    s.Data.assign(data.begin(), data.end());
    s.FolderIndex = folder;
    s.Compress = compress;
    return s;
}

struct TWritten {
    std::vector<uint8_t> Archive;
    TSXHeaderSL Header;
};

TWritten Write(TSXHeaderSL header, const std::vector<std::string>& strings,
               const std::vector<TArchiveSource>& files, const std::string& password, int threads = 0)
{
    TMemoryStream out;
    TArchiveOptions o;
    o.Password = password;
    o.Threads = threads;
    WriteArchive(header, strings, files, o, out);
    return {Bytes(out), header};
}

}  // namespace

// Every field of both header classes survives a write and a read, and the
// read stops exactly where the string table begins.
TEST(ArchiveHeader, RoundTripOfEveryField)
{
    TSXHeaderSL h = FullHeader();
    h.Files = {{"a.txt", true, 10, 0, 7, -1}, {"sub\\b.bin", false, 3, 8, 8, 1}, {"c", true, 0, 0, 0, 2}};
    TMemoryStream s;
    h.SaveAllToStream(s);
    WriteShortString(s, "table");
    int64_t headerEnd = s.GetSize() - 7;
    s.Write("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 18);  // room for the stored sizes

    s.SetPosition(0);
    TSXHeaderSL r;
    SilentMode = true;
    ASSERT_TRUE(r.LoadFromStream(s));
    EXPECT_FALSE(SilentMode);  // soSilent clear
    EXPECT_EQ(headerEnd, s.GetPosition());
    EXPECT_EQ("table", ReadShortString(s));
    EXPECT_EQ(h.Options, r.Options);
    EXPECT_EQ(3, r.FileCount);
    ASSERT_EQ(3u, r.Files.size());
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h.Files[i].Name, r.Files[i].Name);
        EXPECT_EQ(h.Files[i].Compressed, r.Files[i].Compressed);
        EXPECT_EQ(h.Files[i].Size, r.Files[i].Size);
        EXPECT_EQ(h.Files[i].PlainSize, r.Files[i].PlainSize);
        EXPECT_EQ(h.Files[i].StoredSize, r.Files[i].StoredSize);
        EXPECT_EQ(h.Files[i].FolderIndex, r.Files[i].FolderIndex);
    }
    EXPECT_EQ(h.TempFolderIndex, r.TempFolderIndex);
    EXPECT_EQ(h.ScriptFileIndex, r.ScriptFileIndex);
    EXPECT_EQ(h.DefaultFolder, r.DefaultFolder);
    EXPECT_EQ(h.Command, r.Command);
    EXPECT_EQ(h.Parameters, r.Parameters);
    EXPECT_EQ(3, r.FolderCount);
    EXPECT_EQ(h.Folders, r.Folders);
    EXPECT_EQ(2, r.PreviousProductCount);
    EXPECT_EQ(h.PreviousProducts, r.PreviousProducts);
    EXPECT_EQ(h.RegisteredFolders, r.RegisteredFolders);
    EXPECT_EQ(h.UninstallFolder, r.UninstallFolder);
    EXPECT_EQ(h.UninstallIcon, r.UninstallIcon);
    EXPECT_EQ(h.AfterUninstall, r.AfterUninstall);
    EXPECT_EQ(h.AfterUninstallParamString, r.AfterUninstallParamString);
    EXPECT_EQ(h.Components, r.Components);
    EXPECT_EQ(h.ComponentInf, r.ComponentInf);
    EXPECT_EQ(h.StampDate, r.StampDate);
    EXPECT_EQ(h.FileDate, r.FileDate);
    EXPECT_EQ(h.KeepCopy, r.KeepCopy);
    EXPECT_EQ(h.CopyPath, r.CopyPath);
    EXPECT_EQ(h.CopyKey, r.CopyKey);
}

// The byte layout itself: field order, widths (16-bit vs 32-bit counts) and
// little-endian values, for a small header written by hand.
TEST(ArchiveHeader, ByteLayoutOfASmallHeader)
{
    TSXHeaderSL h;
    h.Options = soSilent | soAskFolder;
    h.Files = {{"f", true, 0x01020304, 0, 0x0A0B, -1}};
    h.TempFolderIndex = -1;
    h.ScriptFileIndex = 0;
    h.Folders = {"d"};
    h.Components = {"c"};
    h.FileDate = 1.0;
    TMemoryStream s;
    h.SaveAllToStream(s);
    const uint8_t expected[] = {
        0x10, 0x08,              // Options
        0x00, 0x00,              // CheckLength
        0x01, 0x00,              // FileCount
        0x01, 0x00, 'f', 0x01,   // Name, Compressed
        0x04, 0x03, 0x02, 0x01,  // Size
        0x00, 0x00, 0x00, 0x00,  // PlainSize
        0x0B, 0x0A, 0x00, 0x00,  // StoredSize
        0xFF, 0xFF, 0xFF, 0xFF,  // FolderIndex -1
        0xFF, 0xFF, 0x00, 0x00,  // TempFolderIndex, ScriptFileIndex
        0, 0, 0, 0, 0, 0,        // DefaultFolder, Command, Parameters
        0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 'd',  // folder count (32-bit), "d"
        0x00, 0x00, 0x00, 0x00,  // previous products (32-bit)
        0x00, 0x00, 0x00, 0x00,  // RegisteredFolders
        0, 0, 0, 0, 0, 0, 0, 0,  // four uninstall texts
        0x01, 0x00, 0x01, 0x00, 'c',  // component count (16-bit), "c"
        0x00, 0x00,              // INF lines (16-bit)
        0x00,                    // StampDate
        0, 0, 0, 0, 0, 0, 0xF0, 0x3F,  // FileDate 1.0
        0x00,                    // KeepCopy 0: the header ends here
    };
    ASSERT_EQ(sizeof expected, static_cast<size_t>(s.Size()));
    EXPECT_EQ(0, std::memcmp(expected, s.Memory(), sizeof expected));
}

// Reading sets SilentMode from soSilent; a base TSXHeader reads fields 1-5
// only and leaves the rest of the stream alone.
TEST(ArchiveHeader, SilentModeAndBaseHeader)
{
    TSXHeaderSL h;
    h.Options = soSilent;
    TMemoryStream s;
    h.SaveAllToStream(s);
    WriteShortString(s, "x");
    SilentMode = false;
    s.SetPosition(0);
    TSXHeaderSL r;
    ASSERT_TRUE(r.LoadFromStream(s));
    EXPECT_TRUE(SilentMode);
    SilentMode = false;

    s.SetPosition(0);
    TSXHeader base;
    ASSERT_TRUE(base.LoadFromStream(s));
    EXPECT_EQ(6, s.GetPosition());
    EXPECT_TRUE(SilentMode);
    SilentMode = false;
}

// A header cut short at any byte, a check block longer than 128 bytes, and
// counts that cannot fit in the rest of the stream make LoadFromStream return
// false; none of them raises or crashes.
TEST(ArchiveHeader, DamagedHeadersAreRejected)
{
    TSXHeaderSL h = FullHeader();
    h.Files = {{"a.txt", true, 10, 0, 0, -1}};
    TMemoryStream s;
    h.SaveAllToStream(s);
    std::vector<uint8_t> full = Bytes(s);
    for (size_t cut = 0; cut < full.size(); ++cut) {
        TReadOnlyMemoryStream part(full.data(), static_cast<int64_t>(cut));
        TSXHeaderSL r;
        EXPECT_FALSE(r.LoadFromStream(part)) << "cut at " << cut;
    }
    {
        TReadOnlyMemoryStream whole(full.data(), static_cast<int64_t>(full.size()));
        TSXHeaderSL r;
        EXPECT_TRUE(r.LoadFromStream(whole));
    }
    auto patched = [&](size_t offset, std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b = full;
        size_t i = offset;
        for (uint8_t v : bytes)
            b[i++] = v;
        TReadOnlyMemoryStream m(b.data(), static_cast<int64_t>(b.size()));
        TSXHeaderSL r;
        return r.LoadFromStream(m);
    };
    EXPECT_FALSE(patched(2, {129, 0}));        // CheckLength 129
    EXPECT_FALSE(patched(2, {0xFF, 0xFF}));    // CheckLength -1
    EXPECT_FALSE(patched(4, {0xFF, 0x7F}));    // 32767 files in a few bytes
    // The folder count (after the entry and three texts) claims 2^31-1 texts.
    size_t folderCount = 6 + (2 + 5 + 1 + 16) + 4 + (2 + h.DefaultFolder.size()) + (2 + h.Command.size()) +
                         (2 + h.Parameters.size());
    EXPECT_TRUE(patched(folderCount, {3, 0, 0, 0}));
    EXPECT_FALSE(patched(folderCount, {0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_FALSE(patched(folderCount, {0xFF, 0xFF, 0xFF, 0xFF}));  // negative
    // A stored size beyond the end of the archive.
    EXPECT_FALSE(patched(6 + 2 + 5 + 1 + 8, {0x00, 0x00, 0x01, 0x00}));
    // A negative size.
    EXPECT_FALSE(patched(6 + 2 + 5 + 1, {0xFF, 0xFF, 0xFF, 0xFF}));
}

// The stored-name rule: names that would leave their folder, or that Windows
// cannot create, are refused; names that only look alike are kept.
TEST(ArchiveNames, StoredNameRule)
{
    const std::string bad[] = {"",          "..",          "..\\..\\x", "sub\\..\\..\\x", "a/../b",
                               ".",         "a\\.\\b",     "\\x",         "/x",             "\\\\srv\\share\\x",
                               "C:\\x.dll", "C:x",         "x:ads",       "x::$DATA",       "CON",
                               "con",       "Con.txt",     "sub\\aux.h",  "NUL.tar.gz",     "prn ",
                               "COM1",      "com9.log",    "LPT1",        "lpt9",           "x.",
                               "x ",        "dir.\\x",     "dir \\x",     "a\\\\b",         "sub\\",
                               "a*b",       "a?b",         "a|b",         "a<b",            "a\"b",
                               std::string("a\0b", 3),    "a\tb",        "a\nb",
                               "COM\xB9",  "lpt\xB2.txt", "CONIN$",     "conout$.x"};
    for (const std::string& name : bad)
        EXPECT_NE("", SXStoredNameError(name)) << "accepted: " << name;
    const std::string good[] = {"a.txt",   "sub\\a.txt", "sub/a.txt", "console", "COM10",  "COM0",
                                "LPT",     "lpt10.txt",  "auxiliary", "CONx.h",  ".hidden", "a..b",
                                "...x",    "a b",        "x.y z",     "\xC4\xD6.txt", "COM\xB4", "CONIN"};
    for (const std::string& name : good)
        EXPECT_EQ("", SXStoredNameError(name)) << name;
}

// The archive reader refuses an entry whose name would leave its folder, so
// the setup program stops before anything is written; the writer refuses to
// store one.
TEST(ArchiveNames, ReaderAndWriterRefuseEscapingNames)
{
    for (const char* name : {"..\\..\\x", "C:\\Windows\\x.dll", "\\\\server\\share\\x", "x:ads", "CON"}) {
        SCOPED_TRACE(name);
        TSXHeaderSL h = FullHeader();
        h.Files = {{"ok.txt", false, 0, 0, 0, -1}, {name, false, 0, 0, 0, -1}};
        TMemoryStream s;
        h.SaveAllToStream(s);
        WriteShortString(s, "strings");
        s.Seek(0, soFromBeginning);
        TSXHeaderSL r;
        EXPECT_FALSE(r.LoadFromStream(s));

        EXPECT_THROW(Write(TSXHeaderSL(), {"S"}, {Memory("ok.txt", "x"), Memory(name, "y")}, ""), EStreamError);
    }
    // A zero byte cuts a name: "a.txt\0.exe" is damaged data, not "a.txt".
    TSXHeaderSL h = FullHeader();
    h.Files = {{std::string("a.txt\0.exe", 9), false, 0, 0, 0, -1}};
    TMemoryStream s;
    h.SaveAllToStream(s);
    s.Seek(0, soFromBeginning);
    TSXHeaderSL r;
    EXPECT_FALSE(r.LoadFromStream(s));
}

// FileCount 0 or below means no entries; KeepCopy 0 ends the header at once.
TEST(ArchiveHeader, NoFilesAndNoKeptCopy)
{
    TSXHeaderSL h;
    h.KeepCopy = false;
    h.CopyPath = "ignored";
    TMemoryStream s;
    h.SaveAllToStream(s);
    WriteShortString(s, "strings");
    int64_t headerSize = s.Size() - 9;
    std::vector<uint8_t> b = Bytes(s);
    b[4] = 0xFE;  // FileCount -2
    b[5] = 0xFF;
    TReadOnlyMemoryStream m(b.data(), static_cast<int64_t>(b.size()));
    TSXHeaderSL r;
    ASSERT_TRUE(r.LoadFromStream(m));
    EXPECT_TRUE(r.Files.empty());
    EXPECT_EQ(headerSize, m.GetPosition());
    EXPECT_FALSE(r.KeepCopy);
    EXPECT_TRUE(r.CopyPath.empty());
    EXPECT_EQ("strings", ReadShortString(m));
}

// The folder texts go through MacroExpander when it is set; an error it
// raises fails the read. Without it the texts stay as stored.
TEST(ArchiveHeader, FolderMacroExpansion)
{
    TSXHeaderSL h;
    h.Folders = {"<TempDir>\\a", "b"};
    TMemoryStream s;
    h.SaveAllToStream(s);
    std::vector<uint8_t> b = Bytes(s);

    TReadOnlyMemoryStream m1(b.data(), static_cast<int64_t>(b.size()));
    TSXHeaderSL r1;
    ASSERT_TRUE(r1.LoadFromStream(m1));
    EXPECT_EQ(h.Folders, r1.Folders);

    TReadOnlyMemoryStream m2(b.data(), static_cast<int64_t>(b.size()));
    TSXHeaderSL r2;
    r2.MacroExpander = [](const std::string& t) { return "[" + t + "]"; };
    ASSERT_TRUE(r2.LoadFromStream(m2));
    EXPECT_EQ("[<TempDir>\\a]", r2.Folders[0]);
    EXPECT_EQ("[b]", r2.Folders[1]);

    TReadOnlyMemoryStream m3(b.data(), static_cast<int64_t>(b.size()));
    TSXHeaderSL r3;
    r3.MacroExpander = [](const std::string&) -> std::string { throw Exception("bad macro"); };
    EXPECT_FALSE(r3.LoadFromStream(m3));
}

// The writer's archive: header, string table joined by CR LF, then every
// file's stored bytes; the sum check holds and each file decodes through the
// setup program's chain, with and without password, compressed or not,
// at sizes around the cipher block and the copy chunk.
TEST(ArchiveWriter, FilesDecodeThroughTheSetupChain)
{
    const size_t sizes[] = {0, 1, 7, 8, 9, 4096, 61439, 61440, 61441, 200000};
    for (const std::string password : {"", "secret", "a-password-of-exactly-32-chars!!"}) {
        SCOPED_TRACE("password '" + password + "'");
        std::vector<TArchiveSource> files;
        std::vector<std::string> contents;
        for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
            bool compressible = i % 2 == 0;
            contents.push_back(Pattern(sizes[i], static_cast<uint32_t>(i), compressible));
            files.push_back(Memory("f" + std::to_string(i), contents.back(), static_cast<int>(i % 3) - 1, i != 5));
        }
        TSXHeaderSL h = FullHeader();
        TWritten w = Write(h, {"Setup", "Product", "", "Welcome"}, files, password);
        const std::vector<uint8_t>& a = w.Archive;

        TReadOnlyMemoryStream s(a.data(), static_cast<int64_t>(a.size()));
        TSXHeaderSL r;
        ASSERT_TRUE(r.LoadFromStream(s));
        EXPECT_EQ(!password.empty(), (r.Options & soPassword) != 0);
        EXPECT_EQ("Setup\r\nProduct\r\n\r\nWelcome", ReadShortString(s));
        int64_t pos = s.GetPosition();
        int64_t sum = pos;
        for (const TFileInfo& f : r.Files)
            sum += f.StoredSize;
        EXPECT_EQ(static_cast<int64_t>(a.size()), sum);  // nothing follows the last file
        ASSERT_EQ(files.size(), r.Files.size());
        for (size_t i = 0; i < r.Files.size(); ++i) {
            SCOPED_TRACE(r.Files[i].Name);
            const TFileInfo& f = r.Files[i];
            EXPECT_EQ(files[i].Name, f.Name);
            EXPECT_EQ(files[i].FolderIndex, f.FolderIndex);
            EXPECT_EQ(static_cast<int32_t>(sizes[i]), f.Size);
            if (i == 5) {
                EXPECT_FALSE(f.Compressed);  // compression off for this entry
            }
            if (i % 2 == 0 && sizes[i] > 100 && i != 5) {
                EXPECT_TRUE(f.Compressed);
            }
            if (password.empty()) {
                EXPECT_EQ(0, f.PlainSize);
            } else {
                EXPECT_EQ(0, f.StoredSize % 8);
                EXPECT_GT(f.StoredSize - f.PlainSize, -1);
                EXPECT_LT(f.StoredSize - f.PlainSize, 8);
            }
            EXPECT_EQ(contents[i], DecodeLikeSetup(a.data() + pos, f, password));
            pos += f.StoredSize;
        }
    }
}

// The password check block: decrypting CheckLength bytes with the right
// password gives the password and a zero byte; a wrong one does not.
TEST(ArchiveWriter, PasswordCheckBlock)
{
    for (size_t len : {1u, 6u, 7u, 8u, 63u, 127u}) {
        std::string password(len, 'p');
        password[0] = 'Q';
        TSXHeader h;
        MakePasswordCheck(h, password);
        EXPECT_EQ(0, h.CheckLength % 8);
        EXPECT_GE(h.CheckLength, static_cast<int16_t>(len + 1));
        EXPECT_LE(h.CheckLength, 128);
        EXPECT_TRUE(h.Options & soPassword);
        uint8_t work[130] = {};
        std::memcpy(work, h.CheckBlock, 128);
        DecryptBuffer(work, h.CheckLength, password);
        EXPECT_EQ(password, std::string(reinterpret_cast<char*>(work)));
        std::memcpy(work, h.CheckBlock, 128);
        DecryptBuffer(work, h.CheckLength, "X" + password.substr(1));  // keys beyond 72 bytes do not count
        EXPECT_NE(password, std::string(reinterpret_cast<char*>(work), std::min<size_t>(len, 128)));
    }
    TSXHeader h;
    EXPECT_THROW(MakePasswordCheck(h, std::string(128, 'x')), EStreamError);
    h.Options = soPassword;
    MakePasswordCheck(h, "");
    EXPECT_EQ(0, h.CheckLength);
    EXPECT_EQ(0, h.Options & soPassword);
}

// Many files compressed on several threads still come out in entry order,
// identical to a single-threaded build.
TEST(ArchiveWriter, ThreadsKeepEntryOrder)
{
    std::vector<TArchiveSource> files;
    for (int i = 0; i < 300; ++i)
        files.push_back(Memory("n" + std::to_string(i), Pattern(static_cast<size_t>(i * 97 % 5000), i, i % 3 != 0)));
    TSXHeaderSL h;
    TWritten one = Write(h, {"S"}, files, "pw", 1);
    TWritten four = Write(h, {"S"}, files, "pw", 4);
    EXPECT_EQ(one.Archive, four.Archive);
}

// Files larger than the whole-file limit are streamed in chunks; they decode
// the same way, and an incompressible one is stored as it is.
TEST(ArchiveWriter, LargeFilesFromDisk)
{
    std::string text = Pattern(9 << 20, 1, true), noise = Pattern(9 << 20, 2, false);
    // Text first (so the file is compressed), then 1 MB blocks of text and
    // noise: the noise goes out as stored blocks inside the one zlib stream.
    std::string mixed;
    for (int i = 0; i < 11; ++i)
        mixed += Pattern((1 << 20) + 333, static_cast<uint32_t>(10 + i), i % 2 == 0);
    std::string dir = testing::TempDir();
    std::string p1 = dir + "sx_arch_text.bin", p2 = dir + "sx_arch_noise.bin", p3 = dir + "sx_arch_mixed.bin";
    for (auto& pair : {std::make_pair(p1, &text), std::make_pair(p2, &noise), std::make_pair(p3, &mixed)}) {
        TFileStream f(pair.first, fmCreate);
        f.WriteBuffer(pair.second->data(), static_cast<int32_t>(pair.second->size()));
    }
    for (const std::string password : {"", "big"}) {
        std::vector<TArchiveSource> files(3);
        files[0].Path = p1;
        files[0].Name = "text";
        files[1].Path = p2;
        files[1].Name = "noise";
        files[2].Path = p3;
        files[2].Name = "mixed";
        TWritten w = Write(TSXHeaderSL(), {"S"}, files, password, password.empty() ? 3 : 1);
        TReadOnlyMemoryStream s(w.Archive.data(), static_cast<int64_t>(w.Archive.size()));
        TSXHeaderSL r;
        ASSERT_TRUE(r.LoadFromStream(s));
        ReadShortString(s);
        int64_t pos = s.GetPosition();
        EXPECT_TRUE(r.Files[0].Compressed);
        EXPECT_FALSE(r.Files[1].Compressed);
        EXPECT_EQ(text, DecodeLikeSetup(w.Archive.data() + pos, r.Files[0], password));
        pos += r.Files[0].StoredSize;
        EXPECT_EQ(noise, DecodeLikeSetup(w.Archive.data() + pos, r.Files[1], password));
        pos += r.Files[1].StoredSize;
        EXPECT_TRUE(r.Files[2].Compressed);
        EXPECT_LT(r.Files[2].StoredSize, static_cast<int32_t>(mixed.size() * 3 / 4));
        EXPECT_EQ(mixed, DecodeLikeSetup(w.Archive.data() + pos, r.Files[2], password));
    }
    std::remove(p1.c_str());
    std::remove(p2.c_str());
    std::remove(p3.c_str());
}

// A missing source file is named in the error.
TEST(ArchiveWriter, MissingSourceIsNamed)
{
    std::vector<TArchiveSource> files(1);
    files[0].Path = testing::TempDir() + "sx_no_such_file.txt";
    files[0].Name = "x";
    TMemoryStream out;
    try {
        TSXHeaderSL h;
        WriteArchive(h, {"S"}, files, TArchiveOptions(), out);
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_NE(std::string::npos, e.message().find("sx_no_such_file.txt")) << e.message();
    }
}

// The libraries' form: a complete zlib stream that inflates to the bytes; a
// cut stream is reported, not taken as complete.
TEST(ArchiveWriter, ZlibLibraryStreams)
{
    std::string lib = Pattern(100000, 9, true);
    std::vector<uint8_t> z = ZlibCompress(reinterpret_cast<const uint8_t*>(lib.data()), lib.size());
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(0x78, z[0]);  // zlib header, 32K window
    std::vector<uint8_t> back = ZlibDecompress(z.data(), z.size());
    EXPECT_EQ(lib, std::string(back.begin(), back.end()));
    TFileInfo entry;
    entry.Compressed = true;
    entry.Size = static_cast<int32_t>(lib.size());
    entry.StoredSize = static_cast<int32_t>(z.size());
    EXPECT_EQ(lib, DecodeLikeSetup(z.data(), entry, ""));
    EXPECT_THROW(ZlibDecompress(z.data(), z.size() - 3), EStreamError);
}

// Decoding is bounded by the size the entry declares: a stream that inflates
// to far more stops one byte after it, and every failure says what is wrong.
TEST(ArchiveWriter, DecodingIsBoundedByTheDeclaredSize)
{
    std::vector<uint8_t> zeros(4 << 20, 0);
    std::vector<uint8_t> z = ZlibCompress(zeros.data(), zeros.size());
    TFileInfo entry;
    entry.Compressed = true;
    entry.StoredSize = static_cast<int32_t>(z.size());
    auto errorOf = [&](int32_t size, std::vector<uint8_t> stored) -> std::string {
        entry.Size = size;
        entry.StoredSize = static_cast<int32_t>(stored.size());
        try {
            DecodeStoredData(stored.data(), stored.size(), entry, "");
            return "";
        } catch (const EStreamError& e) {
            return e.message();
        }
    };
    struct Case {
        int32_t Size;
        std::vector<uint8_t> Stored;
        const char* Says;
    } cases[] = {
        {1, z, "more than the 1 bytes declared"},
        {static_cast<int32_t>(zeros.size()) - 1, z, "more than the 4,194,303 bytes declared"},
        {static_cast<int32_t>(zeros.size()) + 12345, z, "ends 12,345 bytes early"},
        {static_cast<int32_t>(zeros.size()), std::vector<uint8_t>(z.begin(), z.end() - 3), "end early"},
        {static_cast<int32_t>(zeros.size()), std::vector<uint8_t>(z.size(), 0x55), "corrupt compressed data"},
        {0, {}, "end early"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Says);
        std::string e = errorOf(c.Size, c.Stored);
        EXPECT_NE(std::string::npos, e.find(c.Says)) << e;
    }
    std::vector<uint8_t> extra = z;
    extra.push_back(0);
    EXPECT_NE(std::string::npos, errorOf(static_cast<int32_t>(zeros.size()), extra).find("1 bytes follow")) ;
    EXPECT_EQ("", errorOf(static_cast<int32_t>(zeros.size()), z));
    EXPECT_EQ("12,345", GroupedNumber(12345));
    EXPECT_EQ("1,000,000", GroupedNumber(1000000));
    EXPECT_EQ("999", GroupedNumber(999));
}

// Random damage anywhere in a header never escapes LoadFromStream as an
// exception (or a crash); what it accepts still fits in the stream.
TEST(ArchiveHeader, RandomDamageIsContained)
{
    TSXHeaderSL h = FullHeader();
    h.Files = {{"a.txt", true, 10, 0, 3, -1}, {"b.txt", false, 3, 0, 3, 0}};
    TMemoryStream s;
    h.SaveAllToStream(s);
    WriteShortString(s, "S");
    s.Write("abcdef", 6);
    std::vector<uint8_t> full = Bytes(s);
    std::mt19937 rng(7);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> b = full;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k)
            b[rng() % b.size()] = static_cast<uint8_t>(rng());
        TReadOnlyMemoryStream m(b.data(), static_cast<int64_t>(b.size()));
        TSXHeaderSL r;
        bool ok = false;
        EXPECT_NO_THROW(ok = r.LoadFromStream(m));
        if (ok) {
            ++accepted;
            int64_t stored = 0;
            for (const TFileInfo& f : r.Files)
                stored += f.StoredSize;
            EXPECT_LE(m.GetPosition() + stored, static_cast<int64_t>(b.size()));
            EXPECT_LE(r.CheckLength, 128);
        }
    }
    EXPECT_GT(accepted, 0);
    SilentMode = false;
}

// The writer refuses what the format cannot hold.
TEST(ArchiveHeader, WriterLimits)
{
    TSXHeaderSL h;
    h.CheckLength = 129;
    TMemoryStream s;
    EXPECT_THROW(h.SaveAllToStream(s), EStreamError);
    h.CheckLength = 0;
    h.Files.resize(32768);
    EXPECT_THROW(h.SaveAllToStream(s), EStreamError);
    h.Files.resize(1);
    h.Components.resize(65536);
    EXPECT_THROW(h.SaveAllToStream(s), EStreamError);
    h.Components.clear();
    h.DefaultFolder.assign(65536, 'x');
    EXPECT_THROW(h.SaveAllToStream(s), EStreamError);
}
