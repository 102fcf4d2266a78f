#include "ovStgDef.h"

#include "ovsClass.h"

#include <algorithm>

std::string StgGetText(const uint8_t* field, int fieldSize)
{
    int len = std::min<int>(field[0], fieldSize - 1);
    return std::string(reinterpret_cast<const char*>(field + 1), static_cast<size_t>(len));
}

void StgPutText(uint8_t* field, int fieldSize, const std::string& text)
{
    int len = std::min<int>(static_cast<int>(text.size()), fieldSize - 1);
    std::memset(field, 0, static_cast<size_t>(fieldSize));
    field[0] = static_cast<uint8_t>(len);
    std::memcpy(field + 1, text.data(), static_cast<size_t>(len));
}

void TStgHeader::Load(const uint8_t* p)
{
    Magic = StgGetLE16(p);
    std::memcpy(Description, p + 2, sizeof(Description));
    std::memcpy(StorageId, p + 152, sizeof(StorageId));
    Version = StgGetLE16(p + 168);
    Flags = StgGetLE16(p + 170);
    std::memcpy(PasswordCheck, p + 172, sizeof(PasswordCheck));
    EntryCount = StgGetLE32(p + 188);
    DataSize = StgGetLE32(p + 192);
    EntryHeaderSize = StgGetLE32(p + 196);
}

void TStgHeader::Store(uint8_t* p) const
{
    StgPutLE16(p, Magic);
    std::memcpy(p + 2, Description, sizeof(Description));
    std::memcpy(p + 152, StorageId, sizeof(StorageId));
    StgPutLE16(p + 168, Version);
    StgPutLE16(p + 170, Flags);
    std::memcpy(p + 172, PasswordCheck, sizeof(PasswordCheck));
    StgPutLE32(p + 188, EntryCount);
    StgPutLE32(p + 192, DataSize);
    StgPutLE32(p + 196, EntryHeaderSize);
}

void TStgEntry::Load(const uint8_t* p)
{
    std::memcpy(Name, p, sizeof(Name));
    Id = StgGetLE32(p + 65);
    DataOffset = StgGetLE32(p + 69);
    Aux1 = StgGetLE32(p + 73);
    StoredSize = StgGetLE32(p + 77);
    Aux2 = StgGetLE16(p + 81);
    Attributes = StgGetLE16(p + 83);
    Value1 = StgGetLE64(p + 85);
    Value2 = StgGetLE64(p + 93);
    Value3 = StgGetLE64(p + 101);
    std::memcpy(Reserved, p + 109, sizeof(Reserved));
}

void TStgEntry::Store(uint8_t* p) const
{
    std::memcpy(p, Name, sizeof(Name));
    StgPutLE32(p + 65, Id);
    StgPutLE32(p + 69, DataOffset);
    StgPutLE32(p + 73, Aux1);
    StgPutLE32(p + 77, StoredSize);
    StgPutLE16(p + 81, Aux2);
    StgPutLE16(p + 83, Attributes);
    StgPutLE64(p + 85, Value1);
    StgPutLE64(p + 93, Value2);
    StgPutLE64(p + 101, Value3);
    std::memcpy(p + 109, Reserved, sizeof(Reserved));
}

void StgScramblePiece(uint8_t* piece, int32_t count)
{
    TXORScrambler scrambler;
    scrambler.Scramble(piece, count);
}
