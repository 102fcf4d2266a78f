#include "ovsFile.h"

#include "ovBlowFish.h"
#include "ovsClass.h"
#include "ovsZIP.h"
#include "ovText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

}  // namespace

// ---- portable file helpers ----

std::string StgExtractFilePath(const std::string& fileName)
{
    size_t p = fileName.find_last_of("\\/");
    return p == std::string::npos ? std::string() : fileName.substr(0, p + 1);
}

std::string StgMakeTempFileName(const std::string& folder, const std::string& extension)
{
    uint32_t seed = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&folder));
    for (int attempt = 0; attempt < 100000; ++attempt) {
        seed = seed * 1664525u + 1013904223u;
        std::string name = folder + FormatText("stg%06X", (seed >> 8) & 0xFFFFFF) + extension;
        if (!FileExists(name))
            return name;
    }
    throw EFCreateError(FormatText("Cannot create file %s", (folder + "stg*" + extension).c_str()));
}

bool StgDeleteFile(const std::string& fileName)
{
    return std::remove(fileName.c_str()) == 0;
}

bool StgRenameFile(const std::string& oldName, const std::string& newName)
{
    return std::rename(oldName.c_str(), newName.c_str()) == 0;
}

// ---- TPipedFile ----

TPipedFile::TPipedFile(TovFileStg* container, std::unique_ptr<TStream> window, uint8_t filterFlags,
                       const std::string& password)
    : Window(std::move(window)), FContainer(container)
{
    Window->Seek(0, soFromBeginning);
    Pipeline.reset(new TPipeline(Window.get(), filterFlags));
    if (filterFlags & pfBlowfish)
        Pipeline->AddPasswordFilter<TBlowFishFilter>(password);
    if (filterFlags & pfScramble)
        Pipeline->AddFilter<TXORScramblerFilter>();
    if (filterFlags & pfZip)
        Pipeline->AddFilter<TZipFilter>();
}

TPipedFile::~TPipedFile()
{
    if (OpenFlag) {
        try {
            Close();
        } catch (...) {
            // A destructor cannot report; Close is the checked way.
        }
    }
    Pipeline.reset();
}

void TPipedFile::Open(uint8_t mode)
{
    Mode = mode;
    Pipeline->Open(mode);
    OpenFlag = true;
}

void TPipedFile::Close()
{
    if (!OpenFlag)
        return;
    OpenFlag = false;
    Pipeline->Close();
}

void TPipedFile::Write(const void* buffer, int32_t count)
{
    // A filter may keep bytes back until it is finished: its result is not a short write.
    Pipeline->TopFilter()->Write(buffer, count);
}

void TPipedFile::CheckHeaders(int32_t storedSize, int64_t limit) const
{
    const std::vector<TDataFilter*>& list = Pipeline->Filters();
    const TDataFilter* source = list.front();
    bool ok = source->GetDataSize() == source->GetStoredSize() && source->GetStoredSize() == storedSize;
    for (size_t i = 0; ok && i < list.size(); ++i) {
        ok = list[i]->GetDataSize() >= 0 && list[i]->GetStoredSize() >= 0;
        // What a filter hands down is what the filter beneath took in.
        if (ok && i > 0)
            ok = list[i]->GetStoredSize() == list[i - 1]->GetDataSize();
        if (ok)
            ok = list[i]->SizesAgree();
    }
    if (ok)
        ok = Pipeline->DataStart() + static_cast<int64_t>(source->GetStoredSize()) <= limit;
    if (!ok)
        throw EReadError("Damaged entry: its headers do not fit its data");
}

void TPipedFile::SaveToFile(const std::string& fileName)
{
    // A link already in the target folder is not ours to follow: writing
    // (or clearing read-only) through it would change a file elsewhere.
    if (StgIsLink(fileName))
        throw EFCreateError(FormatText("%s is a symbolic link; extraction does not write through links",
                                       fileName.c_str()));
    if (FileExists(fileName))
        StgSetFileArchiveOnly(fileName);
    std::unique_ptr<TFileStream> file(new TFileStream(fileName, fmCreate));
    try {
        SaveToStream(*file);
    } catch (...) {
        // No half-written file stays behind to look like a good one.
        file.reset();
        StgDeleteFile(fileName);
        throw;
    }
}

// ---- TovFileStg ----

TovFileStg::~TovFileStg()
{
    try {
        Close();
    } catch (...) {
    }
}

uint8_t TovFileStg::FilterFlagsOf(uint16_t stgFlags)
{
    uint8_t flags = 0;
    if (stgFlags & stgPacked)
        flags |= pfZip;
    if (stgFlags & stgEncrypted)
        flags |= pfBlowfish;
    if (stgFlags & stgScrambled)
        flags |= pfScramble;
    return flags;
}

int32_t TovFileStg::EntryHeaderSizeOf(uint8_t filterFlags)
{
    int filters = 1 + ((filterFlags & pfZip) ? 1 : 0) + ((filterFlags & pfBlowfish) ? 1 : 0) +
                  ((filterFlags & pfScramble) ? 1 : 0);
    return TPipeline::kBaseSize + TDataFilter::kFilterHeaderSize * filters;
}

int64_t TovFileStg::HeaderSize() const
{
    return FHeader.Version == kStgVersion101 ? 204 + static_cast<int64_t>(ExtensionLength) : kStgHeaderSize;
}

bool TovFileStg::CheckPassword(const TStgHeader& header, const std::string& password)
{
    std::string cut = password.substr(0, kStgPasswordMax);
    uint8_t check[16];
    std::memcpy(check, header.PasswordCheck, sizeof(check));
    DecryptBuffer(check, sizeof(check), cut);
    size_t len = 0;
    while (len < sizeof(check) && check[len] != 0)
        ++len;
    return len == cut.size() && std::memcmp(check, cut.data(), len) == 0;
}

uint16_t TovFileStg::Open(const std::string& fileName, const std::string& password, bool readOnly)
{
    if (OpenFlag)
        return stgErrAlreadyOpen;
    Password = password.substr(0, kStgPasswordMax);
    FFileName = fileName;
    FLastError.clear();
    Stream.reset(new TFileStream(fileName, readOnly ? fmOpenRead | fmShareDenyWrite : fmOpenReadWrite | fmShareExclusive));
    OpenFlag = true;
    uint16_t code = ReadHeader();
    if (code == stgOk) {
        FFilterFlags = FilterFlagsOf(FHeader.Flags);
        // Every entry block starts with one header per filter of the flags'
        // chain; a header that says otherwise has damaged flags.
        if (FHeader.EntryHeaderSize != EntryHeaderSizeOf(FFilterFlags)) {
            FLastError = "the entry header size does not match the flags";
            code = stgErrNotStorage;
        }
        else
            code = ReadDirectory();
    }
    if (code != stgOk) {
        Close();
        return code;
    }
    if ((FHeader.Flags & stgPassword) && !CheckPassword(FHeader, Password)) {
        Close();
        return stgErrPassword;
    }
    if ((FHeader.Flags & stgAutoCompact) && !CompactedFlag && !readOnly)
        Compact();
    return stgOk;
}

uint16_t TovFileStg::ReadHeader()
{
    try {
        FileSize = Stream->GetSize();
        Stream->Seek(0, soFromBeginning);
        uint8_t raw[kStgHeaderSize];
        Stream->ReadBuffer(raw, sizeof(raw));
        FHeader.Load(raw);
        ExtensionLength = 0;
        Extension.clear();
        if (FHeader.Version == kStgVersion101) {
            uint8_t len[4];
            Stream->ReadBuffer(len, 4);
            int32_t l = StgGetLE32(len);
            // An extension that cannot fit in the file makes the header unreadable.
            if (l < 0 || 204 + static_cast<int64_t>(l) > FileSize) {
                FLastError = "the header extension does not fit in the file";
                return stgErrNotStorage;
            }
            ExtensionLength = l;
            if (l > 0) {
                Extension.resize(static_cast<size_t>(l));
                Stream->ReadBuffer(Extension.data(), l);
            }
        }
        Stream->Seek(0, soFromBeginning);
    } catch (const std::exception&) {
        FLastError = "the file is shorter than a container header";
        return stgErrNotStorage;
    }
    if (FHeader.Version >= kStgVersion101 && FHeader.Magic != kStgMagic) {
        FLastError = "no container signature";
        return stgErrNotStorage;
    }
    return stgOk;
}

uint16_t TovFileStg::ReadDirectory()
{
    FDirectory.clear();
    try {
        int64_t at = HeaderSize() + static_cast<int64_t>(FHeader.DataSize);
        // The count and all records must lie within the file.
        if (FHeader.DataSize < 0 || at + 4 > FileSize) {
            FLastError = "the data size in the header points beyond the end of the file";
            return stgErrNotStorage;
        }
        int64_t saved = Stream->Seek(0, soFromCurrent);
        Stream->Seek(at, soFromBeginning);
        uint8_t countBytes[4];
        Stream->ReadBuffer(countBytes, 4);
        StgScramblePiece(countBytes, 4);
        int32_t n = StgGetLE32(countBytes);
        // The directory ends where the file ends: a DataSize or count that
        // is off by any amount names another place as the directory, which
        // would otherwise read as a smaller (often empty) container. The
        // header's EntryCount is N in every stored container.
        int64_t end = at + 4 + static_cast<int64_t>(n) * kStgEntrySize;
        if (n < 0 || end != FileSize) {
            FLastError = n < 0 ? "negative entry count"
                               : FormatText("the directory of %d entries ends %s bytes %s the end of the file", n,
                                            GroupedNumber(end > FileSize ? end - FileSize : FileSize - end).c_str(),
                                            end > FileSize ? "beyond" : "before");
            return stgErrNotStorage;
        }
        if (FHeader.EntryCount != n) {
            FLastError = FormatText("the header counts %d entries, the directory %d", FHeader.EntryCount, n);
            return stgErrNotStorage;
        }
        std::vector<uint8_t> records(static_cast<size_t>(n) * kStgEntrySize);
        if (n > 0)
            Stream->ReadBuffer(records.data(), static_cast<int32_t>(records.size()));
        FDirectory.reserve(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            uint8_t* piece = records.data() + static_cast<size_t>(i) * kStgEntrySize;
            StgScramblePiece(piece, kStgEntrySize);
            TStgEntry entry;
            entry.Load(piece);
            // A name is at most 64 characters and holds no zero byte: a
            // cut name would make one entry pass for another.
            std::string name = entry.GetName();
            if (entry.Name[0] > sizeof(entry.Name) - 1 || name.find('\0') != std::string::npos)
                throw EStreamError(FormatText("entry %d has a damaged name", static_cast<int>(i + 1)));
            FDirectory.emplace_back(name, entry);
        }
        Stream->Seek(saved, soFromBeginning);
    } catch (const std::exception& e) {
        FDirectory.clear();
        FLastError = std::string("damaged directory: ") + e.what();
        return stgErrNotStorage;
    }
    return stgOk;
}

void TovFileStg::WriteDirectory(TStream& target, int64_t at)
{
    std::vector<uint8_t> bytes(4 + FDirectory.size() * kStgEntrySize);
    StgPutLE32(bytes.data(), static_cast<int32_t>(FDirectory.size()));
    StgScramblePiece(bytes.data(), 4);
    for (size_t i = 0; i < FDirectory.size(); ++i) {
        uint8_t* piece = bytes.data() + 4 + i * kStgEntrySize;
        FDirectory[i].second.Store(piece);
        StgScramblePiece(piece, kStgEntrySize);
    }
    target.Seek(at, soFromBeginning);
    target.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    ModifiedFlag = true;
}

void TovFileStg::Close()
{
    if (OpenFlag) {
        Extension.clear();
        OpenEntries.clear();
        Stream.reset();
        if (ModifiedFlag)
            StgSetFileDateNow(FFileName);
    }
    OpenFlag = false;
}

void TovFileStg::Compact()
{
    const int64_t entryHeaderSize = FHeader.EntryHeaderSize;
    int64_t total = 0;
    bool fits = entryHeaderSize == EntryHeaderSizeOf(FFilterFlags);
    std::vector<std::pair<std::string, TStgEntry>> live;
    for (const auto& item : FDirectory) {
        const TStgEntry& e = item.second;
        if (e.Attributes & stgAttrDeleted)
            continue;
        int64_t size = entryHeaderSize + e.StoredSize;
        // A block outside the file cannot be moved: such a container is left
        // as it is (its damaged entries fail at extraction).
        if (e.DataOffset < 0 || e.StoredSize < 0 || e.DataOffset + size > FileSize)
            fits = false;
        total += size;
        live.push_back(item);
    }
    if (!fits || total == FHeader.DataSize || total > INT32_MAX)
        return;

    FDirectory.swap(live);
    FHeader.DataSize = static_cast<int32_t>(total);
    FHeader.EntryCount = static_cast<int32_t>(FDirectory.size());
    TempFileName = StgMakeTempFileName(StgExtractFilePath(FFileName), ".tmp");
    try {
        TFileStream temp(TempFileName, fmCreate);
        uint8_t raw[kStgHeaderSize];
        FHeader.Store(raw);
        temp.WriteBuffer(raw, sizeof(raw));
        if (FHeader.Version == kStgVersion101) {
            uint8_t len[4];
            StgPutLE32(len, ExtensionLength);
            temp.WriteBuffer(len, 4);
            if (ExtensionLength > 0)
                temp.WriteBuffer(Extension.data(), ExtensionLength);
        }
        temp.Seek(HeaderSize(), soFromBeginning);
        for (auto& item : FDirectory) {
            int64_t pos = temp.GetPosition();
            CopyRange(*Stream, temp, item.second.DataOffset, -1, entryHeaderSize + item.second.StoredSize);
            item.second.DataOffset = static_cast<int32_t>(pos);
        }
        WriteDirectory(temp, HeaderSize() + FHeader.DataSize);
    } catch (...) {
        Close();
        StgDeleteFile(TempFileName);
        throw;
    }
    Close();
    StgDeleteFile(FFileName);
    StgRenameFile(TempFileName, FFileName);
    CompactedFlag = true;
    Open(FFileName, Password);
}

uint16_t TovFileStg::FindFirst(const TStgSearchFilter* filter, TStgSearchRec& rec)
{
    Searches.emplace_back(new TStgSearchContext);
    TStgSearchContext* context = Searches.back().get();
    if (filter) {
        context->HasFilter = true;
        context->Filter = *filter;
        context->Filter.Name = context->Filter.Name.substr(0, kStgNameMax);
    }
    rec.Context = context;
    for (size_t i = 0; i < FDirectory.size(); ++i) {
        const TStgEntry& e = FDirectory[i].second;
        if (context->HasFilter) {
            const TStgSearchFilter& f = context->Filter;
            if (!f.Name.empty() && !SameTextAscii(f.Name, FDirectory[i].first))
                continue;
            if ((e.Attributes & f.Mask) == 0)
                continue;
        }
        context->Index = static_cast<int32_t>(i);
        rec.Name = e.GetName().substr(0, kStgNameMax);
        rec.Id = e.Id;
        rec.Attributes = e.Attributes;
        rec.Aux2 = e.Aux2;
        rec.Aux1 = e.Aux1;
        rec.StoredSize = e.StoredSize;
        rec.Value2 = e.Value2;
        rec.Value1 = e.Value1;
        rec.Value3 = e.Value3;
        return stgOk;
    }
    return stgErrNotFound;
}

void TovFileStg::FindClose(TStgSearchRec& rec)
{
    for (size_t i = 0; i < Searches.size(); ++i) {
        if (Searches[i].get() == rec.Context) {
            Searches.erase(Searches.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    rec.Context = nullptr;
}

int TovFileStg::FindIndexById(int32_t id) const
{
    for (size_t i = 0; i < FDirectory.size(); ++i)
        if (FDirectory[i].second.Id == id)
            return static_cast<int>(i);
    return -1;
}

uint16_t TovFileStg::ExtractEntry(int32_t id, const std::string& fileName)
{
    return Extract(id, &fileName, nullptr);
}

uint16_t TovFileStg::ExtractEntryToStream(int32_t id, TStream& target)
{
    return Extract(id, nullptr, &target);
}

uint16_t TovFileStg::Extract(int32_t id, const std::string* fileName, TStream* target)
{
    FLastError.clear();
    FLastSystemCode = 0;
    int index = FindIndexById(id);
    if (index < 0)
        return stgErrNoId;
    if (!OpenFlag || !Stream) {
        FLastError = "The container is not open";
        return stgErrExtract;
    }
    TPipedFile* piped = nullptr;
    uint16_t code = stgOk;
    try {
        const TStgEntry entry = FDirectory[static_cast<size_t>(index)].second;
        int64_t headerSize = EntryHeaderSizeOf(FFilterFlags);
        if (entry.DataOffset < 0 || entry.StoredSize < 0 ||
            static_cast<int64_t>(entry.DataOffset) + headerSize + entry.StoredSize > FileSize)
            throw EReadError("Damaged entry: its data lies outside the container file");
        std::unique_ptr<TStream> window(new TConnectedStream(*Stream, entry.DataOffset));
        std::unique_ptr<TPipedFile> owner(new TPipedFile(this, std::move(window), FFilterFlags, Password));
        piped = owner.get();
        OpenEntries.push_back(std::move(owner));
        FHeader.EntryHeaderSize = piped->HeaderSize();
        piped->OpenRead();
        piped->CheckHeaders(entry.StoredSize, FileSize - entry.DataOffset);
        if (fileName)
            piped->SaveToFile(*fileName);
        else
            piped->SaveToStream(*target);
    } catch (const EDecompressionError& e) {
        // The zlib layer's own text is a bare "error": say what it means.
        FLastError = e.message() == "error" ? "corrupt compressed data" : e.message();
        code = stgErrExtract;
    } catch (const EReadError& e) {
        FLastError = e.message() == "Stream read error"
                         ? "the stored data end before the size the entry's headers announce"
                         : e.message();
        code = stgErrExtract;
    } catch (const Exception& e) {
        // A file that cannot be created or written: the system's code says why.
        FLastError = e.message();
        FLastSystemCode = e.SystemCode();
        if (FLastError.empty())
            FLastError = "Extraction failed";
        code = stgErrExtract;
    } catch (const std::exception& e) {
        FLastError = e.what();
        if (FLastError.empty())
            FLastError = "Extraction failed";
        code = stgErrExtract;
    }
    if (piped) {
        for (size_t i = 0; i < OpenEntries.size(); ++i) {
            if (OpenEntries[i].get() == piped) {
                try {
                    piped->Close();
                } catch (const std::exception& e) {
                    if (code == stgOk)
                        FLastError = e.what();
                    code = stgErrExtract;
                }
                OpenEntries.erase(OpenEntries.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
    }
    return code;
}
