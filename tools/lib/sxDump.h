// The builder's inspection of a setup: the archive header, the string table
// with the role names and the file entries of a setup program (its
// "SX_STORAGE" resource) or of a bare archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Finds the archive in the bytes of a file: the "SX_STORAGE" resource of a PE
// image, or the bytes themselves. Fills what ("setup program" / "archive").
// Raises EPEFormat for an image without that resource.
std::vector<uint8_t> ExtractArchiveBytes(const std::vector<uint8_t>& file, std::string& what);

// Writes the dump of an archive into text. With verify, every file's stored
// data are decoded (password needed for a password archive) and checked
// against its entry. Returns false when the archive is damaged (the text
// then says where).
bool DumpArchive(const std::vector<uint8_t>& archive, std::string& text, bool verify = false,
                 const std::string& password = std::string());

// The short form: one line per file, "size  folder\name" (the folder as
// stored, "<target>" for the target folder). False when damaged.
bool ListArchive(const std::vector<uint8_t>& archive, std::string& text);

// Reads the archive of a setup program or the bytes of a bare archive.
std::vector<uint8_t> ReadArchiveFile(const std::string& fileName);

// Reads a setup program or bare archive from disk and dumps it; the
// resources "DIALOGS" and "CLIENT_DLL", when present, are listed too.
bool DumpFile(const std::string& fileName, std::string& text, bool verify = false,
              const std::string& password = std::string());
