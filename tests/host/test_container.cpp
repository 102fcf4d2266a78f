// The storage container: every flag combination round-tripping entries of
// telling sizes, the stored layout, passwords, search, extraction, compaction,
// the handle API's codes, and damaged files (truncated, bit-flipped, records
// pointing outside the file).
#include <gtest/gtest.h>

#include "host/host_fixtures.h"
#include "ovsFile.h"
#include "ovsMain.h"
#include "ovStgImp.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::vector<uint8_t> Content(size_t n, uint32_t seed)
{
    // Numbered text lines with a random stretch in every 8 KB: compressible,
    // but not trivially.
    std::vector<uint8_t> v;
    v.reserve(n + 64);
    uint32_t line = seed;
    while (v.size() < n) {
        if ((v.size() / 1024) % 8 == 1) {
            for (int i = 0; i < 1024; ++i) {
                seed = seed * 1103515245u + 12345u;
                v.push_back(static_cast<uint8_t>(seed >> 16));
            }
        } else {
            std::string text = FormatText("record %08u of the component package\r\n", line++);
            v.insert(v.end(), text.begin(), text.end());
        }
    }
    v.resize(n);
    return v;
}

std::string TempName(const std::string& name)
{
    return testing::TempDir() + "stgtest_" + name;
}

void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    TFileStream f(name, fmCreate);
    if (!bytes.empty())
        f.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

struct Entry {
    std::string Name;
    std::vector<uint8_t> Data;
};

void Build(const std::string& file, const TStgCreateOptions& options, const std::vector<Entry>& entries)
{
    TStgWriter writer(file, options);
    for (const Entry& e : entries)
        writer.AddEntry(e.Name, e.Data.data(), static_cast<int32_t>(e.Data.size()));
    writer.Commit();
}

int32_t FindId(TovFileStg& stg, const std::string& name)
{
    TStgSearchFilter filter;
    filter.Name = name;
    filter.Mask = stgAttrComponentFile;
    TStgSearchRec rec;
    uint16_t code = stg.FindFirst(&filter, rec);
    stg.FindClose(rec);
    return code == stgOk ? rec.Id : -1;
}

// The directory's place in a container file's bytes.
size_t DirectoryAt(const std::vector<uint8_t>& bytes)
{
    TStgHeader h;
    h.Load(bytes.data());
    size_t headerSize = h.Version == kStgVersion101 ? 204 + static_cast<size_t>(StgGetLE32(&bytes[200])) : 200;
    return headerSize + static_cast<size_t>(h.DataSize);
}

// Changes directory record i of a container file in place.
template <class F>
void EditRecord(const std::string& file, int i, F edit)
{
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    uint8_t* piece = &bytes[DirectoryAt(bytes) + 4 + static_cast<size_t>(i) * kStgEntrySize];
    StgScramblePiece(piece, kStgEntrySize);
    TStgEntry e;
    e.Load(piece);
    edit(e);
    e.Store(piece);
    StgScramblePiece(piece, kStgEntrySize);
    WriteFileBytes(file, bytes);
}

void SetReadOnly(const std::string& file)
{
#ifdef _WIN32
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
#else
    ::chmod(file.c_str(), 0444);
#endif
}

bool IsReadOnly(const std::string& file)
{
#ifdef _WIN32
    DWORD a = GetFileAttributesA(file.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
#else
    struct stat st;
    return ::stat(file.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
#endif
}

const size_t kSizes[] = {0, 1, 8, 13, 40004, 3 * 1024 * 1024 + 5};

}  // namespace

// Every combination of packed, scrambled and encrypted (with and without a
// password) round-trips empty, 1, 8, 13, 40,004-byte and several-megabyte entries.
TEST(Container, EveryFlagCombinationRoundTrips)
{
    std::vector<Entry> entries;
    for (size_t i = 0; i < sizeof(kSizes) / sizeof(kSizes[0]); ++i)
        entries.push_back({FormatText("entry%u.bin", unsigned(i)), Content(kSizes[i], uint32_t(i + 1))});
    std::string file = TempName("combo.stg");
    for (uint16_t combo = 0; combo < 16; ++combo) {
        SCOPED_TRACE(combo);
        TStgCreateOptions options;
        if (combo & 1)
            options.Flags |= stgPacked;
        if (combo & 2)
            options.Flags |= stgScrambled;
        if (combo & 4)
            options.Flags |= stgEncrypted;
        if (combo & 8) {
            options.Flags |= stgPassword;
            options.Password = "combo password";
        }
        Build(file, options, entries);
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, options.Password));
        EXPECT_EQ(TovFileStg::EntryHeaderSizeOf(TovFileStg::FilterFlagsOf(options.Flags)),
                  stg.Header().EntryHeaderSize);
        ASSERT_EQ(entries.size(), stg.Directory().size());
        for (const Entry& e : entries) {
            SCOPED_TRACE(e.Name);
            int32_t id = FindId(stg, e.Name);
            ASSERT_GT(id, 0);
            TMemoryStream out;
            ASSERT_EQ(stgOk, stg.ExtractEntryToStream(id, out)) << stg.LastError();
            EXPECT_TRUE(out.Bytes() == e.Data);
        }
    }
    std::remove(file.c_str());
}

// Data starts at 200 (0x0100), 204 + L (0x0101) or 200 (above 0x0101); the
// magic is checked from 0x0101 on; the directory's record bytes 144 stay as stored.
TEST(Container, LayoutVersionsAndMagic)
{
    std::string file = TempName("layout.stg");
    struct Row {
        uint16_t version;
        size_t extension;
        int32_t dataStart;
    } rows[] = {{0x0100, 0, 200}, {0x0101, 0, 204}, {0x0101, 10, 214}, {0x0102, 0, 200}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        TStgCreateOptions options;
        options.Version = row.version;
        options.Extension.assign(row.extension, 0xA5);
        {
            TStgWriter writer(file, options);
            writer.AddEntry("a.txt", "hello", 5);
            writer.Record(1)->Reserved[35] = 0xC3;
            writer.Commit();
        }
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, ""));
        EXPECT_EQ(row.dataStart, stg.HeaderSize());
        ASSERT_EQ(1u, stg.Directory().size());
        EXPECT_EQ(row.dataStart, stg.Directory()[0].second.DataOffset);
        EXPECT_EQ(0xC3, stg.Directory()[0].second.Reserved[35]);
        stg.Close();
        std::vector<uint8_t> bytes = ReadFileBytes(file);
        EXPECT_EQ(0x77, bytes[0]);
        EXPECT_EQ(bytes.size(), DirectoryAt(bytes) + 4 + kStgEntrySize);
        EXPECT_EQ(0xC3, bytes.back());  // the last byte of a record is not scrambled
        EXPECT_EQ(1, StgGetLE32(&bytes[188]));
        EXPECT_EQ(10, StgGetLE32(&bytes[196]));

        bytes[0] = 0x12;  // wrong magic
        WriteFileBytes(file, bytes);
        TovFileStg again;
        EXPECT_EQ(row.version >= 0x0101 ? stgErrNotStorage : stgOk, again.Open(file, ""));
    }
    std::remove(file.c_str());
}

// The password check: cut to 16 characters, case matters; without stgPassword anything opens.
TEST(Container, PasswordCheck)
{
    std::string file = TempName("password.stg");
    TStgCreateOptions options;
    options.Flags = stgPassword | stgEncrypted;
    options.Password = "0123456789abcdefXYZ";  // stored cut to 16
    std::vector<uint8_t> data = Content(1000, 3);
    Build(file, options, {{"x.bin", data}});
    struct Row {
        const char* password;
        uint16_t code;
    } rows[] = {{"0123456789abcdef", stgOk},      {"0123456789abcdefANYTHING", stgOk},
                {"0123456789ABCDEF", stgErrPassword}, {"0123456789abcde", stgErrPassword},
                {"", stgErrPassword}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.password);
        TovFileStg stg;
        EXPECT_EQ(row.code, stg.Open(file, row.password));
        EXPECT_EQ(row.code == stgOk, stg.IsOpen());
        if (row.code == stgOk) {
            TMemoryStream out;
            ASSERT_EQ(stgOk, stg.ExtractEntryToStream(1, out));
            EXPECT_TRUE(out.Bytes() == data);
        }
    }
    // A 16-character password fills the check block without a terminating zero.
    options.Password = "sixteen-chars-pw";
    Build(file, options, {{"x.bin", data}});
    {
        TovFileStg exact;
        EXPECT_EQ(stgOk, exact.Open(file, "sixteen-chars-pw"));
    }

    // Without stgPassword any password opens; encrypted entries then decrypt with it.
    options.Flags = stgEncrypted;
    options.Password = "right";
    Build(file, options, {{"x.bin", data}});
    {
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, "wrong"));
        TMemoryStream out;
        ASSERT_EQ(stgOk, stg.ExtractEntryToStream(1, out));
        EXPECT_FALSE(out.Bytes() == data);
    }
    // Packed and encrypted: the wrong key makes the zlib layer fail, code 1.
    options.Flags = stgEncrypted | stgPacked;
    Build(file, options, {{"x.bin", data}});
    TovFileStg packed;
    ASSERT_EQ(stgOk, packed.Open(file, "wrong"));
    TMemoryStream out2;
    EXPECT_EQ(stgErrExtract, packed.ExtractEntryToStream(1, out2));
    EXPECT_FALSE(packed.LastError().empty());
    std::remove(file.c_str());
}

// Search: name ignoring ASCII case, whole names only, the mask decides, no filter finds the first.
TEST(Container, SearchByNameAndMask)
{
    std::string file = TempName("search.stg");
    {
        TStgWriter writer(file, TStgCreateOptions());
        writer.AddEntry("plain.txt", "1", 1, 0x0001);
        writer.AddEntry("Setup.DLL", "22", 2, stgAttrComponentFile);
        writer.AddEntry("other.dll", "333", 3, stgAttrComponentFile | 0x0001);
        writer.Record(2)->Value1 = 11;
        writer.Record(2)->Value2 = 22;
        writer.Record(2)->Aux1 = 7;
        writer.Record(2)->Aux2 = 8;
        writer.Commit();
    }
    TovFileStg stg;
    ASSERT_EQ(stgOk, stg.Open(file, ""));
    TStgSearchRec rec;
    ASSERT_EQ(stgOk, stg.FindFirst(nullptr, rec));
    EXPECT_EQ("plain.txt", rec.Name);
    EXPECT_EQ(1, rec.Id);
    stg.FindClose(rec);

    TStgSearchFilter filter;
    filter.Mask = stgAttrComponentFile;
    ASSERT_EQ(stgOk, stg.FindFirst(&filter, rec));
    EXPECT_EQ(2, rec.Id);
    EXPECT_EQ(11, rec.Value1);
    EXPECT_EQ(22, rec.Value2);
    EXPECT_EQ(7, rec.Aux1);
    EXPECT_EQ(8, rec.Aux2);
    EXPECT_EQ(2, rec.StoredSize);
    EXPECT_EQ(stgAttrComponentFile, rec.Attributes);
    stg.FindClose(rec);
    EXPECT_EQ(nullptr, rec.Context);

    filter.Name = "setup.dll";
    ASSERT_EQ(stgOk, stg.FindFirst(&filter, rec));
    EXPECT_EQ(2, rec.Id);
    stg.FindClose(rec);
    filter.Name = "OTHER.DLL";
    ASSERT_EQ(stgOk, stg.FindFirst(&filter, rec));
    EXPECT_EQ(3, rec.Id);
    stg.FindClose(rec);
    filter.Name = "setup";
    EXPECT_EQ(stgErrNotFound, stg.FindFirst(&filter, rec));
    stg.FindClose(rec);
    filter.Name = "plain.txt";  // its attributes lack the mask bit
    EXPECT_EQ(stgErrNotFound, stg.FindFirst(&filter, rec));
    stg.FindClose(rec);
    filter.Mask = 0x0001;
    EXPECT_EQ(stgOk, stg.FindFirst(&filter, rec));
    stg.FindClose(rec);
    std::remove(file.c_str());
}

// Extraction: twice the same Id, an unknown Id, over a read-only file; reopening gives 9.
TEST(Container, ExtractToFiles)
{
    std::string file = TempName("extract.stg"), target = TempName("extracted.bin");
    std::vector<uint8_t> data = Content(50000, 9);
    TStgCreateOptions options;
    options.Flags = stgPacked | stgScrambled | stgEncrypted;
    Build(file, options, {{"data.bin", data}});
    TovFileStg stg;
    ASSERT_EQ(stgOk, stg.Open(file, ""));
    EXPECT_EQ(stgErrAlreadyOpen, stg.Open(file, ""));
    EXPECT_EQ(stgErrNoId, stg.ExtractEntry(99, target));
    std::remove(target.c_str());
    ASSERT_EQ(stgOk, stg.ExtractEntry(1, target));
    EXPECT_TRUE(ReadFileBytes(target) == data);
    SetReadOnly(target);
    ASSERT_TRUE(IsReadOnly(target));
    ASSERT_EQ(stgOk, stg.ExtractEntry(1, target)) << stg.LastError();
    EXPECT_FALSE(IsReadOnly(target));
    EXPECT_TRUE(ReadFileBytes(target) == data);
    // A target in a folder that does not exist fails with 1; the container stays usable.
    EXPECT_EQ(stgErrExtract, stg.ExtractEntry(1, TempName("no_such_dir/x.bin")));
    EXPECT_EQ(stgOk, stg.ExtractEntry(1, target));
    stg.Close();
    std::remove(target.c_str());
    std::remove(file.c_str());
}

// Extraction failures say what is wrong, in words and with the numbers.
TEST(Damaged, MessagesSayWhatIsWrong)
{
    std::string file = TempName("messages.stg");
    TStgCreateOptions options;
    options.Flags = stgPacked;
    std::vector<uint8_t> data = Content(100000, 8);
    Build(file, options, {{"data.bin", data}});
    const std::vector<uint8_t> good = ReadFileBytes(file);
    TovFileStg probe;
    ASSERT_EQ(stgOk, probe.Open(file, ""));
    const size_t block = static_cast<size_t>(probe.Directory().at(0).second.DataOffset);
    const int32_t stored = probe.Directory().at(0).second.StoredSize;
    ASSERT_GT(stored, 2);
    probe.Close();
    // The zip filter's header (DataSize, StoredSize) follows the source filter's.
    const size_t zipDataSize = block + 2 + 8;
    ASSERT_EQ(static_cast<int32_t>(data.size()), StgGetLE32(&good[zipDataSize]));
    struct Case {
        const char* Says;
        void (*Damage)(std::vector<uint8_t>&, size_t, size_t, int32_t);
    } cases[] = {
        {"corrupt compressed data",
         [](std::vector<uint8_t>& b, size_t blk, size_t, int32_t) { b[blk + 18 + 1] ^= 0x01; }},  // zlib header check
        {"the entry ends 12,345 bytes early",
         [](std::vector<uint8_t>& b, size_t, size_t at, int32_t) { StgPutLE32(&b[at], StgGetLE32(&b[at]) + 12345); }},
        {"do not end at the 99999 bytes the entry declares",
         [](std::vector<uint8_t>& b, size_t, size_t at, int32_t) { StgPutLE32(&b[at], StgGetLE32(&b[at]) - 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Says);
        std::vector<uint8_t> b = good;
        c.Damage(b, block, zipDataSize, stored);
        WriteFileBytes(file, b);
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, ""));
        TMemoryStream out;
        EXPECT_EQ(stgErrExtract, stg.ExtractEntryToStream(1, out));
        EXPECT_NE(std::string::npos, stg.LastError().find(c.Says)) << stg.LastError();
    }
    std::remove(file.c_str());
}

#ifndef _WIN32
// A symbolic link already at the target is never written through (nor is its
// target made writable); the entry fails and the link stays as it was.
TEST(Container, ExtractionDoesNotFollowLinks)
{
    std::string file = TempName("links.stg"), outside = TempName("links_outside.txt"),
                link = TempName("links_target.bin");
    Build(file, TStgCreateOptions(), {{"data.bin", Content(100, 3)}});
    WriteFileBytes(outside, {'k', 'e', 'e', 'p'});
    SetReadOnly(outside);
    std::remove(link.c_str());
    ASSERT_EQ(0, ::symlink(outside.c_str(), link.c_str()));
    TovFileStg stg;
    ASSERT_EQ(stgOk, stg.Open(file, ""));
    EXPECT_EQ(stgErrExtract, stg.ExtractEntry(1, link));
    EXPECT_NE(std::string::npos, stg.LastError().find("symbolic link")) << stg.LastError();
    EXPECT_TRUE(ReadFileBytes(outside) == std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(IsReadOnly(outside));
    struct stat st;
    ASSERT_EQ(0, ::lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    stg.Close();
    std::remove(link.c_str());
    ::chmod(outside.c_str(), 0644);
    std::remove(outside.c_str());
    std::remove(file.c_str());
}
#endif

// Compaction at open: deleted records go, live blocks move back to back, and
// a container without dead space is left as it is.
TEST(Container, AutoCompaction)
{
    std::string file = TempName("compact.stg");
    TStgCreateOptions options;
    options.Flags = stgAutoCompact | stgPacked | stgEncrypted | stgScrambled;
    options.Extension = {1, 2, 3};
    std::vector<Entry> entries = {{"one", Content(5000, 1)}, {"two", Content(7000, 2)}, {"three", Content(40004, 3)}};
    Build(file, options, entries);
    std::vector<uint8_t> before = ReadFileBytes(file);
    {
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, ""));
        EXPECT_FALSE(stg.Compacted());
    }
    EXPECT_TRUE(ReadFileBytes(file) == before);

    ASSERT_EQ(1, StgMarkDeleted(file, "TWO"));
    int32_t oldDataSize = StgGetLE32(&before[192]);
    TovFileStg stg;
    ASSERT_EQ(stgOk, stg.Open(file, ""));
    EXPECT_TRUE(stg.Compacted());
    EXPECT_TRUE(stg.IsOpen());
    ASSERT_EQ(2u, stg.Directory().size());
    EXPECT_EQ("one", stg.Directory()[0].first);
    EXPECT_EQ("three", stg.Directory()[1].first);
    const TStgEntry& a = stg.Directory()[0].second;
    const TStgEntry& b = stg.Directory()[1].second;
    EXPECT_EQ(207, a.DataOffset);
    EXPECT_EQ(a.DataOffset + 34 + a.StoredSize, b.DataOffset);
    EXPECT_EQ(34 + a.StoredSize + 34 + b.StoredSize, stg.Header().DataSize);
    EXPECT_LT(stg.Header().DataSize, oldDataSize);
    TMemoryStream out;
    ASSERT_EQ(stgOk, stg.ExtractEntryToStream(b.Id, out));
    EXPECT_TRUE(out.Bytes() == entries[2].Data);
    stg.Close();
    std::vector<uint8_t> after = ReadFileBytes(file);
    EXPECT_EQ(207 + static_cast<size_t>(stg.Header().DataSize) + 4 + 2 * kStgEntrySize, after.size());
    EXPECT_EQ(2, StgGetLE32(&after[188]));
    EXPECT_EQ(3, after[200]);  // the extension came along
    EXPECT_EQ(3, after[206]);
    TovFileStg again;
    ASSERT_EQ(stgOk, again.Open(file, ""));
    EXPECT_FALSE(again.Compacted());
    std::remove(file.c_str());
}

// The handle API's codes.
TEST(HandleApi, Codes)
{
    std::string file = TempName("api.stg"), target = TempName("api_out.bin");
    TStgCreateOptions options;
    options.Flags = stgPacked | stgPassword;
    Build(file, options, {{"Comp.dll", Content(1234, 5)}});
    TStgHandle h = reinterpret_cast<TStgHandle>(1);
    EXPECT_EQ(stgErrNoFile, StgOpen(TempName("missing.stg").c_str(), nullptr, &h));
    EXPECT_EQ(nullptr, h);
    WriteFileBytes(target, {1, 2, 3});
    EXPECT_EQ(stgErrNotStorage, StgOpen(target.c_str(), "", &h));
    EXPECT_EQ(stgErrPassword, StgOpen(file.c_str(), "x", &h));
    ASSERT_EQ(stgOk, StgOpen(file.c_str(), nullptr, &h));
    ASSERT_NE(nullptr, h);
    TStgSearchFilter filter;
    filter.Name = "comp.DLL";
    filter.Mask = stgAttrComponentFile;
    TStgSearchRec rec;
    ASSERT_EQ(stgOk, StgFindFirst(h, &filter, &rec));
    EXPECT_EQ(stgOk, StgFindClose(h, rec));
    EXPECT_EQ(stgOk, StgFindClose(h, rec));  // the record was passed by value: a second close is harmless
    EXPECT_EQ(stgErrNoId, StgExtractFile(h, rec.Id + 1, target.c_str(), 0));
    EXPECT_EQ(stgOk, StgExtractFile(h, rec.Id, target.c_str(), 0));
    EXPECT_TRUE(ReadFileBytes(target) == Content(1234, 5));
    int dummy = 0;
    TStgHandle bogus = &dummy;
    EXPECT_EQ(stgErrHandle, StgFindFirst(bogus, &filter, &rec));
    EXPECT_EQ(stgErrHandle, StgExtractFile(bogus, 1, target.c_str(), 0));
    EXPECT_EQ(stgErrHandle, StgClose(nullptr));
    // The file is held exclusively while the container is open: a second opener fails
    // (on Windows any opener; on the host the advisory lock stops exclusive openers).
#ifdef _WIN32
    EXPECT_THROW(TFileStream(file, fmOpenRead | fmShareDenyNone), EFOpenError);
#endif
    TStgHandle second = nullptr;
    EXPECT_THROW(StgOpen(file.c_str(), nullptr, &second), EFOpenError);
    EXPECT_EQ(nullptr, second);
    EXPECT_EQ(stgOk, StgClose(h));
    EXPECT_EQ(stgErrHandle, StgClose(h));
    std::remove(target.c_str());
    std::remove(file.c_str());
}

// Truncated anywhere: Open answers 7 (the directory is at the end); no crash.
TEST(Damaged, TruncatedContainers)
{
    std::string file = TempName("trunc.stg"), cut = TempName("trunc_cut.stg");
    TStgCreateOptions options;
    options.Flags = stgPacked | stgEncrypted;
    Build(file, options, {{"a", Content(3000, 1)}, {"b", Content(100, 2)}});
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    for (size_t len = 0; len < bytes.size(); len += (len < 300 ? 7 : 97)) {
        SCOPED_TRACE(len);
        WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len)));
        TovFileStg stg;
        EXPECT_EQ(stgErrNotStorage, stg.Open(cut, ""));
        EXPECT_FALSE(stg.IsOpen());
    }
    std::remove(cut.c_str());
    std::remove(file.c_str());
}

// Directory counts, offsets and sizes that do not fit the file: 7 at open, 1 at extraction.
TEST(Damaged, RecordsOutsideTheFile)
{
    std::string file = TempName("outside.stg");
    std::vector<uint8_t> data = Content(3000, 4);
    Build(file, TStgCreateOptions(), {{"a", data}, {"b", data}});
    std::vector<uint8_t> good = ReadFileBytes(file);

    std::vector<uint8_t> bytes = good;
    uint8_t count[4];
    StgPutLE32(count, 1000000);
    StgScramblePiece(count, 4);
    std::memcpy(&bytes[DirectoryAt(bytes)], count, 4);
    WriteFileBytes(file, bytes);
    TovFileStg huge;
    EXPECT_EQ(stgErrNotStorage, huge.Open(file, ""));
    StgPutLE32(count, -1);
    StgScramblePiece(count, 4);
    std::memcpy(&bytes[DirectoryAt(bytes)], count, 4);
    WriteFileBytes(file, bytes);
    EXPECT_EQ(stgErrNotStorage, huge.Open(file, ""));

    bytes = good;
    StgPutLE32(&bytes[192], static_cast<int32_t>(bytes.size()));  // DataSize beyond the file
    WriteFileBytes(file, bytes);
    EXPECT_EQ(stgErrNotStorage, huge.Open(file, ""));
    StgPutLE32(&bytes[192], -300);
    WriteFileBytes(file, bytes);
    EXPECT_EQ(stgErrNotStorage, huge.Open(file, ""));

    struct Edit {
        const char* what;
        void (*apply)(TStgEntry&);
    } edits[] = {
        {"offset beyond the end", [](TStgEntry& e) { e.DataOffset = 0x7FFFFFF0; }},
        {"negative offset", [](TStgEntry& e) { e.DataOffset = -5; }},
        {"size beyond the end", [](TStgEntry& e) { e.StoredSize = 100000; }},
        {"size smaller than the block's", [](TStgEntry& e) { e.StoredSize -= 1; }},
        {"offset into the next block", [](TStgEntry& e) { e.DataOffset += 7; }},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        WriteFileBytes(file, good);
        EditRecord(file, 0, edit.apply);
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, ""));
        TMemoryStream out;
        EXPECT_EQ(stgErrExtract, stg.ExtractEntryToStream(1, out));
        EXPECT_EQ(stgOk, stg.ExtractEntryToStream(2, out));  // the other entry is intact
    }
    std::remove(file.c_str());
}

// The directory must end where the file ends, and the header's counts and
// the records' names must agree with it: one changed byte of DataSize (in any
// of its four bytes) or EntryCount, trailing bytes, or a name holding a zero
// byte make the container unreadable instead of smaller or different.
TEST(Damaged, DirectoryMustEndAtTheFileEnd)
{
    std::string file = TempName("dirend.stg");
    Build(file, TStgCreateOptions(), {{"a", Content(3000, 5)}, {"b", Content(10, 6)}});
    const std::vector<uint8_t> good = ReadFileBytes(file);
    std::vector<std::vector<uint8_t>> damaged;
    for (int i = 0; i < 4; ++i)
        for (uint8_t bit : {0x01, 0x10, 0x80}) {
            damaged.push_back(good);
            damaged.back()[192 + i] ^= bit;  // DataSize
        }
    damaged.push_back(good);
    damaged.back()[188] ^= 1;  // EntryCount
    damaged.push_back(good);
    damaged.back().push_back(0);  // one byte after the directory
    for (size_t k = 0; k < damaged.size(); ++k) {
        SCOPED_TRACE(k);
        WriteFileBytes(file, damaged[k]);
        TovFileStg stg;
        EXPECT_EQ(stgErrNotStorage, stg.Open(file, ""));
    }
    for (size_t len : {64, 65}) {  // a zero byte inside the name; a length above 64
        SCOPED_TRACE(len);
        WriteFileBytes(file, good);
        EditRecord(file, 1, [len](TStgEntry& e) {
            std::memcpy(e.Name, "\x05b\0exe", 6);
            if (len == 65)
                e.Name[0] = 65;
        });
        TovFileStg stg;
        EXPECT_EQ(stgErrNotStorage, stg.Open(file, ""));
    }
    WriteFileBytes(file, good);
    TovFileStg stg;
    EXPECT_EQ(stgOk, stg.Open(file, ""));
    std::remove(file.c_str());
}

// Every single-byte flip of a packed, scrambled, encrypted container: no
// crash, and an extraction that succeeds gives exactly the original content.
TEST(Damaged, BitFlipsNeverYieldWrongPackedContent)
{
    std::string file = TempName("flip.stg"), flipped = TempName("flip_one.stg");
    TStgCreateOptions options;
    options.Flags = stgPacked | stgScrambled | stgEncrypted;
    std::vector<uint8_t> a = Content(700, 6), b = Content(9, 7);
    Build(file, options, {{"a", a}, {"b", b}});
    std::vector<uint8_t> good = ReadFileBytes(file);
    int opened = 0, failed = 0;
    for (size_t i = 0; i < good.size(); ++i) {
        std::vector<uint8_t> bytes = good;
        bytes[i] ^= static_cast<uint8_t>(1u << (i % 8));
        WriteFileBytes(flipped, bytes);
        TovFileStg stg;
        uint16_t code = stg.Open(flipped, "");
        if (code != stgOk)
            continue;
        ++opened;
        for (const auto& item : stg.Directory()) {
            TMemoryStream out;
            if (stg.ExtractEntryToStream(item.second.Id, out) != stgOk) {
                ++failed;
                continue;
            }
            EXPECT_TRUE(out.Bytes() == a || out.Bytes() == b) << "flip at " << i;
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(failed, 0);
    std::remove(flipped.c_str());
    std::remove(file.c_str());
}

// Random damage (fixed seed) for every flag combination: several changed
// bytes, cut or padded files. Nothing escapes as an exception or crashes;
// packed entries either fail or come out exactly right.
TEST(Damaged, RandomCorruptionEveryFlagCombination)
{
    std::string file = TempName("random.stg"), damaged = TempName("random_damaged.stg");
    uint32_t seed = 20240601;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    std::vector<Entry> entries = {{"a", Content(2000, 8)}, {"b", Content(13, 9)}, {"c", {}}};
    for (uint16_t combo = 0; combo < 8; ++combo) {
        SCOPED_TRACE(combo);
        TStgCreateOptions options;
        options.Flags = static_cast<uint16_t>(((combo & 1) ? stgPacked : 0) | ((combo & 2) ? stgScrambled : 0) |
                                              ((combo & 4) ? stgEncrypted : 0));
        Build(file, options, entries);
        const std::vector<uint8_t> good = ReadFileBytes(file);
        for (int round = 0; round < 60; ++round) {
            std::vector<uint8_t> bytes = good;
            uint32_t changes = 1 + next(6);
            for (uint32_t k = 0; k < changes; ++k)
                bytes[next(static_cast<uint32_t>(bytes.size()))] = static_cast<uint8_t>(next(256));
            switch (next(4)) {
            case 0: bytes.resize(next(static_cast<uint32_t>(bytes.size()))); break;
            case 1: bytes.insert(bytes.end(), next(300), static_cast<uint8_t>(next(256))); break;
            default: break;
            }
            WriteFileBytes(damaged, bytes);
            TovFileStg stg;
            uint16_t code = stgOk;
            ASSERT_NO_THROW(code = stg.Open(damaged, "")) << "round " << round;
            if (code != stgOk)
                continue;
            for (const auto& item : stg.Directory()) {
                TMemoryStream out;
                uint16_t extracted = stgOk;
                ASSERT_NO_THROW(extracted = stg.ExtractEntryToStream(item.second.Id, out)) << "round " << round;
                if (extracted == stgOk && (options.Flags & stgPacked)) {
                    EXPECT_TRUE(out.Bytes() == entries[0].Data || out.Bytes() == entries[1].Data ||
                                out.Bytes() == entries[2].Data)
                        << "round " << round;
                }
            }
        }
    }
    std::remove(damaged.c_str());
    std::remove(file.c_str());
}

// Filter headers that contradict each other are refused: a packed entry
// announced as empty, a block cipher whose sizes are not one padding apart,
// a scrambler whose sizes differ.
TEST(Damaged, FilterHeadersMustAgree)
{
    std::string file = TempName("headers.stg");
    struct Row {
        uint16_t flags;
        size_t contentSize;
        int headerIndex;  // filter whose DataSize is changed
        int32_t newDataSize;
    } rows[] = {
        {stgPacked | stgScrambled | stgEncrypted, 8, 3, 0},  // zip: 8 bytes announced as 0
        {stgPacked, 1, 1, 0},                                // zip over the source only
        {stgEncrypted, 16, 1, 24},                           // Blowfish: 24 would need 24 stored
        {stgScrambled, 13, 1, 12},                           // scrambler: 12 in, 13 out
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags);
        TStgCreateOptions options;
        options.Flags = row.flags;
        std::vector<uint8_t> content = Content(row.contentSize, 3);
        Build(file, options, {{"x", content}});
        {
            TovFileStg stg;
            ASSERT_EQ(stgOk, stg.Open(file, ""));
            TMemoryStream out;
            ASSERT_EQ(stgOk, stg.ExtractEntryToStream(1, out));
            EXPECT_TRUE(out.Bytes() == content);
        }
        std::vector<uint8_t> bytes = ReadFileBytes(file);
        const size_t block = 204;  // version 0x0101 with an empty extension: the first block
        StgPutLE32(&bytes[block + 2 + 8 * static_cast<size_t>(row.headerIndex)], row.newDataSize);
        WriteFileBytes(file, bytes);
        TovFileStg stg;
        ASSERT_EQ(stgOk, stg.Open(file, ""));
        TMemoryStream out;
        EXPECT_EQ(stgErrExtract, stg.ExtractEntryToStream(1, out));
    }
    std::remove(file.c_str());
}
