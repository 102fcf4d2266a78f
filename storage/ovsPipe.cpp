#include "ovsPipe.h"

#include "ovStgDef.h"

#include <algorithm>
#include <cstring>

// ---- TConnectedStream ----

TConnectedStream::TConnectedStream(TStream& stream, int64_t baseOffset) : Strm(stream), Base(baseOffset)
{
    Strm.Seek(Base, soFromBeginning);
}

int32_t TConnectedStream::Read(void* buffer, int32_t count)
{
    return Strm.Read(buffer, count);
}

int32_t TConnectedStream::Write(const void* buffer, int32_t count)
{
    return Strm.Write(buffer, count);
}

int64_t TConnectedStream::Seek(int64_t offset, int origin)
{
    switch (origin) {
    case soFromBeginning: Strm.Seek(offset + Base, soFromBeginning); break;
    case soFromCurrent: Strm.Seek(offset, soFromCurrent); break;
    case soFromEnd: Strm.Seek(offset, soFromEnd); break;
    default: throw EStreamError("Invalid stream operation");
    }
    return Strm.Seek(0, soFromCurrent) - Base;
}

void TConnectedStream::SetSize(int64_t newSize)
{
    Strm.SetSize(newSize + Base);
}

// ---- TDataFilter ----

TDataFilter::TDataFilter(std::unique_ptr<TDataFilter> inner) : InnerFilter(std::move(inner)) {}

TDataFilter::~TDataFilter()
{
    CloseQuietly();
}

void TDataFilter::CloseQuietly() noexcept
{
    if (!OpenFlag)
        return;
    try {
        Close();
    } catch (...) {
        OpenFlag = false;
    }
}

void TDataFilter::GetHeader(uint8_t* header) const
{
    StgPutLE32(header, DataSize);
    StgPutLE32(header + 4, StoredSize);
}

void TDataFilter::SetHeader(const uint8_t* header)
{
    DataSize = StgGetLE32(header);
    StoredSize = StgGetLE32(header + 4);
}

int32_t TDataFilter::Read(void* buffer, int32_t count)
{
    if (!InnerFilter)
        return 0;
    int32_t n = InnerFilter->Read(buffer, count);
    ReadCount += n;
    return n;
}

int32_t TDataFilter::Write(const void* buffer, int32_t count)
{
    if (!InnerFilter)
        return 0;
    DataSize += count;
    StoredSize += count;
    int32_t n = InnerFilter->Write(buffer, count);
    WrittenCount += n;
    return n;
}

int64_t TDataFilter::Seek(int64_t, int)
{
    throw EStreamError("Invalid stream operation");
}

void TDataFilter::Open(uint8_t mode)
{
    Mode = mode;
    OpenFlag = true;
    if (IsReading() && OnReadHeader.Proc) {
        uint8_t header[kFilterHeaderSize];
        OnReadHeader.Proc(OnReadHeader.Owner, this, header);
        SetHeader(header);
    }
    if (InnerFilter)
        InnerFilter->Open(mode);
}

void TDataFilter::Close()
{
    if (!OpenFlag)
        return;
    if (!IsReading()) {
        // The open flag is cleared also when finishing fails, so that a
        // destructor does not try again.
        struct ClearFlag {
            bool& Flag;
            ~ClearFlag() { Flag = false; }
        } clear{OpenFlag};
        Finish();
        if (InnerFilter)
            InnerFilter->Close();
        if (OnWriteHeader.Proc) {
            uint8_t header[kFilterHeaderSize];
            GetHeader(header);
            OnWriteHeader.Proc(OnWriteHeader.Owner, this, header);
        }
    }
    OpenFlag = false;
}

void TDataFilter::Finish()
{
    if (InnerFilter)
        InnerFilter->Finish();
}

// ---- TSourceFilter ----

TSourceFilter::~TSourceFilter()
{
    CloseQuietly();
}

int32_t TSourceFilter::Read(void* buffer, int32_t count)
{
    if (!Window)
        throw EAbort();
    int32_t left = std::max(0, StoredSize - ReadCount);
    if (count > left)
        count = left;
    if (count <= 0)
        return 0;
    int32_t n = Window->Read(buffer, count);
    if (n > 0)
        ReadCount += n;
    return n;
}

int32_t TSourceFilter::Write(const void* buffer, int32_t count)
{
    if (!Window)
        throw EAbort();
    if (count <= 0)
        return 0;
    DataSize += count;
    int32_t n = Window->Write(buffer, count);
    StoredSize += count;
    WrittenCount += n;
    if (n != count)
        throw EWriteError("Stream write error");
    return n;
}

int64_t TSourceFilter::Seek(int64_t offset, int origin)
{
    if (!Window)
        throw EAbort();
    return Window->Seek(offset, origin);
}

// ---- TPipeline ----

TPipeline::TPipeline(TStream* window, uint8_t filterFlags) : Flags(filterFlags), Window(window)
{
    Source = new TSourceFilter;
    Top.reset(Source);
    Source->SetWindow(window);
    Source->OnWriteHeader = {&TPipeline::WriteHeaderProc, this};
    Source->OnReadHeader = {&TPipeline::ReadHeaderProc, this};
    List.push_back(Source);
    FDataStart = HeaderOffset(static_cast<int>(List.size()) - 1);
}

TPipeline::~TPipeline()
{
    if (OpenFlag) {
        try {
            Close();
        } catch (...) {
            // Nothing can be reported from here.
        }
    }
    Top.reset();
}

void TPipeline::Attach(std::unique_ptr<TDataFilter> owned)
{
    TDataFilter* filter = owned.get();
    List.push_back(filter);  // the one step that can fail comes first
    filter->InnerFilter = std::move(Top);
    Top = std::move(owned);
    filter->OnWriteHeader = {&TPipeline::WriteHeaderProc, this};
    filter->OnReadHeader = {&TPipeline::ReadHeaderProc, this};
    FDataStart = HeaderOffset(static_cast<int>(List.size()) - 1);
}

int32_t TPipeline::HeaderOffset(int i) const
{
    int32_t offset = kBaseSize;
    int last = std::min(i, static_cast<int>(List.size()) - 1);
    for (int k = 0; k <= last; ++k)
        offset += List[static_cast<size_t>(k)]->HeaderSize();
    return offset;
}

int TPipeline::IndexOf(const TDataFilter* filter) const
{
    for (size_t i = 0; i < List.size(); ++i)
        if (List[i] == filter)
            return static_cast<int>(i);
    return -1;
}

void TPipeline::HeaderIO(TDataFilter* filter, uint8_t* header, bool write)
{
    int i = IndexOf(filter);
    if (i < 0 || !Window)
        return;
    int64_t saved = Window->Seek(0, soFromCurrent);
    Window->Seek(HeaderOffset(i - 1), soFromBeginning);
    if (write)
        Window->WriteBuffer(header, filter->HeaderSize());
    else
        Window->ReadBuffer(header, filter->HeaderSize());  // an entry block cut short is an error
    Window->Seek(saved, soFromBeginning);
}

void TPipeline::WriteHeaderProc(void* owner, TDataFilter* filter, uint8_t* header)
{
    static_cast<TPipeline*>(owner)->HeaderIO(filter, header, true);
}

void TPipeline::ReadHeaderProc(void* owner, TDataFilter* filter, uint8_t* header)
{
    static_cast<TPipeline*>(owner)->HeaderIO(filter, header, false);
}

void TPipeline::Open(uint8_t mode)
{
    Mode = mode;
    OpenFlag = true;
    Top->Open(mode);
    if (Window)
        Window->Seek(FDataStart, soFromBeginning);
}

void TPipeline::Close()
{
    OpenFlag = false;
    Top->Close();
}

void TPipeline::SaveToStream(TStream& target)
{
    if (Window)
        Window->Seek(FDataStart, soFromBeginning);
    int32_t size = Top->GetDataSize();
    if (size < 0)
        throw EReadError("Stream read error");
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max(1, std::min(size, kStgCopyPiece))));
    int32_t done = 0;
    do {
        int32_t n = std::min(size - done, static_cast<int32_t>(buffer.size()));
        // The entry must deliver every byte its header announces. An empty
        // entry still makes one pass of 0 bytes (the zip filter checks there
        // that its stream holds nothing more).
        int32_t got = Top->Read(buffer.data(), n);
        if (got != n)
            throw EReadError(FormatText("the entry ends %s bytes early",
                                        GroupedNumber(static_cast<int64_t>(size) - done - std::max(0, got)).c_str()));
        target.WriteBuffer(buffer.data(), n);
        done += n;
    } while (done < size);
}

// ---- TFIFOBuffer ----

TFIFOBuffer::TFIFOBuffer(int32_t minChunk, int32_t options, int32_t maxChunk) : Options(options)
{
    FMinChunk = (minChunk >= 1 && minChunk <= kMaxChunkLimit && maxChunk >= minChunk) ? minChunk : 255;
    FMaxChunk = (maxChunk >= 1 && maxChunk <= kMaxChunkLimit && minChunk <= maxChunk) ? maxChunk : 0xFFFF;
    if (Options & foFixedChunk)
        FMaxChunk = FMinChunk;
}

void TFIFOBuffer::AddChunk(int32_t wanted)
{
    int32_t size = wanted < FMinChunk ? FMinChunk : std::min(wanted, FMaxChunk);
    TChunk chunk;
    chunk.Size = size;
    chunk.Data.reset(new uint8_t[static_cast<size_t>(size)]);
    Chunks.push_back(std::move(chunk));
    FCapacity += size;
}

void TFIFOBuffer::Write(const void* buffer, int32_t n)
{
    if (n <= 0)
        return;
    while (FCapacity - FHead - FCount < n)
        AddChunk(n - (FCapacity - FHead - FCount));
    if (Chunks.empty())
        AddChunk(FMinChunk);
    const uint8_t* src = static_cast<const uint8_t*>(buffer);
    int32_t offset = FHead + FCount;
    size_t c = 0;
    int32_t start = 0;
    while (n > 0) {
        // Find the chunk that holds offset.
        while (c < Chunks.size() && start + Chunks[c].Size <= offset) {
            start += Chunks[c].Size;
            ++c;
        }
        if (c == Chunks.size())
            AddChunk(FMinChunk);
        int32_t at = offset - start;
        int32_t part = std::min(n, Chunks[c].Size - at);
        std::memcpy(Chunks[c].Data.get() + at, src, static_cast<size_t>(part));
        src += part;
        n -= part;
        offset += part;
        FCount += part;
    }
}

void TFIFOBuffer::Read(void* buffer, int32_t n)
{
    if (n <= 0)
        return;
    if (FCount < n)
        throw Exception("Read beyond end of FIFO buffer");
    uint8_t* dst = static_cast<uint8_t*>(buffer);
    size_t c = 0;
    int32_t start = 0;
    while (n > 0) {
        while (start + Chunks[c].Size <= FHead) {
            start += Chunks[c].Size;
            ++c;
        }
        int32_t at = FHead - start;
        int32_t part = std::min(n, Chunks[c].Size - at);
        std::memcpy(dst, Chunks[c].Data.get() + at, static_cast<size_t>(part));
        dst += part;
        n -= part;
        FHead += part;
        FCount -= part;
    }
    if (Options & foRecycle)
        Recycle();
    else if (Options & foRelease)
        Release();
}

void TFIFOBuffer::Recycle()
{
    if (FCount == 0 && !Chunks.empty())
        FHead = 0;
    while (!Chunks.empty() && FHead >= Chunks.front().Size) {
        FHead = std::max(0, FHead - Chunks.front().Size);
        std::rotate(Chunks.begin(), Chunks.begin() + 1, Chunks.end());
    }
}

void TFIFOBuffer::Release()
{
    while (!Chunks.empty() && (FHead >= Chunks.front().Size || FCount == 0)) {
        FHead = std::max(0, FHead - Chunks.front().Size);
        FCapacity -= Chunks.front().Size;
        Chunks.erase(Chunks.begin());
    }
}

void TFIFOBuffer::Clear()
{
    Chunks.clear();
    FCapacity = 0;
    FCount = 0;
    FHead = 0;
}

// ---- CopyRange ----

int64_t CopyRange(TStream& source, TStream& target, int64_t sourcePos, int64_t targetPos, int64_t count)
{
    if (sourcePos != -1)
        source.Seek(sourcePos, soFromBeginning);
    if (targetPos != -1)
        target.Seek(targetPos, soFromBeginning);
    if (count == -1)
        count = source.GetSize() - source.GetPosition();
    if (count < 0)
        throw EReadError("Stream read error");
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max<int64_t>(1, std::min<int64_t>(count, kStgCopyPiece))));
    const bool holdsBack = target.HoldsBackWrites();
    int64_t done = 0;
    do {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size())));
        if (n > 0) {
            int32_t got = 0;
            while (got < n) {
                int32_t r = source.Read(buffer.data() + got, n - got);
                if (r <= 0)
                    throw EReadError("Stream read error");
                got += r;
            }
            // A filter may keep bytes back until it is finished, so its result
            // is not a short write; any other target must take them all.
            if (holdsBack)
                target.Write(buffer.data(), n);
            else
                target.WriteBuffer(buffer.data(), n);
        }
        done += n;
    } while (done < count);
    return count;
}
