// Small text helpers shared by every layer: the ASCII case-blind comparison,
// lowering, trimming, hexadecimal digits and splitting into lines. Inline: the setup program uses them in a few places only.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

// True when a and b are the same text but for the case of the ASCII letters
// (other bytes must match exactly; the system's locale plays no part).
inline bool SameTextAscii(const char* a, size_t aLength, const char* b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}
inline bool SameTextAscii(const std::string& a, const std::string& b)
{
    return SameTextAscii(a.data(), a.size(), b.data(), b.size());
}
inline bool SameTextAscii(const std::string& a, const char* b)
{
    return SameTextAscii(a.data(), a.size(), b, std::strlen(b));
}

// The text without the blanks and control characters (bytes up to ' ') at
// either end.
inline std::string Trim(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

// The text with its ASCII capitals lowered (other bytes unchanged).
inline std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The value of a hexadecimal digit (either case); -1 for any other byte.
inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits text into lines at CR LF, CR or LF (a final line break adds no line).
// The Win32 programs call it through SplitLines of ovUtils.h, which keeps one
// out-of-line copy of it there.
inline std::vector<std::string> SplitTextLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

// Every occurrence of oldText replaced, left to right; inserted text is not
// searched again; an empty oldText changes nothing. Inline: the setup program
// calls it through ReplaceAll of the installation utilities, which keeps one
// out-of-line copy of it there.
inline std::string ReplaceText(const std::string& text, const std::string& oldText, const std::string& newText)
{
    if (oldText.empty())
        return text;
    std::string result;
    size_t start = 0;
    for (;;) {
        size_t pos = text.find(oldText, start);
        if (pos == std::string::npos)
            break;
        result.append(text, start, pos - start);
        result += newText;
        start = pos + oldText.size();
    }
    result.append(text, start, std::string::npos);
    return result;
}

// name when folder is empty; folder + name when folder ends with a backslash;
// else folder + "\" + name. Inline, like ReplaceText: the installation
// utilities' JoinPath keeps the out-of-line copy the setup program calls.
inline std::string JoinWindowsPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '\\')
        return folder + name;
    return folder + "\\" + name;
}
