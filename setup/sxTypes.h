// The setup archive's stored format: counted strings, file entries and the
// archive header. Portable: the builder writes what the setup program reads.
#pragma once

#include "ovStream.h"

#include <string>

// Counted text: a 16-bit unsigned little-endian length, then that many bytes.
std::string ReadShortString(TStream& stream);
void WriteShortString(TStream& stream, const std::string& text);
