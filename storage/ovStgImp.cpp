#include "ovStgImp.h"

#include "ovBlowFish.h"
#include "ovsFile.h"
#include "ovsPipe.h"
#include "ovsZIP.h"
#include "ovText.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

void RandomId(uint8_t* id)
{
    uint64_t seed = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    uint32_t entropy = 0;
    // A reproducible build (SOURCE_DATE_EPOCH set) gets the same identifier
    // on every run: no clock, no entropy.
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch && *epoch) {
        seed = 0;
        for (const char* c = epoch; *c; ++c)
            seed = seed * 131 + static_cast<unsigned char>(*c);
    } else {
        try {
            std::random_device device;
            entropy = device();
        } catch (const std::exception&) {
            // No system entropy source: the clock alone still gives a fresh identifier.
        }
    }
    std::mt19937 gen(static_cast<uint32_t>(seed ^ (seed >> 32)) ^ entropy);
    for (int i = 0; i < 16; ++i)
        id[i] = static_cast<uint8_t>(gen());
    id[6] = static_cast<uint8_t>((id[6] & 0x0F) | 0x40);  // a version 4 GUID
    id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
}

}  // namespace

std::string StgStandardDescription(uint16_t flags)
{
    auto yesNo = [flags](uint16_t bit) { return (flags & bit) ? "Yes" : "No"; };
    return FormatText("Storage file\r\nFormat version 1.1\r\nPacked: %s\r\nScrambled: %s\r\nEncrypted: %s\r\n"
                      "AutoCompact: %s",
                      yesNo(stgPacked), yesNo(stgScrambled), yesNo(stgEncrypted), yesNo(stgAutoCompact));
}

void StgMakePasswordCheck(const std::string& password, uint8_t* check16)
{
    std::string cut = password.substr(0, kStgPasswordMax);
    std::memset(check16, 0, 16);
    std::memcpy(check16, cut.data(), cut.size());
    EncryptBuffer(check16, 16, cut);
}

TStgWriter::TStgWriter(const std::string& fileName, const TStgCreateOptions& options)
    : FileName(fileName), Password(options.Password.substr(0, kStgPasswordMax))
{
    FHeader.Magic = kStgMagic;
    FHeader.Version = options.Version;
    FHeader.Flags = options.Flags;
    FHeader.SetDescription(options.Description.empty() ? StgStandardDescription(options.Flags) : options.Description);
    if (options.HasStorageId)
        std::memcpy(FHeader.StorageId, options.StorageId, 16);
    else
        RandomId(FHeader.StorageId);
    if (options.Flags & stgPassword)
        StgMakePasswordCheck(Password, FHeader.PasswordCheck);
    FilterFlags = TovFileStg::FilterFlagsOf(options.Flags);
    FHeader.EntryHeaderSize = TovFileStg::EntryHeaderSizeOf(FilterFlags);
    if (FHeader.Version == kStgVersion101)
        Extension = options.Extension;
    FHeaderSize = FHeader.Version == kStgVersion101 ? 204 + static_cast<int64_t>(Extension.size()) : kStgHeaderSize;
    DataEnd = FHeaderSize;
    Stream.reset(new TFileStream(fileName, fmCreate));
    WriteHeader();
}

TStgWriter::~TStgWriter()
{
    if (!Committed) {
        Stream.reset();
        StgDeleteFile(FileName);
    }
}

void TStgWriter::WriteHeader()
{
    uint8_t raw[kStgHeaderSize];
    FHeader.Store(raw);
    Stream->Seek(0, soFromBeginning);
    Stream->WriteBuffer(raw, sizeof(raw));
    if (FHeader.Version == kStgVersion101) {
        uint8_t len[4];
        StgPutLE32(len, static_cast<int32_t>(Extension.size()));
        Stream->WriteBuffer(len, 4);
        if (!Extension.empty())
            Stream->WriteBuffer(Extension.data(), static_cast<int32_t>(Extension.size()));
    }
}

int32_t TStgWriter::AddEntry(const std::string& name, TStream& source, int64_t count, uint16_t attributes)
{
    if (Committed)
        throw EStreamError("The container is already complete");
    if (name.size() > static_cast<size_t>(kStgNameMax))
        throw EStreamError(FormatText("Entry name too long (at most %d characters): %s", kStgNameMax, name.c_str()));
    if (count < 0)
        count = source.GetSize() - source.GetPosition();
    if (count > INT32_MAX - DataEnd)
        throw EStreamError(FormatText("Entry too large for a container: %s", name.c_str()));
    const int64_t offset = DataEnd;
    // The block's first 2 bytes, which readers skip, are written as zero.
    Stream->Seek(offset, soFromBeginning);
    const uint8_t zero[2] = {0, 0};
    Stream->WriteBuffer(zero, 2);
    int32_t stored;
    {
        EnableZipCompression();
        TPipedFile piped(nullptr, std::unique_ptr<TStream>(new TConnectedStream(*Stream, offset)), FilterFlags,
                         Password);
        piped.OpenWrite();
        std::vector<uint8_t> buffer(static_cast<size_t>(std::max<int64_t>(1, std::min<int64_t>(count, kStgCopyPiece))));
        int64_t done = 0;
        while (done < count) {
            int32_t n = static_cast<int32_t>(std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size())));
            source.ReadBuffer(buffer.data(), n);
            // Pieces of 32,764 bytes (a multiple of 4) keep the scrambler's
            // result the same as over the entry in one piece.
            piped.Write(buffer.data(), n);
            done += n;
        }
        piped.Close();
        stored = piped.GetPipeline().SourceFilter()->GetStoredSize();
        if (static_cast<int64_t>(stored) + piped.HeaderSize() > INT32_MAX - offset)
            throw EStreamError(FormatText("Entry too large for a container: %s", name.c_str()));
        DataEnd = offset + piped.HeaderSize() + stored;
    }
    TStgEntry record;
    record.SetName(name);
    record.Id = static_cast<int32_t>(Records.size()) + 1;
    record.DataOffset = static_cast<int32_t>(offset);
    record.StoredSize = stored;
    record.Attributes = attributes;
    Records.push_back(record);
    return record.Id;
}

int32_t TStgWriter::AddEntry(const std::string& name, const void* data, int32_t size, uint16_t attributes)
{
    TReadOnlyMemoryStream source(data, size);
    return AddEntry(name, source, size, attributes);
}

TStgEntry* TStgWriter::Record(int32_t id)
{
    for (TStgEntry& r : Records)
        if (r.Id == id)
            return &r;
    return nullptr;
}

void TStgWriter::Commit()
{
    if (Committed)
        return;
    FHeader.DataSize = static_cast<int32_t>(DataEnd - FHeaderSize);
    FHeader.EntryCount = static_cast<int32_t>(Records.size());
    std::vector<uint8_t> bytes(4 + Records.size() * kStgEntrySize);
    StgPutLE32(bytes.data(), static_cast<int32_t>(Records.size()));
    StgScramblePiece(bytes.data(), 4);
    for (size_t i = 0; i < Records.size(); ++i) {
        uint8_t* piece = bytes.data() + 4 + i * kStgEntrySize;
        Records[i].Store(piece);
        StgScramblePiece(piece, kStgEntrySize);
    }
    Stream->Seek(DataEnd, soFromBeginning);
    Stream->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    Stream->SetSize(DataEnd + static_cast<int64_t>(bytes.size()));
    WriteHeader();
    Stream.reset();
    Committed = true;
}

int StgMarkDeleted(const std::string& fileName, const std::string& name)
{
    TFileStream file(fileName, fmOpenReadWrite | fmShareExclusive);
    int64_t fileSize = file.GetSize();
    uint8_t raw[kStgHeaderSize];
    TStgHeader header;
    int64_t headerSize = kStgHeaderSize;
    try {
        file.ReadBuffer(raw, sizeof(raw));
        header.Load(raw);
        if (header.Version == kStgVersion101) {
            uint8_t len[4];
            file.ReadBuffer(len, 4);
            int32_t l = StgGetLE32(len);
            if (l < 0)
                throw EStreamError("bad extension");
            headerSize = 204 + static_cast<int64_t>(l);
        }
    } catch (const EStreamError&) {
        throw EStreamError(FormatText("Not a storage container: %s", fileName.c_str()));
    }
    int64_t at = headerSize + static_cast<int64_t>(header.DataSize);
    if ((header.Version >= kStgVersion101 && header.Magic != kStgMagic) || header.DataSize < 0 || at + 4 > fileSize)
        throw EStreamError(FormatText("Not a storage container: %s", fileName.c_str()));
    file.Seek(at, soFromBeginning);
    uint8_t countBytes[4];
    file.ReadBuffer(countBytes, 4);
    StgScramblePiece(countBytes, 4);
    int32_t n = StgGetLE32(countBytes);
    if (n < 0 || at + 4 + static_cast<int64_t>(n) * kStgEntrySize > fileSize)
        throw EStreamError(FormatText("Not a storage container: %s", fileName.c_str()));
    int marked = 0;
    for (int32_t i = 0; i < n; ++i) {
        int64_t pos = at + 4 + static_cast<int64_t>(i) * kStgEntrySize;
        uint8_t piece[kStgEntrySize];
        file.Seek(pos, soFromBeginning);
        file.ReadBuffer(piece, kStgEntrySize);
        StgScramblePiece(piece, kStgEntrySize);
        TStgEntry entry;
        entry.Load(piece);
        if (!SameTextAscii(entry.GetName(), name))
            continue;
        entry.Attributes = stgAttrDeleted;
        entry.Store(piece);
        StgScramblePiece(piece, kStgEntrySize);
        file.Seek(pos, soFromBeginning);
        file.WriteBuffer(piece, kStgEntrySize);
        ++marked;
    }
    return marked;
}
