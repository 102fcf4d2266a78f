#include "sxTypes.h"

#include <cstdint>

bool SilentMode = false;

std::string ReadShortString(TStream& stream)
{
    uint8_t len[2];
    stream.ReadBuffer(len, 2);
    uint16_t n = static_cast<uint16_t>(len[0] | (len[1] << 8));
    std::string text(n, '\0');
    if (n)
        stream.ReadBuffer(&text[0], n);
    return text;
}

void WriteShortString(TStream& stream, const std::string& text)
{
    if (text.size() > 0xFFFF)
        throw EStreamError("Text too long for a counted string");
    uint8_t len[2] = {static_cast<uint8_t>(text.size() & 0xFF), static_cast<uint8_t>(text.size() >> 8)};
    stream.WriteBuffer(len, 2);
    if (!text.empty())
        stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}
