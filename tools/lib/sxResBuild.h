// Resources the builder makes from project data: the program icon (from an
// .ico file) and the version information block.
#pragma once

#include "sxPEFile.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Replaces the image's first icon group (and the icon images it names) by
// the images of an .ico file, keeping the group's name and language.
// Raises EPEFormat when the .ico bytes are damaged.
void ReplaceIcon(TPEFile& pe, const std::vector<uint8_t>& icoFile);

// Replaces the version information (type 16, id 1). Texts of strings not
// given keep the values of the image's own block when it has one; the
// numbers a.b.c.d go into the fixed part.
void ReplaceVersionInfo(TPEFile& pe, const uint16_t fileVersion[4], const uint16_t productVersion[4],
                        const std::vector<std::pair<std::string, std::string>>& strings);

// The string values of a version information block ("CompanyName" ...),
// and its fixed file version; for the dump and the tests.
std::vector<std::pair<std::string, std::string>> ReadVersionStrings(const std::vector<uint8_t>& block,
                                                                    uint16_t fileVersion[4]);
