// Version resources of files, read through the system's version library.
//
// The version library is not one the system always takes from its own
// folder, so the programs do not import it (an import is resolved before the
// program runs, when a copy beside the program would win): it is loaded by
// full path from the system folder on first use.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Reads the whole version resource of the file into block. False when the
// file has none, when it cannot be read, when the resource is larger than
// 1 MB, or when the version library is not available.
bool ReadVersionBlock(const std::string& fileName, std::vector<char>& block);
// VerQueryValueA on a block read by ReadVersionBlock; false when the value is
// missing or empty.
bool QueryVersionValue(std::vector<char>& block, const char* subBlock, void** data, UINT* length);
