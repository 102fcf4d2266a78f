// The zlib streams (a compressing stream and an expanding stream over the
// system's zlib) and the zip filter of the container pipeline.
//
// The compressed form is a complete zlib stream (2-byte header, deflate data,
// Adler-32 trailer; window bits 15). Both streams work through one
// 65,536-byte buffer; zlib results below zero raise ECompressionError or
// EDecompressionError with the message "error".
#pragma once

#include "ovsPipe.h"
#include "ovStream.h"

#include <cstdint>
#include <memory>

struct z_stream_s;

class EZlibError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class ECompressionError : public EZlibError {
public:
    using EZlibError::EZlibError;
};
class EDecompressionError : public EZlibError {
public:
    using EZlibError::EZlibError;
};

// The common part: the stream worked on (not owned), its last known
// position, an optional progress callback, the zlib state and the buffer.
class TCustomZlibStream : public TStream {
public:
    static const int32_t kBufferSize = 65536;
    typedef void (*TProgressEvent)(void* owner, TCustomZlibStream* sender);

    explicit TCustomZlibStream(TStream& strm);
    ~TCustomZlibStream() override;

    // Called after each buffer exchanged with the underlying stream, when set.
    void SetOnProgress(TProgressEvent event, void* owner)
    {
        OnProgress = event;
        ProgressOwner = owner;
    }

protected:
    void Progress()
    {
        if (OnProgress)
            OnProgress(ProgressOwner, this);
    }

    TStream& Strm;
    int64_t StrmPos;
    TProgressEvent OnProgress = nullptr;
    void* ProgressOwner = nullptr;
    std::unique_ptr<z_stream_s> ZStream;
    std::unique_ptr<uint8_t[]> Buffer;
};

// Compresses what is written into it to the target stream.
// levelIndex 0..3: none, fastest, default, maximum (zlib levels 0, 1, -1, 9).
class TCompressionStream : public TCustomZlibStream {
public:
    TCompressionStream(int levelIndex, TStream& target);
    // Finishes the zlib stream if Finish was not called (errors are dropped
    // there: call Finish to see them).
    ~TCompressionStream() override;

    // Feeds the bytes to deflate; full output buffers go to the target. Returns count.
    int32_t Write(const void* buffer, int32_t count) override;
    // Raises "Invalid stream operation".
    int32_t Read(void* buffer, int32_t count) override;
    // Seek(0, soFromCurrent) is the input consumed so far; anything else raises.
    int64_t Seek(int64_t offset, int origin) override;

    // Ends the zlib stream and writes the rest of the output. Once only.
    void Finish();
    // Gives the stream up without ending it: nothing more is written.
    void Discard();
    // Fraction of output to input so far, in percent of the input (0 when empty).
    double CompressionRate() const;

private:
    void FlushBuffer(int32_t count);

    bool Finished = false;
    bool Initialized = false;
    int64_t TotalIn = 0;
    int64_t TotalOut = 0;
};

// Expands the zlib stream read from the source.
class TDecompressionStream : public TCustomZlibStream {
public:
    explicit TDecompressionStream(TStream& source);
    ~TDecompressionStream() override;

    // Inflates up to count bytes into the buffer; fewer when the source gives
    // no more or the zlib stream has ended. Corrupt data raises
    // EDecompressionError "error".
    int32_t Read(void* buffer, int32_t count) override;
    // Raises "Invalid stream operation".
    int32_t Write(const void* buffer, int32_t count) override;
    // (0, soFromBeginning) restarts from where the source stood at creation;
    // forward moves read and discard; (0, soFromCurrent) is the output so
    // far. Anything else raises "Invalid stream operation".
    int64_t Seek(int64_t offset, int origin) override;

    // True once inflate has reached the end of the zlib stream: the data was
    // complete and its checksum right.
    bool StreamEnded() const { return Ended; }

private:
    void Skip(int64_t count);

    bool Ended = false;
    bool Initialized = false;
    int64_t StartPos;
    int64_t TotalOut = 0;
};

// The zip filter: the top filter of a packed container's pipeline.
// Header: DataSize = plain length, StoredSize = compressed length.
// Writing, the compressed data collects in memory and Finish pushes it to
// the filters beneath in pieces of 32,764 bytes. Reading, the first Read pulls
// all StoredSize compressed bytes from beneath into memory and every Read
// inflates from there. Once DataSize bytes have been delivered, the zlib
// stream must end there (checksum verified); otherwise, and for corrupt data,
// EDecompressionError "error" is raised.
//
// Writing needs the compressor, which lives in its own object file so that a
// program that only reads (the setup program) does not carry deflate: a
// program that writes calls EnableZipCompression once (the container writer
// does); without it, opening the filter for writing raises ECompressionError.
class TZipFilter : public TDataFilter {
public:
    static const int kLevelIndex = 2;  // zlib's default level

    // How the filter makes and ends its compressor; set by EnableZipCompression.
    struct TWriteHooks {
        TStream* (*Create)(TStream& target);
        void (*End)(TStream& compressor);  // finishes the stream, or discards an empty one
    };
    static const TWriteHooks* WriteHooks;

    TZipFilter();
    ~TZipFilter() override;

    void Open(uint8_t mode) override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    void Finish() override;

private:
    void PullStoredData();

    std::unique_ptr<TMemoryStream> Memory;
    std::unique_ptr<TStream> Compressor;
    std::unique_ptr<TDecompressionStream> Decompressor;
    int64_t Delivered = 0;
};

// Lets TZipFilter write (compress). Idempotent.
void EnableZipCompression();
