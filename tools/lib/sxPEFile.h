// A portable reader and writer of the resources of a PE image (Windows .exe
// or .dll), so that setups are built on any host.
//
// TPEFile loads an image, parses its resource tree (type / name / language)
// into a flat list, lets the caller add, replace or remove resources, and
// writes a new image: every byte of the original but the resource section is
// kept; the resource section is rebuilt (in place when it is the last
// section or followed only by the base relocations, which then move behind
// it; otherwise as a new last section) and the headers are updated
// (section table, resource data directory, image size, initialized data
// size, checksum). Only the few PE structures needed are defined here; every
// field is read and written little-endian, one by one.
#pragma once

#include "ovStream.h"

#include <cstdint>
#include <string>
#include <vector>

// Predefined resource types.
enum : uint16_t {
    RT_CURSOR_ID = 1, RT_BITMAP_ID = 2, RT_ICON_ID = 3, RT_MENU_ID = 4, RT_DIALOG_ID = 5,
    RT_STRING_ID = 6, RT_RCDATA_ID = 10, RT_GROUP_ICON_ID = 14, RT_VERSION_ID = 16,
    RT_MANIFEST_ID = 24,
};

// A resource type or name: a 16-bit number or a text (kept in capitals, as
// the resource compilers store them and FindResource looks them up).
struct TResId {
    bool IsName = false;
    uint16_t Id = 0;
    std::string Name;

    TResId() = default;
    TResId(uint16_t id) : Id(id) {}  // NOLINT: implicit on purpose
    TResId(const char* name);        // NOLINT: upper-cases; "#123" is the number 123
    TResId(const std::string& name) : TResId(name.c_str()) {}
    std::string ToString() const;    // "SX_STORAGE" or "#10"
    bool operator==(const TResId& o) const { return IsName == o.IsName && (IsName ? Name == o.Name : Id == o.Id); }
    bool operator!=(const TResId& o) const { return !(*this == o); }
    // Directory order: names (by text) before numbers (ascending).
    bool operator<(const TResId& o) const;
};

struct TResEntry {
    TResId Type;
    TResId Name;
    uint16_t Language = 0;
    uint32_t CodePage = 0;
    std::vector<uint8_t> Data;  // the bytes, unless Source is set
    // Large data may stay in a stream (not owned; must outlive SaveToStream):
    // SourceSize bytes from its start are copied in bounded chunks.
    TStream* Source = nullptr;
    int64_t SourceSize = 0;

    int64_t Size() const { return Source ? SourceSize : static_cast<int64_t>(Data.size()); }
};

// A damaged or unsupported image.
class EPEFormat : public Exception {
public:
    using Exception::Exception;
};

class TPEFile {
public:
    // Raises EPEFormat when the bytes are not a PE image this writer handles.
    void LoadFromBytes(std::vector<uint8_t> bytes);
    void LoadFromFile(const std::string& fileName);

    std::vector<TResEntry>& Resources() { return Entries; }
    const std::vector<TResEntry>& Resources() const { return Entries; }

    // The first entry of that type and name (any language), or nullptr.
    const TResEntry* Find(const TResId& type, const TResId& name) const;
    // Removes every language of that type and name; returns how many.
    int Remove(const TResId& type, const TResId& name);
    // Replaces every language of type/name by one entry (language 0) holding data.
    TResEntry& Set(const TResId& type, const TResId& name, std::vector<uint8_t> data, uint16_t language = 0);
    // The same with the data taken from a stream at save time.
    TResEntry& SetFromStream(const TResId& type, const TResId& name, TStream& source, int64_t size,
                             uint16_t language = 0);

    // Writes the new image. The target must be seekable (the checksum is
    // patched into the header at the end).
    void SaveToStream(TStream& target);

    // True when the bytes begin like a PE image ("MZ" and a "PE" signature).
    static bool IsPEImage(const std::vector<uint8_t>& head);

private:
    struct TSection {
        char Name[8];
        uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData;
        uint32_t Characteristics;
        size_t HeaderOffset;  // where its 40-byte header is in the image
    };

    uint32_t Rd16(size_t off) const;
    uint32_t Rd32(size_t off) const;
    // File offset of an RVA range inside some section's raw data, or throws.
    size_t RvaToOffset(uint32_t rva, uint32_t size) const;
    void ParseResources();
    // Where SaveToStream puts the rebuilt resource section: over the old one
    // when that is last (InPlace; Tail, a relocation section that follows
    // it and moves behind), else as a new section behind all others.
    struct TPlacement {
        uint32_t MaxVaEnd = 0, MaxRawEnd = 0;  // the ends of all sections
        bool InPlace = false;
        int Tail = -1;
        uint32_t Va = 0, Raw = 0;  // the section's address and file offset
        uint32_t KeptEnd = 0;      // in place: the end of the file bytes kept before it
        size_t Header = 0;          // where its section header goes
        uint32_t OldRawSize = 0;    // the file bytes of the section it replaces
    };
    TPlacement PlaceResources() const;
    void ParseDirectory(uint32_t rsrcRva, uint32_t dirOffset, int level, TResId ids[2], int depthGuard);
    TResId ReadResName(uint32_t rsrcRva, uint32_t nameOffset) const;

    std::vector<uint8_t> Image;
    std::vector<TSection> Sections;
    std::vector<TResEntry> Entries;
    size_t PEOffset = 0, OptOffset = 0, DirOffset = 0, SectionTableOffset = 0;
    uint32_t NumDirs = 0, SectionAlignment = 0, FileAlignment = 0, SizeOfHeaders = 0;
    int RsrcSection = -1;  // the section holding the resource directory, or -1
    uint64_t Visited = 0;  // directory entries walked while parsing
};

// Checksum of a PE image as the loader's image-help routine computes it: the
// 16-bit one's-complement style sum of the file with the checksum field taken
// as zero, plus the file length. Fed in pieces.
class TPEChecksum {
public:
    explicit TPEChecksum(int64_t checksumFieldOffset) : FieldOffset(checksumFieldOffset) {}
    void Add(const uint8_t* data, size_t count);
    uint32_t Finish() const;

private:
    int64_t FieldOffset;
    int64_t Length = 0;
    uint64_t Sum = 0;
    int Pending = -1;  // a low byte waiting for its high byte
};
