// The program's own printf-style formatter behind FormatText. Messages need
// only integers, characters and strings; a formatter of that size keeps the C
// runtime's complete printf (floating point conversions and all, some 27 KB
// in the setup program) out of the programs, and behaves the same on every
// platform.
#include "ovClass.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

struct TConversion {
    bool Left = false;      // '-': pad on the right
    bool Zero = false;      // '0': pad numbers with zeros after the sign
    bool Plus = false;      // '+': sign on positive numbers
    bool Space = false;     // ' ': space on positive numbers
    bool Alternate = false; // '#': 0 before octal, 0x before hexadecimal
    int Width = 0;
    int Precision = -1;     // -1: none given
};

// Widths and precisions are capped so that a damaged format cannot ask for a
// gigabyte of padding.
const int kMaxField = 4096;

void Pad(std::string& out, size_t count, char c)
{
    out.append(count, c);
}

void PutField(std::string& out, const TConversion& conv, const char* text, size_t length)
{
    size_t width = conv.Width > 0 ? static_cast<size_t>(conv.Width) : 0;
    size_t padding = width > length ? width - length : 0;
    if (!conv.Left)
        Pad(out, padding, ' ');
    out.append(text, length);
    if (conv.Left)
        Pad(out, padding, ' ');
}

// One integer conversion; `negative` and `magnitude` give the value.
void PutInteger(std::string& out, const TConversion& conv, char type, bool negative, uint64_t magnitude)
{
    const bool isSigned = type == 'd' || type == 'i';
    const unsigned base = type == 'o' ? 8 : (type == 'x' || type == 'X') ? 16 : 10;
    const char* digitsOf = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

    char digits[24];  // 64 bits in octal take 22 digits
    size_t count = 0;
    for (uint64_t v = magnitude; v != 0; v /= base)
        digits[count++] = digitsOf[v % base];

    // The precision is the least number of digits; zero printed with a
    // precision of 0 has none.
    size_t precision = conv.Precision >= 0 ? static_cast<size_t>(conv.Precision) : 1;
    size_t zeros = precision > count ? precision - count : 0;
    if (base == 8 && conv.Alternate && zeros == 0 && (count == 0 || digits[count - 1] != '0'))
        zeros = 1;

    char prefix[3];
    size_t prefixLength = 0;
    if (isSigned) {
        if (negative)
            prefix[prefixLength++] = '-';
        else if (conv.Plus)
            prefix[prefixLength++] = '+';
        else if (conv.Space)
            prefix[prefixLength++] = ' ';
    } else if (base == 16 && conv.Alternate && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = type;
    }

    size_t length = prefixLength + zeros + count;
    size_t width = conv.Width > 0 ? static_cast<size_t>(conv.Width) : 0;
    size_t padding = width > length ? width - length : 0;
    // '0' pads with zeros between the sign and the digits, unless the field
    // is left-aligned or a precision is given.
    if (conv.Zero && !conv.Left && conv.Precision < 0) {
        zeros += padding;
        padding = 0;
    }
    if (!conv.Left)
        Pad(out, padding, ' ');
    out.append(prefix, prefixLength);
    Pad(out, zeros, '0');
    while (count > 0)
        out += digits[--count];
    if (conv.Left)
        Pad(out, padding, ' ');
}

// Reads digits or '*' for a width or precision. Returns false for a number
// beyond kMaxField.
bool ReadField(const char*& p, va_list& args, int& value, bool& fromArgument)
{
    fromArgument = false;
    if (*p == '*') {
        ++p;
        value = va_arg(args, int);
        fromArgument = true;
        return value >= -kMaxField && value <= kMaxField;
    }
    value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > kMaxField)
            return false;
    }
    return true;
}

enum class TLength { Default, Char, Short, Long, LongLong, Size, Max, PtrDiff };

}  // namespace

std::string FormatTextV(const char* format, va_list source)
{
    std::string out;
    if (format == nullptr)
        return out;
    va_list args;
    va_copy(args, source);
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            const char* next = std::strchr(p, '%');
            size_t n = next ? static_cast<size_t>(next - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        TConversion conv;
        for (;; ++p) {
            if (*p == '-')
                conv.Left = true;
            else if (*p == '0')
                conv.Zero = true;
            else if (*p == '+')
                conv.Plus = true;
            else if (*p == ' ')
                conv.Space = true;
            else if (*p == '#')
                conv.Alternate = true;
            else
                break;
        }
        bool fromArgument = false;
        bool sound = ReadField(p, args, conv.Width, fromArgument);
        if (sound && conv.Width < 0) {  // a negative width from '*' means '-'
            conv.Left = true;
            conv.Width = -conv.Width;
        }
        if (sound && *p == '.') {
            ++p;
            sound = ReadField(p, args, conv.Precision, fromArgument);
            if (conv.Precision < 0)  // a negative precision from '*' means none
                conv.Precision = -1;
        }
        TLength length = TLength::Default;
        if (p[0] == 'h' && p[1] == 'h') {
            length = TLength::Char;
            p += 2;
        } else if (p[0] == 'l' && p[1] == 'l') {
            length = TLength::LongLong;
            p += 2;
        } else if (*p == 'h' || *p == 'l' || *p == 'z' || *p == 'j' || *p == 't') {
            length = *p == 'h' ? TLength::Short
                   : *p == 'l' ? TLength::Long
                   : *p == 'z' ? TLength::Size
                   : *p == 'j' ? TLength::Max
                               : TLength::PtrDiff;
            ++p;
        }
        const char type = *p;
        if (!sound || type == 0 || !std::strchr("diuoxXcs", type)) {
            // A conversion this formatter does not know (floating point, %n,
            // %p) or a damaged one: the rest of the text is copied as it
            // stands, since the arguments that follow can no longer be told
            // apart.
            out.append(start);
            break;
        }
        ++p;
        if (type == 'c') {
            char c = static_cast<char>(va_arg(args, int));
            PutField(out, conv, &c, 1);
        } else if (type == 's') {
            const char* text = va_arg(args, const char*);
            if (text == nullptr)
                text = "(null)";
            size_t n = conv.Precision >= 0 ? strnlen(text, static_cast<size_t>(conv.Precision)) : std::strlen(text);
            PutField(out, conv, text, n);
        } else if (type == 'd' || type == 'i') {
            int64_t value;
            switch (length) {
            case TLength::Char: value = static_cast<signed char>(va_arg(args, int)); break;
            case TLength::Short: value = static_cast<short>(va_arg(args, int)); break;
            case TLength::Long: value = va_arg(args, long); break;
            case TLength::LongLong: value = va_arg(args, long long); break;
            case TLength::Size: value = static_cast<int64_t>(va_arg(args, ptrdiff_t)); break;
            case TLength::Max: value = va_arg(args, intmax_t); break;
            case TLength::PtrDiff: value = va_arg(args, ptrdiff_t); break;
            default: value = va_arg(args, int); break;
            }
            uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            PutInteger(out, conv, type, value < 0, magnitude);
        } else {
            uint64_t value;
            switch (length) {
            case TLength::Char: value = static_cast<unsigned char>(va_arg(args, unsigned)); break;
            case TLength::Short: value = static_cast<unsigned short>(va_arg(args, unsigned)); break;
            case TLength::Long: value = va_arg(args, unsigned long); break;
            case TLength::LongLong: value = va_arg(args, unsigned long long); break;
            case TLength::Size: value = va_arg(args, size_t); break;
            case TLength::Max: value = va_arg(args, uintmax_t); break;
            case TLength::PtrDiff: value = static_cast<uint64_t>(va_arg(args, ptrdiff_t)); break;
            default: value = va_arg(args, unsigned); break;
            }
            PutInteger(out, conv, type, false, value);
        }
    }
    va_end(args);
    return out;
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = FormatTextV(format, args);
    va_end(args);
    return result;
}

std::string FormatSizeText(int64_t bytes, char thousands, char decimal)
{
    if (bytes == 0)
        return "None";
    if (bytes < 1024)
        return std::to_string(bytes) + "B";
    if (bytes < 1024000)
        return std::to_string(bytes / 1024) + "K";
    // Tenths of a megabyte in integers, so that a size such as 1.15M does not
    // depend on how a quotient is stored.
    const int64_t tenths = bytes / 1024000 * 10 + ((bytes % 1024000) * 10 + 512000) / 1024000;
    const std::string whole = std::to_string(tenths / 10);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            grouped += thousands;
        grouped += whole[i];
    }
    return grouped + decimal + std::to_string(tenths % 10) + "M";
}
