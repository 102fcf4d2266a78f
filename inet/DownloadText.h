// Texts and numbers of the package download that need no system calls: the
// percent of a transfer, the sizes and progress texts, and the name of a
// downloaded package. Portable, so that the host's tests check them too.
#pragma once

#include <cstdint>
#include <string>

// total * 100 / size, worked out in 64 bits so that packages past 21 MB never
// show a negative percent. Above 100 when more arrived than the size said;
// 0 for a size of 0 or below; never above INT32_MAX.
int32_t DownloadPercent(int64_t total, int32_t size);

// The second progress text: "%42 Done (1.5M)" - the percent sign first, then
// the number, then " Done (", the formatted size and ")".
std::string DownloadDoneText(int32_t percent, const std::string& formattedSize);

// True for a name that can stand alone in a folder: not empty, not "." or
// "..", no path separator, drive colon, wildcard or other character that the
// system refuses in a file name, no control character, no trailing dot or
// blank.
bool IsPlainFileName(const std::string& name);

// The file-name extension of a package URL, with its dot: the part of the
// last path segment (query and fragment removed) from its last dot on.
// Empty when the segment has no extension, or when what follows the dot
// holds anything but letters, digits, "_" and "-", or is longer than 16.
std::string UrlFileExtension(const std::string& url);

// folder + name + UrlFileExtension(url): where a downloaded package goes.
// Empty when name is not a plain file name, so nothing is ever written
// outside folder.
std::string PackageFileName(const std::string& folder, const std::string& name, const std::string& url);
