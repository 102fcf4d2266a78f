// Small text helpers shared by every layer: the ASCII case-blind comparison
// and trimming.
#pragma once

#include <string>

// True when a and b are the same text but for the case of the ASCII letters
// (other bytes must match exactly; the system's locale plays no part).
bool SameTextAscii(const std::string& a, const std::string& b);
// The text without the blanks and control characters (bytes up to ' ') at
// either end.
std::string Trim(const std::string& text);
