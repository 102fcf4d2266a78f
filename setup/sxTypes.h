// The setup archive's stored format: counted strings, file entries and the
// archive header. Portable: the builder writes what the setup program reads.
#pragma once

#include "ovStream.h"

#include <string>

// A local date and time: days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// Unattended mode: set once, when the archive header is read.
extern bool SilentMode;

// Counted text: a 16-bit unsigned little-endian length, then that many bytes.
std::string ReadShortString(TStream& stream);
void WriteShortString(TStream& stream, const std::string& text);
