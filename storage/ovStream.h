// The stream base and the plain streams of the run-time: memory and file.
//
// Every stream offers Read(buffer, count) -> bytes read, Write(buffer, count)
// -> bytes written, Seek(offset, origin) -> new position (origin 0 = from the
// start, 1 = from the current position, 2 = from the end) and SetSize.
// Position and size follow from Seek. Read and Write report short transfers
// through their result; ReadBuffer and WriteBuffer turn them into errors.
#pragma once

#include "ovClass.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TReadOnlyMemoryStream;

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    // Default: not supported (raises EStreamError).
    virtual void SetSize(int64_t newSize);

    int64_t GetPosition() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, soFromBeginning); }
    int64_t GetSize();

    // Reads exactly count bytes or raises EReadError ("Stream read error").
    void ReadBuffer(void* buffer, int32_t count);
    // Writes exactly count bytes or raises EWriteError ("Stream write error").
    void WriteBuffer(const void* buffer, int32_t count);
    // Copies count bytes from source (count 0: the whole source from its start).
    // Raises EReadError when the source ends early. Returns bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);

    // The programs are built without run-time type information, so a stream
    // tells what it is where callers need to know:
    // - whether a write may take fewer bytes than given without having failed
    //   (a filter keeps bytes back until it is finished);
    virtual bool HoldsBackWrites() const { return false; }
    // - the read-only memory window it is, if it is one.
    virtual TReadOnlyMemoryStream* AsMemoryWindow() { return nullptr; }
};

// Counts what is written to it and keeps nothing; reads give nothing.
class TNullStream : public TStream {
public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override
    {
        Size += count;
        return count;
    }
    int64_t Seek(int64_t, int) override { return Size; }
    int64_t Size = 0;
};

// A growable memory stream that owns its bytes.
class TMemoryStream : public TStream {
public:
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t newSize) override;

    void Clear();
    uint8_t* Memory() { return Data.data(); }
    const uint8_t* Memory() const { return Data.data(); }
    int64_t Size() const { return static_cast<int64_t>(Data.size()); }
    void LoadFromStream(TStream& source);  // whole source, from its start
    void SaveToStream(TStream& target);    // whole content
    std::vector<uint8_t>& Bytes() { return Data; }

private:
    std::vector<uint8_t> Data;
    int64_t Position = 0;
};

// A read-only window over memory the stream does not own (a resource, a
// mapped file). The memory must outlive the stream. Write raises EStreamError.
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* data, int64_t size)
        : Data(static_cast<const uint8_t*>(data)), Length(size) {}
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    const uint8_t* Memory() const { return Data; }
    int64_t Size() const { return Length; }
    TReadOnlyMemoryStream* AsMemoryWindow() override { return this; }

private:
    const uint8_t* Data;
    int64_t Length;
    int64_t Position = 0;
};

// File open modes (combine one access mode with one share mode, or use fmCreate).
enum : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,  // no other opener may read or write
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,  // create, or truncate an existing file; read and write access; exclusive
};

// A stream over a file of the platform (CreateFileA on Windows, open(2) elsewhere).
// Open failure raises EFOpenError "Cannot open file %s"; fmCreate failure
// raises EFCreateError "Cannot create file %s". On the host, fmShareExclusive
// is emulated with an advisory lock so that two openers in this program's
// processes exclude each other as they do on Windows.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t newSize) override;
    const std::string& FileName() const { return Name; }
    // The open file: a HANDLE on Windows, a file descriptor elsewhere.
    intptr_t NativeHandle() const { return Handle; }

private:
    std::string Name;
    intptr_t Handle;  // HANDLE on Windows, file descriptor elsewhere
};

bool FileExists(const std::string& fileName);
