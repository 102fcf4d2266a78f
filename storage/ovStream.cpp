#include "ovStream.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

std::string GroupedNumber(int64_t value)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

void TStream::SetSize(int64_t)
{
    throw EStreamError("Stream does not support SetSize");
}

int64_t TStream::GetSize()
{
    int64_t pos = Seek(0, soFromCurrent);
    int64_t size = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.GetSize();
    }
    const int32_t kMaxBuffer = 0xF000;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), kMaxBuffer)));
    int64_t done = 0;
    while (done < count) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(count - done, kMaxBuffer));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        done += n;
    }
    return done;
}

// ---- TMemoryStream ----

int32_t TMemoryStream::Read(void* buffer, int32_t count)
{
    if (count <= 0 || Position >= Size())
        return 0;
    int64_t n = std::min<int64_t>(count, Size() - Position);
    std::memcpy(buffer, Data.data() + Position, static_cast<size_t>(n));
    Position += n;
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    int64_t end = Position + count;
    if (end > Size())
        Data.resize(static_cast<size_t>(end));
    std::memcpy(Data.data() + Position, buffer, static_cast<size_t>(count));
    Position = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin)
{
    switch (origin) {
    case soFromBeginning: Position = offset; break;
    case soFromCurrent: Position += offset; break;
    case soFromEnd: Position = Size() + offset; break;
    default: throw EStreamError("Invalid stream operation");
    }
    if (Position < 0)
        Position = 0;
    return Position;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    if (newSize < 0)
        newSize = 0;
    Data.resize(static_cast<size_t>(newSize));
    if (Position > newSize)
        Position = newSize;
}

void TMemoryStream::Clear()
{
    Data.clear();
    Data.shrink_to_fit();
    Position = 0;
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    source.SetPosition(0);
    int64_t size = source.GetSize();
    Data.resize(static_cast<size_t>(size));
    Position = 0;
    if (size > 0)
        source.ReadBuffer(Data.data(), static_cast<int32_t>(size));
}

void TMemoryStream::SaveToStream(TStream& target)
{
    if (!Data.empty())
        target.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
}

// ---- TReadOnlyMemoryStream ----

int32_t TReadOnlyMemoryStream::Read(void* buffer, int32_t count)
{
    if (count <= 0 || Position >= Length)
        return 0;
    int64_t n = std::min<int64_t>(count, Length - Position);
    std::memcpy(buffer, Data + Position, static_cast<size_t>(n));
    Position += n;
    return static_cast<int32_t>(n);
}

int32_t TReadOnlyMemoryStream::Write(const void*, int32_t)
{
    throw EStreamError("Stream write error");
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, int origin)
{
    switch (origin) {
    case soFromBeginning: Position = offset; break;
    case soFromCurrent: Position += offset; break;
    case soFromEnd: Position = Length + offset; break;
    default: throw EStreamError("Invalid stream operation");
    }
    if (Position < 0)
        Position = 0;
    return Position;
}
