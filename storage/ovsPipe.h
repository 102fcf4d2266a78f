// The data pipeline of a container entry: the window stream onto the
// container file, the data filter protocol, the source filter, the chain of
// filters, the chunked FIFO buffer and the range copy.
//
// Entry block written and read by a pipeline of n filters (source included):
//   offset 0          2 bytes, never read nor written by the pipeline
//   offset 2 + 8*i    the 8-byte header of the filter at list index i
//                     (source first): DataSize, StoredSize (int32 LE each)
//   offset 2 + 8*n    the data as the source filter wrote it ("data start")
// n = 1, 2, 3, 4 give data start 10, 18, 26, 34.
//
// Reading, every layer knows its length from its header: DataSize going up,
// StoredSize going down. Short reads that would otherwise hand out wrong or
// missing bytes raise EReadError ("Stream read error"): the range copy and
// the pipeline's SaveToStream check every read.
#pragma once

#include "ovsConst.h"
#include "ovStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A window onto another stream, shifted by a base offset. Position 0 of the
// window is the base offset of the underlying stream; the window has no end
// of its own (its size is the underlying size minus the base).
class TConnectedStream : public TStream {
public:
    // Positions the underlying stream (not owned) at the base offset.
    TConnectedStream(TStream& stream, int64_t baseOffset);
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t newSize) override;

    int64_t BaseOffset() const { return Base; }

private:
    TStream& Strm;
    int64_t Base;
};

class TDataFilter;
class TSourceFilter;
// Header I/O callback set by the pipeline: (owner, filter, 8-byte header).
typedef void (*THeaderProc)(void* owner, TDataFilter* filter, uint8_t* header);
struct THeaderEvent {
    THeaderProc Proc = nullptr;
    void* Owner = nullptr;
};

// The filter base. A filter transforms the data passing between the filter
// above it (or the user of the pipeline) and its inner filter (owned).
class TDataFilter : public TStream {
public:
    static const int32_t kFilterHeaderSize = 8;

    // A pipeline links the filters it makes itself (TPipeline::AddFilter).
    TDataFilter() = default;
    // inner: the filter beneath.
    explicit TDataFilter(std::unique_ptr<TDataFilter> inner);
    ~TDataFilter() override;

    // Reads from the inner filter (none: 0 bytes) and counts the bytes read.
    int32_t Read(void* buffer, int32_t count) override;
    // Adds count to DataSize and StoredSize and writes to the inner filter
    // (none: 0 bytes); returns the inner filter's result.
    int32_t Write(const void* buffer, int32_t count) override;
    // Only the source filter can seek; here it raises EStreamError.
    int64_t Seek(int64_t offset, int origin) override;

    virtual int32_t GetDataSize() const { return DataSize; }
    virtual int32_t GetStoredSize() const { return StoredSize; }
    // Whether the stored size read from a header can belong to the data size
    // (a scrambler stores bytes one for one, a block cipher whole blocks);
    // the sizes are known to be non-negative.
    virtual bool SizesAgree() const { return true; }
    // The bottom filter, if this is it.
    virtual const TSourceFilter* AsSource() const { return nullptr; }
    bool HoldsBackWrites() const override { return true; }
    // Stores the mode and sets the open flag; reading, fills the header from
    // the entry block; then opens the inner filter with the same mode.
    virtual void Open(uint8_t mode);
    // Writing: Finish, close the inner filter, then write this filter's
    // header. Always clears the open flag; a second Close does nothing.
    virtual void Close();
    // Pushes pending output down; the base finishes the inner filter.
    virtual void Finish();

    bool IsOpen() const { return OpenFlag; }
    bool IsReading() const { return (Mode & 1) != 0; }
    uint8_t GetMode() const { return Mode; }
    uint16_t HeaderSize() const { return FHeaderSize; }
    TDataFilter* Inner() const { return InnerFilter.get(); }
    int32_t BytesRead() const { return ReadCount; }
    int32_t BytesWrittenBelow() const { return WrittenCount; }

    // The header as stored: DataSize then StoredSize, little-endian.
    void GetHeader(uint8_t* header) const;
    void SetHeader(const uint8_t* header);

    THeaderEvent OnWriteHeader;
    THeaderEvent OnReadHeader;

protected:
    friend class TPipeline;

    // Close for destructors: never throws (a failure there cannot be reported).
    void CloseQuietly() noexcept;

    uint8_t Mode = 0;
    uint16_t FHeaderSize = kFilterHeaderSize;
    bool OpenFlag = false;
    int32_t DataSize = 0;    // bytes that entered this filter from above
    int32_t StoredSize = 0;  // bytes this filter handed to the filter beneath
    std::unique_ptr<TDataFilter> InnerFilter;
    int32_t ReadCount = 0;
    int32_t WrittenCount = 0;
};

// The bottom filter: reads and writes the window stream (not owned).
// Its header holds DataSize = StoredSize = the number of data bytes.
class TSourceFilter : public TDataFilter {
public:
    TSourceFilter() = default;
    ~TSourceFilter() override;
    void SetWindow(TStream* window) { Window = window; }
    TStream* GetWindow() const { return Window; }
    const TSourceFilter* AsSource() const override { return this; }

    // Never reads beyond StoredSize; without a window, the silent abort.
    int32_t Read(void* buffer, int32_t count) override;
    // A short write of the window raises EWriteError.
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

private:
    TStream* Window = nullptr;
};

class TPswProtectedFilter;

// A chain of filters over a window stream: the source filter at the bottom,
// each added filter on top of the previous one.
class TPipeline {
public:
    static const uint16_t kBaseSize = 2;

    // window: not owned; must outlive the pipeline.
    TPipeline(TStream* window, uint8_t filterFlags);
    ~TPipeline();
    TPipeline(const TPipeline&) = delete;
    TPipeline& operator=(const TPipeline&) = delete;

    // Creates a T over the current top filter and makes it the top filter.
    // When T cannot be created the chain stays as it was.
    template <class T>
    T* AddFilter()
    {
        T* filter = new T;
        Attach(std::unique_ptr<TDataFilter>(filter));
        return filter;
    }
    // AddFilter, then SetPassword(password) on the new filter.
    template <class T>
    T* AddPasswordFilter(const std::string& password)
    {
        T* filter = AddFilter<T>();
        filter->SetPassword(password);
        return filter;
    }

    // 2 + the header sizes of the filters at list indexes 0..min(i, count-1); 2 for i = -1.
    int32_t HeaderOffset(int i) const;
    int32_t DataStart() const { return FDataStart; }
    // Opens the chain (reading: reads every header), then positions the
    // window at data start.
    void Open(uint8_t mode);
    void Close();
    int32_t DataSize() const { return Top->GetDataSize(); }
    // Reading: copies the entry (the top filter's DataSize bytes) to target in
    // pieces of at most 32,764 bytes. A short read raises EReadError.
    void SaveToStream(TStream& target);

    TDataFilter* TopFilter() const { return Top.get(); }
    TSourceFilter* SourceFilter() const { return Source; }
    const std::vector<TDataFilter*>& Filters() const { return List; }
    uint8_t FilterFlags() const { return Flags; }
    bool IsOpen() const { return OpenFlag; }

private:
    // Puts filter on top of the chain; when that fails, the filter is
    // destroyed and the chain stays as it was.
    void Attach(std::unique_ptr<TDataFilter> filter);
    int IndexOf(const TDataFilter* filter) const;
    void HeaderIO(TDataFilter* filter, uint8_t* header, bool write);
    static void WriteHeaderProc(void* owner, TDataFilter* filter, uint8_t* header);
    static void ReadHeaderProc(void* owner, TDataFilter* filter, uint8_t* header);

    uint8_t Mode = 0;
    uint8_t Flags;
    bool OpenFlag = false;
    TStream* Window;
    std::vector<TDataFilter*> List;  // bottom first; not owning
    TSourceFilter* Source;
    std::unique_ptr<TDataFilter> Top;  // owns the chain
    int32_t FDataStart = 0;
};

// A byte FIFO over a list of chunks.
class TFIFOBuffer {
public:
    enum : int32_t { foRecycle = 1, foFixedChunk = 2, foRelease = 4 };
    static const int32_t kMaxChunkLimit = 0x40000;

    TFIFOBuffer(int32_t minChunk, int32_t options, int32_t maxChunk);
    // Appends n bytes, adding chunks as needed.
    void Write(const void* buffer, int32_t n);
    // Takes n bytes from the front; raises Exception "Read beyond end of FIFO
    // buffer" (nothing consumed) when fewer are stored.
    void Read(void* buffer, int32_t n);
    int32_t Count() const { return FCount; }
    int32_t Capacity() const { return FCapacity; }
    int32_t Head() const { return FHead; }
    int32_t MinChunk() const { return FMinChunk; }
    int32_t MaxChunk() const { return FMaxChunk; }
    int32_t ChunkCount() const { return static_cast<int32_t>(Chunks.size()); }
    int32_t ChunkSize(int32_t i) const { return Chunks[static_cast<size_t>(i)].Size; }
    void Clear();

private:
    struct TChunk {
        int32_t Size;
        std::unique_ptr<uint8_t[]> Data;
    };
    void AddChunk(int32_t wanted);
    void Recycle();
    void Release();

    std::vector<TChunk> Chunks;
    int32_t Options;
    int32_t FMinChunk;
    int32_t FMaxChunk;
    int32_t FCapacity = 0;
    int32_t FCount = 0;
    int32_t FHead = 0;
};

// Copies count bytes (-1: source size - source position) from source to
// target, seeking each to its position unless it is -1, in pieces of at most
// 32,764 bytes. A short read raises EReadError; so does a short write to a
// target that is not a data filter (a filter may keep bytes back until it is
// finished, so its Write result is passed over).
// Returns count.
int64_t CopyRange(TStream& source, TStream& target, int64_t sourcePos, int64_t targetPos, int64_t count);
