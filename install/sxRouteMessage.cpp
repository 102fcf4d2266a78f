// The run-log side of RouteMessage, out of line so that no call site builds
// the strings of the tag and of a literal text.
#include "sxUtils.h"

void LogRouted(int32_t severity, const char* tag, const std::string& text)
{
    LogMessage(severity, tag, text);
}

void LogRouted(int32_t severity, const char* tag, const char* text)
{
    LogMessage(severity, tag, text);
}
