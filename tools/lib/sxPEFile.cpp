#include "sxPEFile.h"

#include "ovBytes.h"
#include "ovFileBytes.h"

#include <algorithm>
#include <cstring>
#include <map>

// Offsets and values of the PE structures this writer touches.
namespace {

constexpr uint32_t kDosLfanew = 0x3C;           // offset of the PE header's offset
constexpr uint32_t kCoffSize = 20;              // file header after "PE\0\0"
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kOptMagic32 = 0x10B, kOptMagic64 = 0x20B;
constexpr uint32_t kOptSizeOfInitData = 8;
constexpr uint32_t kOptSectionAlignment = 32;
constexpr uint32_t kOptFileAlignment = 36;
constexpr uint32_t kOptSizeOfImage = 56;
constexpr uint32_t kOptSizeOfHeaders = 60;
constexpr uint32_t kOptCheckSum = 64;
constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirSecurity = 4;
constexpr uint32_t kDirBaseReloc = 5;
constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnMemRead = 0x40000000;
constexpr uint32_t kResDirSize = 16, kResDirEntrySize = 8, kResDataEntrySize = 16;
constexpr uint32_t kSubdirFlag = 0x80000000u;
constexpr size_t kCopyChunk = 1 << 20;
// The resource section starts on a page boundary of the file: a loader that
// maps image sections straight from the file (Wine does, for sections whose
// file offset is page-aligned; otherwise it reads the whole section into
// memory before the program starts) then maps the archive instead of
// copying it, so a large setup starts at once and its archive stays in the
// file cache. Costs less than one page of zeros.
constexpr uint32_t kResourcePageAlignment = 0x1000;

uint32_t AlignUp(uint64_t value, uint32_t alignment)
{
    if (alignment == 0)
        return static_cast<uint32_t>(value);
    uint64_t r = (value + alignment - 1) / alignment * alignment;
    if (r > 0xFFFFFFFFull)
        throw EPEFormat("Image too large");
    return static_cast<uint32_t>(r);
}


char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

// ------------------------------------------------------------------- TResId

TResId::TResId(const char* name)
{
    std::string s = name ? name : "";
    if (s.size() > 1 && s[0] == '#' && s.find_first_not_of("0123456789", 1) == std::string::npos &&
        s.size() <= 6) {
        unsigned long v = std::stoul(s.substr(1));
        if (v <= 0xFFFF) {
            Id = static_cast<uint16_t>(v);
            return;
        }
    }
    IsName = true;
    for (char& c : s)
        c = Upper(c);
    Name = s;
}

std::string TResId::ToString() const
{
    return IsName ? Name : "#" + std::to_string(Id);
}

bool TResId::operator<(const TResId& o) const
{
    if (IsName != o.IsName)
        return IsName;  // named entries come first in a directory
    return IsName ? Name < o.Name : Id < o.Id;
}

// --------------------------------------------------------------- TPEChecksum

void TPEChecksum::Add(const uint8_t* data, size_t count)
{
    uint64_t sum = Sum;
    int64_t pos = Length;
    for (size_t i = 0; i < count; ++i, ++pos) {
        uint32_t b = (pos >= FieldOffset && pos < FieldOffset + 4) ? 0 : data[i];
        if (Pending < 0) {
            Pending = static_cast<int>(b);
        } else {
            sum += static_cast<uint32_t>(Pending) | (b << 8);
            sum = (sum & 0xFFFF) + (sum >> 16);
            Pending = -1;
        }
    }
    Sum = sum;
    Length = pos;
}

uint32_t TPEChecksum::Finish() const
{
    uint64_t sum = Sum;
    if (Pending >= 0) {
        sum += static_cast<uint32_t>(Pending);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + static_cast<uint64_t>(Length));
}

// ------------------------------------------------------------------ TPEFile

uint32_t TPEFile::Rd16(size_t off) const
{
    if (!BytesInside(Image.size(), off, 2))
        throw EPEFormat("Damaged image: read beyond the end of the file");
    return GetLE16(&Image[off]);
}

uint32_t TPEFile::Rd32(size_t off) const
{
    if (!BytesInside(Image.size(), off, 4))
        throw EPEFormat("Damaged image: read beyond the end of the file");
    return GetLE32(&Image[off]);
}

bool TPEFile::IsPEImage(const std::vector<uint8_t>& head)
{
    if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z')
        return false;
    uint32_t lfanew = GetLE32(&head[kDosLfanew]);
    if (lfanew > head.size() - 4)
        return false;
    return std::memcmp(&head[lfanew], "PE\0\0", 4) == 0;
}

void TPEFile::LoadFromFile(const std::string& fileName)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(fileName, kWholeFileLimit, bytes))
        throw EPEFormat(FormatText("%s is too large for an image", fileName.c_str()));
    try {
        LoadFromBytes(std::move(bytes));
    } catch (const EPEFormat& e) {
        throw EPEFormat(fileName + ": " + e.message());
    }
}

void TPEFile::LoadFromBytes(std::vector<uint8_t> bytes)
{
    Image = std::move(bytes);
    Sections.clear();
    Entries.clear();
    RsrcSection = -1;
    if (!IsPEImage(Image))
        throw EPEFormat("Not a Windows executable (no MZ/PE signature)");
    PEOffset = Rd32(kDosLfanew);
    size_t coff = PEOffset + 4;
    uint32_t numSections = Rd16(coff + 2);
    uint32_t optSize = Rd16(coff + 16);
    OptOffset = coff + kCoffSize;
    uint32_t magic = Rd16(OptOffset);
    uint32_t numDirsOffset;
    if (magic == kOptMagic32) {
        numDirsOffset = 92;
        DirOffset = OptOffset + 96;
    } else if (magic == kOptMagic64) {
        numDirsOffset = 108;
        DirOffset = OptOffset + 112;
    } else {
        throw EPEFormat("Unknown optional header");
    }
    NumDirs = Rd32(OptOffset + numDirsOffset);
    if (DirOffset + 8ull * std::min<uint32_t>(NumDirs, 16) > OptOffset + optSize)
        throw EPEFormat("Damaged optional header");
    SectionAlignment = Rd32(OptOffset + kOptSectionAlignment);
    FileAlignment = Rd32(OptOffset + kOptFileAlignment);
    SizeOfHeaders = Rd32(OptOffset + kOptSizeOfHeaders);
    // The file alignment pads the rewritten resource section: at most the
    // 64 KB an image may have, or a 2 KB stub would be written as megabytes.
    if (FileAlignment == 0 || SectionAlignment == 0 || (FileAlignment & (FileAlignment - 1)) ||
        (SectionAlignment & (SectionAlignment - 1)) || FileAlignment > 0x10000)
        throw EPEFormat("Damaged optional header (alignment)");
    SectionTableOffset = OptOffset + optSize;
    uint64_t tableEnd = SectionTableOffset + static_cast<uint64_t>(numSections) * kSectionHeaderSize;
    if (tableEnd > Image.size())
        throw EPEFormat("Damaged section table");
    // The headers hold the section table and lie inside the file: every
    // later step copies and patches them, so a wrong size is refused here.
    if (SizeOfHeaders < tableEnd || SizeOfHeaders > Image.size())
        throw EPEFormat(FormatText("Damaged optional header (SizeOfHeaders is %u; the headers need %u bytes "
                                   "and the file has %u)",
                                   SizeOfHeaders, static_cast<unsigned>(tableEnd),
                                   static_cast<unsigned>(Image.size())));
    for (uint32_t i = 0; i < numSections; ++i) {
        size_t h = SectionTableOffset + i * kSectionHeaderSize;
        TSection s;
        std::memcpy(s.Name, &Image[h], 8);
        s.VirtualSize = Rd32(h + 8);
        s.VirtualAddress = Rd32(h + 12);
        s.SizeOfRawData = Rd32(h + 16);
        s.PointerToRawData = Rd32(h + 20);
        s.Characteristics = Rd32(h + 36);
        s.HeaderOffset = h;
        if (s.SizeOfRawData && static_cast<uint64_t>(s.PointerToRawData) + s.SizeOfRawData > Image.size())
            throw EPEFormat("Damaged section table (section beyond the end of the file)");
        if (s.SizeOfRawData && s.PointerToRawData < SizeOfHeaders)
            throw EPEFormat("Damaged section table (section data inside the headers)");
        if (static_cast<uint64_t>(s.VirtualAddress) + std::max(s.VirtualSize, s.SizeOfRawData) > 0xFFFFFFFFull)
            throw EPEFormat("Damaged section table (section beyond the address space)");
        // The headers are mapped first: a section with contents starts behind them.
        if ((s.VirtualSize || s.SizeOfRawData) && s.VirtualAddress < AlignUp(SizeOfHeaders, SectionAlignment))
            throw EPEFormat("Damaged section table (section mapped over the headers)");
        Sections.push_back(s);
    }
    // A linker gives every section its own stretch of the file. Sections
    // whose data overlap cannot be moved one by one (rewriting the resource
    // section would cut a neighbour that reaches into it).
    std::vector<const TSection*> stored;
    for (const TSection& s : Sections)
        if (s.SizeOfRawData)
            stored.push_back(&s);
    std::sort(stored.begin(), stored.end(),
              [](const TSection* a, const TSection* b) { return a->PointerToRawData < b->PointerToRawData; });
    for (size_t i = 1; i < stored.size(); ++i)
        if (static_cast<uint64_t>(stored[i - 1]->PointerToRawData) + stored[i - 1]->SizeOfRawData >
            stored[i]->PointerToRawData)
            throw EPEFormat("Damaged section table (sections share file data)");
    ParseResources();
}

size_t TPEFile::RvaToOffset(uint32_t rva, uint32_t size) const
{
    for (const TSection& s : Sections) {
        if (rva >= s.VirtualAddress && static_cast<uint64_t>(rva) - s.VirtualAddress + size <= s.SizeOfRawData)
            return s.PointerToRawData + (rva - s.VirtualAddress);
    }
    throw EPEFormat("Damaged resource directory (address outside every section)");
}

TResId TPEFile::ReadResName(uint32_t rsrcRva, uint32_t nameOffset) const
{
    size_t off = RvaToOffset(rsrcRva + nameOffset, 2);
    uint32_t len = Rd16(off);
    RvaToOffset(rsrcRva + nameOffset, 2 + 2 * len);
    TResId id;
    id.IsName = true;
    for (uint32_t i = 0; i < len; ++i) {
        uint32_t ch = Rd16(off + 2 + 2 * i);
        id.Name += ch < 0x80 ? Upper(static_cast<char>(ch)) : '?';
    }
    return id;
}

void TPEFile::ParseResources()
{
    if (NumDirs <= kDirResource)
        return;
    uint32_t rva = Rd32(DirOffset + kDirResource * 8);
    uint32_t size = Rd32(DirOffset + kDirResource * 8 + 4);
    if (rva == 0 || size == 0)
        return;
    for (size_t i = 0; i < Sections.size(); ++i) {
        const TSection& s = Sections[i];
        if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.VirtualSize, s.SizeOfRawData))
            RsrcSection = static_cast<int>(i);
    }
    if (RsrcSection < 0)
        throw EPEFormat("Damaged resource directory (outside every section)");
    TResId ids[2];
    Visited = 0;
    ParseDirectory(rva, 0, 0, ids, 0);
}

void TPEFile::ParseDirectory(uint32_t rsrcRva, uint32_t dirOffset, int level, TResId ids[2], int depthGuard)
{
    size_t off = RvaToOffset(rsrcRva + dirOffset, kResDirSize);
    uint32_t count = Rd16(off + 12) + Rd16(off + 14);
    RvaToOffset(rsrcRva + dirOffset, kResDirSize + count * kResDirEntrySize);
    // Entries of a damaged directory may point at one subdirectory many times
    // over: the walk is bounded however the directories are linked.
    Visited += count;
    if (Entries.size() + count > 100000 || Visited > 1000000)
        throw EPEFormat("Damaged resource directory (too many entries)");
    for (uint32_t i = 0; i < count; ++i) {
        size_t e = off + kResDirSize + i * kResDirEntrySize;
        uint32_t nameField = Rd32(e), dataField = Rd32(e + 4);
        TResId id;
        if (nameField & kSubdirFlag)
            id = ReadResName(rsrcRva, nameField & ~kSubdirFlag);
        else
            id.Id = static_cast<uint16_t>(nameField);
        bool isDir = (dataField & kSubdirFlag) != 0;
        if (level < 2) {
            if (!isDir)
                throw EPEFormat("Damaged resource directory (data where a directory belongs)");
            ids[level] = id;
            ParseDirectory(rsrcRva, dataField & ~kSubdirFlag, level + 1, ids, depthGuard + 1);
        } else {
            if (isDir)
                throw EPEFormat("Damaged resource directory (too deep)");
            size_t d = RvaToOffset(rsrcRva + dataField, kResDataEntrySize);
            uint32_t dataRva = Rd32(d), dataSize = Rd32(d + 4);
            TResEntry entry;
            entry.Type = ids[0];
            entry.Name = ids[1];
            entry.Language = id.IsName ? 0 : id.Id;
            entry.CodePage = Rd32(d + 8);
            if (dataSize) {
                size_t src = RvaToOffset(dataRva, dataSize);
                entry.Data.assign(Image.begin() + src, Image.begin() + src + dataSize);
            }
            Entries.push_back(std::move(entry));
        }
    }
}

const TResEntry* TPEFile::Find(const TResId& type, const TResId& name) const
{
    for (const TResEntry& e : Entries)
        if (e.Type == type && e.Name == name)
            return &e;
    return nullptr;
}

int TPEFile::Remove(const TResId& type, const TResId& name)
{
    size_t before = Entries.size();
    Entries.erase(std::remove_if(Entries.begin(), Entries.end(),
                                 [&](const TResEntry& e) { return e.Type == type && e.Name == name; }),
                  Entries.end());
    return static_cast<int>(before - Entries.size());
}

TResEntry& TPEFile::Set(const TResId& type, const TResId& name, std::vector<uint8_t> data, uint16_t language)
{
    Remove(type, name);
    TResEntry e;
    e.Type = type;
    e.Name = name;
    e.Language = language;
    e.Data = std::move(data);
    Entries.push_back(std::move(e));
    return Entries.back();
}

TResEntry& TPEFile::SetFromStream(const TResId& type, const TResId& name, TStream& source, int64_t size,
                                  uint16_t language)
{
    TResEntry& e = Set(type, name, {}, language);
    e.Source = &source;
    e.SourceSize = size;
    return e;
}

namespace {

// Output that feeds the checksum and counts what was written.
class TImageWriter {
public:
    TImageWriter(TStream& target, int64_t checksumOffset) : Target(target), Sum(checksumOffset) {}
    void Write(const uint8_t* data, size_t count)
    {
        Sum.Add(data, count);
        while (count) {
            int32_t n = static_cast<int32_t>(std::min<size_t>(count, kCopyChunk));
            Target.WriteBuffer(data, n);
            data += n;
            count -= n;
            Written += n;
        }
    }
    void Zeros(size_t count)
    {
        static const uint8_t zeros[4096] = {};
        while (count) {
            size_t n = std::min(count, sizeof zeros);
            Write(zeros, n);
            count -= n;
        }
    }
    int64_t Written = 0;
    TStream& Target;
    TPEChecksum Sum;
};

// The resource section laid out: the entries sorted, where each one's data
// go (from the section's start), the directory bytes that precede the data,
// and the section's size.
struct TResLayout {
    std::vector<const TResEntry*> Sorted;
    std::vector<uint32_t> DataOffsets;
    std::vector<uint8_t> Dir;
    uint32_t SectionSize = 0;
};

TResLayout LayOutResources(const std::vector<TResEntry>& entries, uint32_t sectionVa)
{
    // Sorted: type, name, language.
    std::vector<const TResEntry*> sorted;
    for (const TResEntry& e : entries)
        sorted.push_back(&e);
    std::stable_sort(sorted.begin(), sorted.end(), [](const TResEntry* a, const TResEntry* b) {
        if (a->Type != b->Type) return a->Type < b->Type;
        if (a->Name != b->Name) return a->Name < b->Name;
        return a->Language < b->Language;
    });
    for (size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i]->Type == sorted[i - 1]->Type && sorted[i]->Name == sorted[i - 1]->Name &&
            sorted[i]->Language == sorted[i - 1]->Language)
            throw EPEFormat("Duplicate resource " + sorted[i]->Type.ToString() + "/" + sorted[i]->Name.ToString());

    struct TNameGroup { TResId Id; std::vector<const TResEntry*> Langs; };
    struct TTypeGroup { TResId Id; std::vector<TNameGroup> Names; };
    std::vector<TTypeGroup> types;
    for (const TResEntry* e : sorted) {
        if (types.empty() || types.back().Id != e->Type)
            types.push_back({e->Type, {}});
        auto& names = types.back().Names;
        if (names.empty() || names.back().Id != e->Name)
            names.push_back({e->Name, {}});
        names.back().Langs.push_back(e);
    }

    // Sizes: directories breadth-first, then data entries, then name texts,
    // then the data blobs (each on an 8-byte boundary).
    uint32_t dirBytes = kResDirSize + kResDirEntrySize * static_cast<uint32_t>(types.size());
    for (auto& t : types) {
        dirBytes += kResDirSize + kResDirEntrySize * static_cast<uint32_t>(t.Names.size());
        for (auto& n : t.Names)
            dirBytes += kResDirSize + kResDirEntrySize * static_cast<uint32_t>(n.Langs.size());
    }
    uint32_t dataEntryStart = dirBytes;
    uint32_t nameStart = dataEntryStart + kResDataEntrySize * static_cast<uint32_t>(sorted.size());
    std::vector<uint8_t> names;
    std::map<std::string, uint32_t> nameOffsets;
    auto nameOffset = [&](const TResId& id) -> uint32_t {
        auto it = nameOffsets.find(id.Name);
        if (it != nameOffsets.end())
            return it->second;
        uint32_t off = nameStart + static_cast<uint32_t>(names.size());
        AppendLE16(names, static_cast<uint16_t>(id.Name.size()));
        for (char c : id.Name) {
            names.push_back(static_cast<uint8_t>(c));
            names.push_back(0);
        }
        nameOffsets[id.Name] = off;
        return off;
    };
    for (auto& t : types) {
        if (t.Id.IsName) nameOffset(t.Id);
        for (auto& n : t.Names)
            if (n.Id.IsName) nameOffset(n.Id);
    }
    uint32_t dataStart = AlignUp(static_cast<uint64_t>(nameStart) + names.size(), 8);
    std::vector<uint32_t> dataOffsets;
    uint64_t cursor = dataStart;
    for (const TResEntry* e : sorted) {
        if (e->Size() < 0 || e->Size() > 0x7FFFFFFF)
            throw EPEFormat("Resource too large: " + e->Name.ToString());
        dataOffsets.push_back(static_cast<uint32_t>(cursor));
        cursor = AlignUp(cursor + static_cast<uint64_t>(e->Size()), 8);
        if (cursor > 0x7FFFFFFF)
            throw EPEFormat("Resources too large for one image");
    }
    uint32_t sectionSize = static_cast<uint32_t>(cursor);
    if (sorted.empty())
        sectionSize = std::max<uint32_t>(sectionSize, kResDirSize);

    // The directory bytes (everything before the data blobs).
    std::vector<uint8_t> dir(dataStart, 0);
    auto putDir = [&](uint32_t off, const std::vector<TResId>& ids, const std::vector<uint32_t>& targets, bool subdirs) {
        uint32_t named = 0;
        for (const TResId& id : ids)
            named += id.IsName ? 1 : 0;
        PutLE16(dir, off + 12, named);
        PutLE16(dir, off + 14, static_cast<uint32_t>(ids.size()) - named);
        for (size_t i = 0; i < ids.size(); ++i) {
            uint32_t e = off + kResDirSize + static_cast<uint32_t>(i) * kResDirEntrySize;
            PutLE32(dir, e, ids[i].IsName ? (kSubdirFlag | nameOffsets[ids[i].Name]) : ids[i].Id);
            PutLE32(dir, e + 4, subdirs ? (kSubdirFlag | targets[i]) : targets[i]);
        }
    };
    {
        uint32_t next = kResDirSize + kResDirEntrySize * static_cast<uint32_t>(types.size());
        std::vector<uint32_t> typeDirs;
        for (auto& t : types) {
            typeDirs.push_back(next);
            next += kResDirSize + kResDirEntrySize * static_cast<uint32_t>(t.Names.size());
        }
        std::vector<TResId> typeIds;
        for (auto& t : types)
            typeIds.push_back(t.Id);
        putDir(0, typeIds, typeDirs, true);
        size_t entryIndex = 0;
        for (size_t ti = 0; ti < types.size(); ++ti) {
            std::vector<TResId> nameIds;
            std::vector<uint32_t> nameDirs;
            for (auto& n : types[ti].Names) {
                nameIds.push_back(n.Id);
                nameDirs.push_back(next);
                next += kResDirSize + kResDirEntrySize * static_cast<uint32_t>(n.Langs.size());
            }
            putDir(typeDirs[ti], nameIds, nameDirs, true);
            for (size_t ni = 0; ni < types[ti].Names.size(); ++ni) {
                std::vector<TResId> langIds;
                std::vector<uint32_t> dataEntries;
                for (const TResEntry* e : types[ti].Names[ni].Langs) {
                    langIds.push_back(TResId(e->Language));
                    uint32_t de = dataEntryStart + static_cast<uint32_t>(entryIndex) * kResDataEntrySize;
                    dataEntries.push_back(de);
                    PutLE32(dir, de, sectionVa + dataOffsets[entryIndex]);
                    PutLE32(dir, de + 4, static_cast<uint32_t>(e->Size()));
                    PutLE32(dir, de + 8, e->CodePage);
                    ++entryIndex;
                }
                putDir(nameDirs[ni], langIds, dataEntries, false);
            }
        }
        std::copy(names.begin(), names.end(), dir.begin() + nameStart);
    }

    TResLayout layout;
    layout.Sorted = std::move(sorted);
    layout.DataOffsets = std::move(dataOffsets);
    layout.Dir = std::move(dir);
    layout.SectionSize = sectionSize;
    return layout;
}

}  // namespace

TPEFile::TPlacement TPEFile::PlaceResources() const
{
    TPlacement p;
    int lastByVa = -1, lastByRaw = -1;
    for (size_t i = 0; i < Sections.size(); ++i) {
        const TSection& s = Sections[i];
        uint32_t vaEnd = AlignUp(static_cast<uint64_t>(s.VirtualAddress) + std::max(s.VirtualSize, s.SizeOfRawData),
                                 SectionAlignment);
        if (vaEnd >= p.MaxVaEnd) {
            p.MaxVaEnd = vaEnd;
            lastByVa = static_cast<int>(i);
        }
        uint32_t rawEnd = s.SizeOfRawData ? s.PointerToRawData + s.SizeOfRawData : 0;
        if (rawEnd >= p.MaxRawEnd) {
            p.MaxRawEnd = rawEnd;
            lastByRaw = static_cast<int>(i);
        }
    }
    p.InPlace = RsrcSection >= 0 && RsrcSection == lastByVa && RsrcSection == lastByRaw &&
                static_cast<size_t>(RsrcSection) == Sections.size() - 1;
    // The base relocations alone may follow the resources, as the linker lays
    // out the stub. Their bytes do not depend on where they lie, so they move
    // behind the rebuilt resources (only the data directory entry names
    // their place) instead of leaving the old resource section as dead weight.
    if (!p.InPlace && RsrcSection >= 0 && static_cast<size_t>(RsrcSection) + 2 == Sections.size() &&
        NumDirs > kDirBaseReloc) {
        int last = static_cast<int>(Sections.size()) - 1;
        const TSection& t = Sections[last];
        const TSection& r = Sections[RsrcSection];
        uint32_t tEnd = t.VirtualAddress + std::max(t.VirtualSize, t.SizeOfRawData);
        uint32_t relocRva = Rd32(DirOffset + kDirBaseReloc * 8);
        bool only = relocRva >= t.VirtualAddress && relocRva < tEnd;
        for (uint32_t d = 0; d < std::min<uint32_t>(NumDirs, 16) && only; ++d) {
            uint32_t rva = Rd32(DirOffset + d * 8);
            if (d != kDirBaseReloc && d != kDirSecurity && rva >= t.VirtualAddress && rva < tEnd)
                only = false;
        }
        if (only && last == lastByVa && last == lastByRaw && t.VirtualAddress > r.VirtualAddress &&
            r.SizeOfRawData && t.PointerToRawData >= r.PointerToRawData + r.SizeOfRawData) {
            p.Tail = last;
            p.InPlace = true;
        }
    }
    const uint32_t rawAlignment = std::max(FileAlignment, kResourcePageAlignment);
    if (p.InPlace) {
        const TSection& s = Sections[RsrcSection];
        p.Va = s.VirtualAddress;
        // An empty section may name any place: its data then go behind
        // everything else, never into the headers.
        p.KeptEnd = s.SizeOfRawData ? s.PointerToRawData : std::max<uint32_t>(p.MaxRawEnd, SizeOfHeaders);
        p.Raw = AlignUp(p.KeptEnd, rawAlignment);
        p.Header = s.HeaderOffset;
        p.OldRawSize = s.SizeOfRawData;
    } else {
        p.Header = SectionTableOffset + Sections.size() * kSectionHeaderSize;
        uint32_t firstRaw = 0xFFFFFFFFu;
        for (const TSection& s : Sections)
            if (s.SizeOfRawData)
                firstRaw = std::min(firstRaw, s.PointerToRawData);
        if (p.Header + kSectionHeaderSize > std::min<uint64_t>(SizeOfHeaders, firstRaw))
            throw EPEFormat("No room in the headers for one more section");
        // Behind every section, and never over the headers (an image whose
        // sections are all empty would otherwise get its resources at 0).
        p.Va = std::max(p.MaxVaEnd, AlignUp(SizeOfHeaders, SectionAlignment));
        p.Raw = AlignUp(std::max<uint32_t>(p.MaxRawEnd, SizeOfHeaders), rawAlignment);
    }
    return p;
}

void TPEFile::SaveToStream(TStream& target)
{
    if (Image.empty())
        throw EPEFormat("No image loaded");
    if (NumDirs <= kDirResource)
        throw EPEFormat("The image has no resource data directory");

    // ---- Where the resource section goes.
    const TPlacement place = PlaceResources();
    const uint32_t maxVaEnd = place.MaxVaEnd, maxRawEnd = place.MaxRawEnd;
    const bool inPlace = place.InPlace;
    const int tail = place.Tail;
    const uint32_t sectionVa = place.Va, sectionRaw = place.Raw, oldRawSize = place.OldRawSize;
    const size_t sectionHeader = place.Header;

    // ---- Data after the sections (overlay); an embedded signature is
    // dropped, since the new image would invalidate it anyway.
    size_t overlayStart = std::max<size_t>(maxRawEnd, SizeOfHeaders);
    size_t overlayEnd = Image.size();
    uint32_t certOffset = NumDirs > kDirSecurity ? Rd32(DirOffset + kDirSecurity * 8) : 0;
    if (certOffset && certOffset >= overlayStart && certOffset <= overlayEnd)
        overlayEnd = certOffset;
    if (overlayStart > overlayEnd)
        overlayStart = overlayEnd;

    // ---- The resource tree.
    TResLayout layout = LayOutResources(Entries, sectionVa);
    const std::vector<const TResEntry*>& sorted = layout.Sorted;
    const std::vector<uint32_t>& dataOffsets = layout.DataOffsets;
    const std::vector<uint8_t>& dir = layout.Dir;
    uint32_t sectionSize = layout.SectionSize;

    // ---- New headers.
    uint32_t rawSize = AlignUp(sectionSize, FileAlignment);
    // In place, the bytes between what is kept and the section's new start
    // (the old resources) become zeros.
    uint32_t headEnd = inPlace ? place.KeptEnd : static_cast<uint32_t>(overlayStart);
    std::vector<uint8_t> head(Image.begin(), Image.begin() + std::min<size_t>(headEnd, Image.size()));
    head.resize(sectionRaw, 0);
    size_t coff = PEOffset + 4;
    if (!inPlace) {
        PutLE16(head, coff + 2, static_cast<uint32_t>(Sections.size() + 1));
        static const char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
        std::memcpy(&head[sectionHeader], kName, 8);
        for (size_t i = 8; i < kSectionHeaderSize; ++i)
            head[sectionHeader + i] = 0;
        PutLE32(head, sectionHeader + 36, kScnInitializedData | kScnMemRead);
    }
    PutLE32(head, sectionHeader + 8, sectionSize);
    PutLE32(head, sectionHeader + 12, sectionVa);
    PutLE32(head, sectionHeader + 16, rawSize);
    PutLE32(head, sectionHeader + 20, sectionRaw);
    uint32_t initData = Rd32(OptOffset + kOptSizeOfInitData);
    initData = initData - std::min(initData, oldRawSize) + rawSize;
    PutLE32(head, OptOffset + kOptSizeOfInitData, initData);
    uint32_t imageSize = AlignUp(static_cast<uint64_t>(sectionVa) + sectionSize, SectionAlignment);
    if (!inPlace)
        imageSize = std::max(imageSize, maxVaEnd);
    uint32_t tailRawSize = 0;
    if (tail >= 0) {
        const TSection& t = Sections[tail];
        uint32_t tailVa = imageSize;
        uint32_t tailRaw = sectionRaw + rawSize;
        tailRawSize = t.SizeOfRawData;
        PutLE32(head, t.HeaderOffset + 12, tailVa);
        PutLE32(head, t.HeaderOffset + 20, tailRaw);
        uint32_t relocRva = Rd32(DirOffset + kDirBaseReloc * 8);
        PutLE32(head, DirOffset + kDirBaseReloc * 8, relocRva - t.VirtualAddress + tailVa);
        imageSize = AlignUp(static_cast<uint64_t>(tailVa) + std::max(t.VirtualSize, t.SizeOfRawData), SectionAlignment);
    }
    PutLE32(head, OptOffset + kOptSizeOfImage, imageSize);
    PutLE32(head, DirOffset + kDirResource * 8, sorted.empty() ? 0 : sectionVa);
    PutLE32(head, DirOffset + kDirResource * 8 + 4, sorted.empty() ? 0 : sectionSize);
    if (NumDirs > kDirSecurity && certOffset) {
        PutLE32(head, DirOffset + kDirSecurity * 8, 0);
        PutLE32(head, DirOffset + kDirSecurity * 8 + 4, 0);
    }
    // A COFF symbol table in the overlay moves with it.
    uint32_t symbols = Rd32(coff + 8);
    int64_t overlayMove =
        static_cast<int64_t>(sectionRaw) + rawSize + tailRawSize - static_cast<int64_t>(overlayStart);
    if (symbols && symbols >= overlayStart && symbols < overlayEnd)
        PutLE32(head, coff + 8, static_cast<uint32_t>(symbols + overlayMove));
    size_t checksumOffset = OptOffset + kOptCheckSum;
    PutLE32(head, checksumOffset, 0);

    // ---- Write: headers and kept sections, the resource section, the overlay.
    int64_t start = target.GetPosition();
    TImageWriter out(target, static_cast<int64_t>(checksumOffset));
    out.Write(head.data(), head.size());
    out.Write(dir.data(), dir.size());
    std::vector<uint8_t> chunk;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const TResEntry* e = sorted[i];
        uint32_t pos = dataOffsets[i];
        uint32_t at = static_cast<uint32_t>(out.Written - (static_cast<int64_t>(sectionRaw)));
        if (pos > at)
            out.Zeros(pos - at);
        if (e->Source) {
            e->Source->Seek(0, soFromBeginning);
            chunk.resize(kCopyChunk);
            int64_t left = e->SourceSize;
            while (left > 0) {
                int32_t n = static_cast<int32_t>(std::min<int64_t>(left, kCopyChunk));
                e->Source->ReadBuffer(chunk.data(), n);
                out.Write(chunk.data(), n);
                left -= n;
            }
        } else if (!e->Data.empty()) {
            out.Write(e->Data.data(), e->Data.size());
        }
    }
    out.Zeros(static_cast<size_t>(sectionRaw + static_cast<int64_t>(rawSize) - out.Written));
    if (tail >= 0)
        out.Write(Image.data() + Sections[tail].PointerToRawData, Sections[tail].SizeOfRawData);
    if (overlayEnd > overlayStart)
        out.Write(Image.data() + overlayStart, overlayEnd - overlayStart);

    uint32_t checksum = out.Sum.Finish();
    int64_t end = target.GetPosition();
    target.Seek(start + static_cast<int64_t>(checksumOffset), soFromBeginning);
    uint8_t cs[4];
    PutLE32(cs, checksum);
    target.WriteBuffer(cs, 4);
    target.Seek(end, soFromBeginning);
}
