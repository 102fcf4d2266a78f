// Line-by-line text of the builder's reports (the dump and the plan).
#pragma once

#include <cstdarg>
#include <string>

// Appends one printf-formatted line and a line break to text, however long
// the line is (the C library's formatter: the reports print dates as
// fractional days).
void AppendLine(std::string& text, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void AppendLineV(std::string& text, const char* format, va_list args);
