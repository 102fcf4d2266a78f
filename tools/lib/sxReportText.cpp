#include "sxReportText.h"

#include <cstdio>
#include <vector>

void AppendLineV(std::string& text, const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, format, args);
    if (n >= static_cast<int>(sizeof small)) {
        std::vector<char> large(static_cast<size_t>(n) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text.append(large.data(), static_cast<size_t>(n));
    } else if (n > 0) {
        text.append(small, static_cast<size_t>(n));
    }
    va_end(again);
    text += '\n';
}

void AppendLine(std::string& text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AppendLineV(text, format, args);
    va_end(args);
}
