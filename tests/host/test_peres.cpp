// The portable PE resource writer: resources added to an image are read back
// byte for byte, existing resources and sections stay intact, the headers
// (section table, image size, resource directory, checksum) are consistent,
// and damaged images are refused without a crash.
#include <gtest/gtest.h>

#include "sxPEFile.h"
#include "sxResBuild.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& b, size_t o, uint32_t v) { b[o] = uint8_t(v); b[o + 1] = uint8_t(v >> 8); }
void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v) { for (int i = 0; i < 4; ++i) b[o + i] = uint8_t(v >> (8 * i)); }
uint32_t Get16(const std::vector<uint8_t>& b, size_t o) { return b[o] | (b[o + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t o) { return Get16(b, o) | (Get16(b, o + 2) << 16); }

constexpr size_t kPe = 0x80, kOpt = kPe + 24, kSections = kOpt + 224;

// A minimal 32-bit image: headers and one code section, no resources.
std::vector<uint8_t> MinimalImage()
{
    std::vector<uint8_t> b(0x600, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPe);
    std::memcpy(&b[kPe], "PE\0\0", 4);
    Put16(b, kPe + 4, 0x14C);      // i386
    Put16(b, kPe + 6, 1);          // sections
    Put16(b, kPe + 20, 224);       // optional header size
    Put16(b, kPe + 22, 0x0102);    // executable, 32-bit
    Put16(b, kOpt, 0x10B);
    Put32(b, kOpt + 4, 0x200);     // code size
    Put32(b, kOpt + 16, 0x1000);   // entry
    Put32(b, kOpt + 28, 0x400000); // image base
    Put32(b, kOpt + 32, 0x1000);   // section alignment
    Put32(b, kOpt + 36, 0x200);    // file alignment
    Put16(b, kOpt + 40, 4);
    Put16(b, kOpt + 48, 4);
    Put32(b, kOpt + 56, 0x2000);   // image size
    Put32(b, kOpt + 60, 0x400);    // headers size
    Put16(b, kOpt + 68, 2);        // GUI
    Put32(b, kOpt + 92, 16);       // data directories
    std::memcpy(&b[kSections], ".text\0\0\0", 8);
    Put32(b, kSections + 8, 0x10);
    Put32(b, kSections + 12, 0x1000);
    Put32(b, kSections + 16, 0x200);
    Put32(b, kSections + 20, 0x400);
    Put32(b, kSections + 36, 0x60000020);
    for (int i = 0; i < 16; ++i)
        b[0x400 + i] = static_cast<uint8_t>(0xC3 - i);  // recognisable code bytes
    return b;
}

std::vector<uint8_t> Save(TPEFile& pe)
{
    TMemoryStream out;
    pe.SaveToStream(out);
    return std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size());
}

std::vector<uint8_t> Data(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(size);
    for (auto& c : d)
        c = static_cast<uint8_t>(rng());
    return d;
}

// The checksum as the image-help routine defines it, over a whole file.
uint32_t ReferenceChecksum(const std::vector<uint8_t>& b)
{
    size_t field = Get32(b, 0x3C) + 24 + 64;
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        uint32_t w = b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        if (i >= field && i < field + 4)
            w = 0;
        sum += w;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + static_cast<uint32_t>(b.size());
}

// Structural checks of a written image, made without the writer's code.
void CheckImage(const std::vector<uint8_t>& b)
{
    size_t pe = Get32(b, 0x3C), opt = pe + 24;
    uint32_t n = Get16(b, pe + 6);
    size_t table = opt + Get16(b, pe + 20);
    uint32_t salign = Get32(b, opt + 32), falign = Get32(b, opt + 36);
    uint32_t prevVaEnd = 0, prevRawEnd = Get32(b, opt + 60);
    const uint32_t resourceRva = Get32(b, opt + 96 + 2 * 8);
    ASSERT_LE(table + n * 40, Get32(b, opt + 60));
    for (uint32_t i = 0; i < n; ++i) {
        size_t h = table + i * 40;
        uint32_t vs = Get32(b, h + 8), va = Get32(b, h + 12), raw = Get32(b, h + 16), ptr = Get32(b, h + 20);
        SCOPED_TRACE(i);
        EXPECT_EQ(0u, va % salign);
        EXPECT_GE(va, prevVaEnd);
        EXPECT_EQ(0u, raw % falign);
        if (raw && resourceRva && va == resourceRva) {
            // The resources start on a page of the file, so that a loader
            // can map them; what lies between them and the section before
            // is zeros (none of the old resources stays behind).
            EXPECT_EQ(0u, ptr % 0x1000);
            for (size_t at = prevRawEnd; at < ptr && at < b.size(); ++at)
                ASSERT_EQ(0, b[at]) << "at " << at;
        }
        if (raw) {
            EXPECT_EQ(0u, ptr % falign);
            EXPECT_GE(ptr, prevRawEnd);
            EXPECT_LE(static_cast<size_t>(ptr) + raw, b.size());
            prevRawEnd = ptr + raw;
        }
        prevVaEnd = (va + std::max(vs, raw) + salign - 1) / salign * salign;
    }
    EXPECT_EQ(prevVaEnd, Get32(b, opt + 56));  // SizeOfImage
    EXPECT_EQ(ReferenceChecksum(b), Get32(b, opt + 64));
}

}  // namespace

// Resources added to an image without any are found again, in a new .rsrc
// section; the code section is untouched.
TEST(PEResources, AddToAnImageWithoutResources)
{
    std::vector<uint8_t> image = MinimalImage();
    TPEFile pe;
    pe.LoadFromBytes(image);
    EXPECT_TRUE(pe.Resources().empty());
    pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(1000, 1));
    pe.Set(TResId(RT_RCDATA_ID), TResId(static_cast<uint16_t>(7)), Data(3, 2), 0x409);
    pe.Set(TResId("custom"), TResId("Name"), Data(0, 3));
    std::vector<uint8_t> out = Save(pe);
    CheckImage(out);
    EXPECT_EQ(0, std::memcmp(&image[0x400], &out[0x400], 0x200));
    EXPECT_EQ(2u, Get16(out, kPe + 6));

    TPEFile back;
    back.LoadFromBytes(out);
    ASSERT_EQ(3u, back.Resources().size());
    const TResEntry* e = back.Find(TResId(RT_RCDATA_ID), TResId("sx_storage"));
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(Data(1000, 1), e->Data);
    e = back.Find(TResId("#10"), TResId("#7"));
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(0x409, e->Language);
    EXPECT_EQ(Data(3, 2), e->Data);
    e = back.Find(TResId("CUSTOM"), TResId("NAME"));
    ASSERT_NE(nullptr, e);
    EXPECT_TRUE(e->Data.empty());
}

// Rewriting an image whose .rsrc is the last section replaces it in place;
// resources not touched keep their bytes, language and code page, and a
// second SX_STORAGE replaces the first. Data after the sections is kept.
TEST(PEResources, ReplaceInPlaceKeepsOtherResourcesAndOverlay)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    for (uint16_t i = 1; i <= 20; ++i)
        pe.Set(TResId(RT_DIALOG_ID), TResId(static_cast<uint16_t>(100 + i)), Data(i * 13, i), 0x409).CodePage = 1252;
    pe.Set(TResId(RT_MANIFEST_ID), TResId(static_cast<uint16_t>(1)), Data(700, 99));
    pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(10, 5));
    std::vector<uint8_t> first = Save(pe);
    const char overlay[] = "OVERLAY-BYTES";
    first.insert(first.end(), overlay, overlay + sizeof overlay);

    TPEFile again;
    again.LoadFromBytes(first);
    std::vector<TResEntry> before = again.Resources();
    again.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(100000, 6));
    std::vector<uint8_t> second = Save(again);
    CheckImage(second);
    EXPECT_EQ(2u, Get16(second, kPe + 6));  // still two sections: replaced in place
    EXPECT_EQ(0, std::memcmp(overlay, &second[second.size() - sizeof overlay], sizeof overlay));

    TPEFile back;
    back.LoadFromBytes(second);
    EXPECT_EQ(before.size(), back.Resources().size());
    for (const TResEntry& e : before) {
        if (e.Name == TResId("SX_STORAGE"))
            continue;
        const TResEntry* f = back.Find(e.Type, e.Name);
        ASSERT_NE(nullptr, f) << e.Type.ToString() << "/" << e.Name.ToString();
        EXPECT_EQ(e.Data, f->Data);
        EXPECT_EQ(e.Language, f->Language);
        EXPECT_EQ(e.CodePage, f->CodePage);
    }
    EXPECT_EQ(Data(100000, 6), back.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"))->Data);
}

// Resources that the linker left off a page of the file (right behind the
// code) move to the next page when they are rewritten in place, so that a
// loader can map them; the old resource bytes in between become zeros.
TEST(PEResources, InPlaceResourcesMoveToAPageOfTheFile)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(3000, 7));
    std::vector<uint8_t> linked = Save(pe);
    const size_t header = kSections + 40;
    ASSERT_EQ(0x1000u, Get32(linked, header + 20));
    linked.erase(linked.begin() + 0x600, linked.begin() + 0x1000);
    Put32(linked, header + 20, 0x600);

    TPEFile again;
    again.LoadFromBytes(linked);
    again.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(100, 8));
    std::vector<uint8_t> out = Save(again);
    CheckImage(out);
    EXPECT_EQ(2u, Get16(out, kPe + 6));
    EXPECT_EQ(0x1000u, Get32(out, header + 20));
    TPEFile back;
    back.LoadFromBytes(out);
    const TResEntry* e = back.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"));
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(Data(100, 8), e->Data);
}

namespace {

// An image whose resources are followed by one more section (raw bytes
// reloc); with asReloc the base-relocation directory names that section.
std::vector<uint8_t> ImageWithTrailingSection(const std::vector<uint8_t>& reloc, bool asReloc, uint32_t& relocVa,
                                              uint32_t& relocPtr)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    pe.Set(TResId(RT_DIALOG_ID), TResId("DLG_PASSWORD"), Data(300, 7));
    std::vector<uint8_t> b = Save(pe);
    uint32_t n = Get16(b, kPe + 6);
    size_t h = kSections + n * 40;
    relocVa = Get32(b, kOpt + 56);
    relocPtr = static_cast<uint32_t>(b.size());
    std::memcpy(&b[h], ".reloc\0\0", 8);
    Put32(b, h + 8, static_cast<uint32_t>(reloc.size()) - 0x10);
    Put32(b, h + 12, relocVa);
    Put32(b, h + 16, static_cast<uint32_t>(reloc.size()));
    Put32(b, h + 20, relocPtr);
    Put32(b, h + 36, 0x42000040);
    Put16(b, kPe + 6, n + 1);
    Put32(b, kOpt + 56, relocVa + 0x1000);
    if (asReloc) {
        Put32(b, kOpt + 96 + 5 * 8, relocVa + 8);
        Put32(b, kOpt + 96 + 5 * 8 + 4, 0x40);
    }
    b.insert(b.end(), reloc.begin(), reloc.end());
    return b;
}

}  // namespace

// When the base relocations follow .rsrc (as in the stub), the resources are
// rebuilt in place and the relocations move behind them: same number of
// sections, the relocation bytes unchanged, their directory entry moved.
TEST(PEResources, RelocationsMoveBehindTheResources)
{
    std::vector<uint8_t> reloc = Data(0x200, 8);
    uint32_t relocVa = 0, relocPtr = 0;
    std::vector<uint8_t> b = ImageWithTrailingSection(reloc, true, relocVa, relocPtr);
    uint32_t n = Get16(b, kPe + 6);
    TPEFile pe;
    pe.LoadFromBytes(b);
    pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(20000, 9));
    std::vector<uint8_t> out = Save(pe);
    CheckImage(out);
    EXPECT_EQ(n, Get16(out, kPe + 6));
    size_t h = kSections + (n - 1) * 40;
    EXPECT_EQ(0, std::memcmp(".reloc", &out[h], 6));
    uint32_t newVa = Get32(out, h + 12), newPtr = Get32(out, h + 20);
    EXPECT_GT(newVa, relocVa);
    EXPECT_EQ(newVa + 8, Get32(out, kOpt + 96 + 5 * 8));
    EXPECT_EQ(0x40u, Get32(out, kOpt + 96 + 5 * 8 + 4));
    EXPECT_EQ(0, std::memcmp(reloc.data(), &out[newPtr], reloc.size()));
    EXPECT_EQ(newPtr + reloc.size(), out.size());
    TPEFile back;
    back.LoadFromBytes(out);
    EXPECT_EQ(Data(300, 7), back.Find(TResId(RT_DIALOG_ID), TResId("DLG_PASSWORD"))->Data);
    EXPECT_EQ(Data(20000, 9), back.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"))->Data);
}

// Any other section after .rsrc stays where it is: the resources move to a
// new last section and the following section keeps its bytes.
TEST(PEResources, ResourcesBeforeAnotherSectionMoveToTheEnd)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    pe.Set(TResId(RT_DIALOG_ID), TResId("DLG_PASSWORD"), Data(300, 7));
    std::vector<uint8_t> b = Save(pe);
    // Append a ".reloc" section after the resources.
    uint32_t n = Get16(b, kPe + 6);
    size_t h = kSections + n * 40;
    uint32_t va = Get32(b, kOpt + 56);
    uint32_t ptr = static_cast<uint32_t>(b.size());
    std::memcpy(&b[h], ".reloc\0\0", 8);
    Put32(b, h + 8, 0x20);
    Put32(b, h + 12, va);
    Put32(b, h + 16, 0x200);
    Put32(b, h + 20, ptr);
    Put32(b, h + 36, 0x42000040);
    Put16(b, kPe + 6, n + 1);
    Put32(b, kOpt + 56, va + 0x1000);
    std::vector<uint8_t> reloc = Data(0x200, 8);
    b.insert(b.end(), reloc.begin(), reloc.end());

    TPEFile withReloc;
    withReloc.LoadFromBytes(b);
    withReloc.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(5000, 9));
    std::vector<uint8_t> out = Save(withReloc);
    CheckImage(out);
    EXPECT_EQ(n + 2, Get16(out, kPe + 6));
    EXPECT_EQ(0, std::memcmp(reloc.data(), &out[ptr], reloc.size()));
    // The resource directory entry names the new section.
    EXPECT_EQ(va + 0x1000, Get32(out, kOpt + 96 + 2 * 8));
    TPEFile back;
    back.LoadFromBytes(out);
    EXPECT_EQ(Data(300, 7), back.Find(TResId(RT_DIALOG_ID), TResId("DLG_PASSWORD"))->Data);
    EXPECT_EQ(Data(5000, 9), back.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"))->Data);
}

// Large data can come from a stream; it is copied in chunks, byte for byte.
TEST(PEResources, DataFromAStream)
{
    std::vector<uint8_t> big = Data((3 << 20) + 5, 11);
    TReadOnlyMemoryStream source(big.data(), static_cast<int64_t>(big.size()));
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    pe.SetFromStream(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), source, static_cast<int64_t>(big.size()));
    std::vector<uint8_t> out = Save(pe);
    CheckImage(out);
    TPEFile back;
    back.LoadFromBytes(out);
    EXPECT_EQ(big, back.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"))->Data);
}

// Truncated or corrupted images raise EPEFormat; none crashes the reader.
TEST(PEResources, DamagedImagesAreRefused)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    for (uint16_t i = 1; i < 5; ++i)
        pe.Set(TResId(RT_RCDATA_ID), TResId(static_cast<uint16_t>(i)), Data(40, i));
    pe.Set(TResId(RT_RCDATA_ID), TResId("NAMED"), Data(40, 0));
    std::vector<uint8_t> good = Save(pe);
    EXPECT_THROW(TPEFile().LoadFromBytes(std::vector<uint8_t>(good.begin(), good.begin() + 0x100)), EPEFormat);
    EXPECT_THROW(TPEFile().LoadFromBytes(std::vector<uint8_t>(good.begin(), good.end() - 0x200)), EPEFormat);
    EXPECT_THROW(TPEFile().LoadFromBytes({'M', 'Z'}), EPEFormat);
    std::vector<uint8_t> notPe = good;
    notPe[kPe] = 'X';
    EXPECT_THROW(TPEFile().LoadFromBytes(notPe), EPEFormat);

    // Random damage inside the resource section: either parsed or refused.
    uint32_t rsrc = Get32(good, kSections + 40 + 20);
    std::mt19937 rng(42);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> b = good;
        for (int k = 0; k < 3; ++k)
            b[rsrc + rng() % 0x100] = static_cast<uint8_t>(rng());
        try {
            TPEFile p;
            p.LoadFromBytes(b);
        } catch (const EPEFormat&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);

    // A root whose 3000 entries all name one type directory, whose 3000
    // entries all name one empty language directory: nine million steps of
    // walking that hold no data. The walk gives up early instead.
    const uint32_t n = 3000;
    uint32_t dirBytes = 16 + 8 * n;
    std::vector<uint8_t> rsrcBytes(2 * dirBytes + 16, 0);
    Put16(rsrcBytes, 14, n);
    Put16(rsrcBytes, dirBytes + 14, n);
    for (uint32_t i = 0; i < n; ++i) {
        Put32(rsrcBytes, 16 + 8 * i, i + 1);
        Put32(rsrcBytes, 20 + 8 * i, 0x80000000u | dirBytes);
        Put32(rsrcBytes, dirBytes + 16 + 8 * i, i + 1);
        Put32(rsrcBytes, dirBytes + 20 + 8 * i, 0x80000000u | (2 * dirBytes));
    }
    std::vector<uint8_t> loop = MinimalImage();
    size_t h = kSections + 40;
    uint32_t raw = (static_cast<uint32_t>(rsrcBytes.size()) + 0x1FF) & ~0x1FFu;
    std::memcpy(&loop[h], ".rsrc\0\0\0", 8);
    Put32(loop, h + 8, static_cast<uint32_t>(rsrcBytes.size()));
    Put32(loop, h + 12, 0x2000);
    Put32(loop, h + 16, raw);
    Put32(loop, h + 20, 0x600);
    Put16(loop, kPe + 6, 2);
    Put32(loop, kOpt + 96 + 16, 0x2000);
    Put32(loop, kOpt + 96 + 20, static_cast<uint32_t>(rsrcBytes.size()));
    rsrcBytes.resize(raw, 0);
    loop.insert(loop.end(), rsrcBytes.begin(), rsrcBytes.end());
    EXPECT_THROW(TPEFile().LoadFromBytes(loop), EPEFormat);
}

// Header and section fields that do not fit the file are refused when the
// image is read, before anything is allocated or written from them.
TEST(PEResources, HeaderFieldsAreCheckedAgainstTheFile)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(100, 1));
    const std::vector<uint8_t> good = Save(pe);
    const size_t rsrcHeader = kSections + 40;  // .rsrc is the last section
    struct {
        const char* what;
        size_t offset;
        uint32_t value;
    } cases[] = {
        {"last section's data inside the headers", rsrcHeader + 20, 0x200},
        {"first section's data inside the headers", kSections + 20, 0x100},
        {"256 MB of headers", kOpt + 60, 0x10000000},
        {"headers one byte longer than the file", kOpt + 60, 0},  // set below
        {"headers shorter than the section table", kOpt + 60, static_cast<uint32_t>(kSections + 40)},
        {"section beyond the address space", rsrcHeader + 12, 0xFFFFF000u},
        {"section mapped over the headers", kSections + 12, 0},  // set below
        {"32 MB file alignment", kOpt + 36, 0x2000000},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> b = good;
        uint32_t value = c.value;
        if (value == 0)
            value = c.offset == kOpt + 60 ? static_cast<uint32_t>(b.size() + 1) : 0x200;
        Put32(b, c.offset, value);
        TPEFile damaged;
        EXPECT_THROW(damaged.LoadFromBytes(b), EPEFormat);
    }
    // Sections without contents may name any address; the new resource
    // section still goes behind the headers, where the reader finds it.
    std::vector<uint8_t> empty = MinimalImage();
    for (size_t i = 8; i < 40; ++i)
        empty[kSections + i] = 0;
    TPEFile hollow;
    hollow.LoadFromBytes(empty);
    hollow.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(100, 3));
    std::vector<uint8_t> rewritten = Save(hollow);
    TPEFile found;
    found.LoadFromBytes(rewritten);
    const TResEntry* e = found.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"));
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(Data(100, 3), e->Data);
    EXPECT_GE(Get32(rewritten, kOpt + 96 + 16), 0x1000u);

    // The undamaged image still loads and saves.
    TPEFile back;
    back.LoadFromBytes(good);
    back.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), Data(5000, 2));
    CheckImage(Save(back));
}

// Resource ids: names are kept in capitals, "#n" is the number n.
TEST(PEResources, ResourceIds)
{
    EXPECT_TRUE(TResId("sx_storage") == TResId("SX_STORAGE"));
    EXPECT_FALSE(TResId("#10").IsName);
    EXPECT_EQ(10, TResId("#10").Id);
    EXPECT_TRUE(TResId("#1x").IsName);
    EXPECT_TRUE(TResId("ZZZ") < TResId(static_cast<uint16_t>(1)));  // names first
    EXPECT_EQ("#16", TResId(static_cast<uint16_t>(16)).ToString());
}

// Version information written from project values reads back, keeping the
// string values of the old block that were not given.
TEST(PEResources, VersionInformation)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    uint16_t v1[4] = {1, 2, 3, 4}, v2[4] = {5, 6, 0, 0};
    ReplaceVersionInfo(pe, v1, v2, {{"CompanyName", "Orvale Systems"}, {"InternalName", "setup"}});
    ReplaceVersionInfo(pe, v2, v1, {{"CompanyName", "Other"}, {"FileDescription", "Example"}});
    const TResEntry* e = pe.Find(TResId(RT_VERSION_ID), TResId(static_cast<uint16_t>(1)));
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(0u, e->Data.size() % 2);
    EXPECT_EQ(e->Data.size(), Get16(e->Data, 0));
    uint16_t fv[4] = {};
    auto strings = ReadVersionStrings(e->Data, fv);
    EXPECT_EQ(5, fv[0]);
    EXPECT_EQ(6, fv[1]);
    std::map<std::string, std::string> m(strings.begin(), strings.end());
    EXPECT_EQ("Other", m["CompanyName"]);
    EXPECT_EQ("setup", m["InternalName"]);
    EXPECT_EQ("Example", m["FileDescription"]);
    EXPECT_EQ("5.6.0.0", m["FileVersion"]);
    EXPECT_EQ("1.2.3.4", m["ProductVersion"]);
}

// An .ico file replaces the first icon group and its images.
TEST(PEResources, IconReplacement)
{
    TPEFile pe;
    pe.LoadFromBytes(MinimalImage());
    std::vector<uint8_t> oldGroup = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 1, 0};
    pe.Set(TResId(RT_ICON_ID), TResId(static_cast<uint16_t>(1)), Data(4, 1), 0x409);
    pe.Set(TResId(RT_GROUP_ICON_ID), TResId("MAINICON"), oldGroup, 0x409);
    // Two images: 16x16 (40 bytes) and 32x32 (60 bytes).
    std::vector<uint8_t> ico(6 + 32, 0);
    Put16(ico, 2, 1);
    Put16(ico, 4, 2);
    std::vector<uint8_t> img1 = Data(40, 2), img2 = Data(60, 3);
    size_t e1 = 6, e2 = 22;
    ico[e1] = 16; ico[e1 + 1] = 16; Put16(ico, e1 + 4, 1); Put16(ico, e1 + 6, 32); Put32(ico, e1 + 8, 40); Put32(ico, e1 + 12, 38);
    ico[e2] = 32; ico[e2 + 1] = 32; Put16(ico, e2 + 4, 1); Put16(ico, e2 + 6, 32); Put32(ico, e2 + 8, 60); Put32(ico, e2 + 12, 78);
    ico.insert(ico.end(), img1.begin(), img1.end());
    ico.insert(ico.end(), img2.begin(), img2.end());
    ReplaceIcon(pe, ico);
    const TResEntry* g = pe.Find(TResId(RT_GROUP_ICON_ID), TResId("MAINICON"));
    ASSERT_NE(nullptr, g);
    ASSERT_EQ(6u + 2 * 14, g->Data.size());
    EXPECT_EQ(2u, Get16(g->Data, 4));
    for (int i = 0; i < 2; ++i) {
        uint16_t id = static_cast<uint16_t>(Get16(g->Data, 6 + i * 14 + 12));
        const TResEntry* icon = pe.Find(TResId(RT_ICON_ID), TResId(id));
        ASSERT_NE(nullptr, icon);
        EXPECT_EQ(i == 0 ? img1 : img2, icon->Data);
    }
    int icons = 0;
    for (const TResEntry& e : pe.Resources())
        icons += e.Type == TResId(RT_ICON_ID);
    EXPECT_EQ(2, icons);  // the old image is gone
    std::vector<uint8_t> bad = ico;
    Put32(bad, e2 + 12, 5000);
    EXPECT_THROW(ReplaceIcon(pe, bad), EPEFormat);
}
