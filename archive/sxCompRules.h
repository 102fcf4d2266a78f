// The portable rules of the component setup: version texts and when a present
// file satisfies a required version, which component names are acceptable,
// the check of a component INF text (used by the builder), and the texts of
// the download page. No windows.h: tested natively, used by the setup program
// and by the builder alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A file version: major, minor, release, build.
struct TCompVersion {
    uint16_t Major = 0;
    uint16_t Minor = 0;
    uint16_t Release = 0;
    uint16_t Build = 0;
};

// Parses a version text: split at the first three dots into four parts (the
// fourth is the rest of the text, at most 255 characters), each a decimal
// integer (optional leading blanks and sign) kept as a 16-bit number. A text
// with fewer than three dots gives 0.0.0.0. Raises EConvertError ("'%s' is
// not a valid integer value") for a part that is not a number.
TCompVersion ParseCompVersion(const std::string& text);

// True when a present version satisfies a required one: a present major of 0
// (no version information) satisfies anything; otherwise the present version
// must not be lower in the order major, minor, release, build.
bool CompVersionSatisfies(const TCompVersion& present, const TCompVersion& required);

// Whether one file of a component counts as installed. version is the text
// after the comma of its File<N> line (empty for none). exists and
// readVersion are asked only when the rules need them; readVersion answers
// 0.0.0.0 for a file without version information.
//   "0.0.0.0" exactly: never installed.
//   an ".inf" path (any case): installed, not looked for.
//   no such file: not installed.  No version required: installed.
//   otherwise CompVersionSatisfies(present, ParseCompVersion(version)).
bool IsCompFileInstalled(const std::string& path, const std::string& version,
                         const std::function<bool(const std::string&)>& exists,
                         const std::function<TCompVersion(const std::string&)>& readVersion);

// True when the extension of path (after the last dot of the last name) is
// ".inf" without regard to case.
bool HasInfExtension(const std::string& path);

// A component name becomes part of a file name in the temporary folder: it
// must be a plain file name. False for an empty name and for one that holds
// "\", "/", ":" or "..".
bool IsPlainComponentName(const std::string& name);

// The most File<N> lines one component may list; a larger FileCount is
// damaged data (it would make the setup allocate without bound).
constexpr int32_t MaxComponentFiles = 4096;

// Checks the component INF text of a setup project for the components in
// names, the way the setup program will read it (sections and keys without
// regard to case, the first of equal keys wins). Returns one message per
// problem, each beginning with "line N: " when it belongs to a line:
// a name that is not plain, a component without section, a key the setup
// does not know, a FileCount or WebSize that is not a number, a File<N>
// version the setup cannot parse, a WebSHA256 that is not 64 hex digits.
std::vector<std::string> CheckComponentInf(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& names);

// ---- The download page --------------------------------------------------------

extern const char* const DownloadPageFileName;  // "Download Components.htm"

// One row of the page's table.
std::string DownloadPageRow(const std::string& name, const std::string& sizeText, const std::string& address);
// The whole file: the page with "%PRODUCT%" replaced by product first, then
// "%LIST%" by rows, followed by CR LF.
std::string DownloadPageText(const std::string& product, const std::string& rows);

// ---- Texts of the download dialog -----------------------------------------------

// "The total size is <size>. Download time for 28.8 BPS modem is <duration>".
std::string DownloadStatusText(const std::string& sizeText, const std::string& durationText);
// Seconds the estimate gives for total bytes: 3,600 bytes a second, truncated.
int32_t DownloadSeconds(int32_t totalBytes);
