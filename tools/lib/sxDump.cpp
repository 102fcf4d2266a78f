#include "sxDump.h"

#include "sxArchiveWriter.h"
#include "sxPEFile.h"
#include "sxProject.h"
#include "sxReportText.h"
#include "sxTypes.h"

#include "ovBlowFish.h"
#include "ovFileBytes.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// Shows a text on one line: control characters escaped.
std::string Shown(const std::string& s, size_t limit = 200)
{
    std::string r = "\"";
    for (size_t i = 0; i < s.size(); ++i) {
        if (i == limit) {
            r += "...";
            break;
        }
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"') r += "\\\"";
        else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            r += b;
        } else r += static_cast<char>(c);
    }
    return r + "\"";
}

}  // namespace

std::vector<uint8_t> ExtractArchiveBytes(const std::vector<uint8_t>& file, std::string& what)
{
    if (!TPEFile::IsPEImage(file)) {
        what = "archive";
        return file;
    }
    what = "setup program";
    TPEFile pe;
    pe.LoadFromBytes(file);
    const TResEntry* e = pe.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"));
    if (!e)
        throw EPEFormat("The program carries no SX_STORAGE resource");
    return e->Data;
}

namespace {

// Reads the header (the loader's silent mode left as it was); a damaged one
// is said in the text.
bool LoadHeader(TStream& s, TSXHeaderSL& h, std::string& text)
{
    bool savedSilent = SilentMode;
    bool ok = h.LoadFromStream(s);
    SilentMode = savedSilent;
    if (!ok)
        AppendLine(text, "Invalid file format: the archive header is damaged or truncated.");
    return ok;
}

// The header's fields, one a line.
void DumpHeader(const TSXHeaderSL& h, std::string& text)
{
    std::string opts;
    for (int b = 0; b < 12; ++b)
        if (h.Options & (1u << b))
            opts += std::string(" ") + SXOptionNames[b];
    if (h.Options & ~soAllOptions)
        opts += " (unknown bits)";
    AppendLine(text, "Options: 0x%04X%s", h.Options, opts.c_str());
    AppendLine(text, "CheckLength: %d", h.CheckLength);
    AppendLine(text, "FileCount: %d", h.FileCount);
    AppendLine(text, "TempFolderIndex: %d", h.TempFolderIndex);
    AppendLine(text, "ScriptFileIndex: %d", h.ScriptFileIndex);
    AppendLine(text, "DefaultFolder: %s", Shown(h.DefaultFolder).c_str());
    AppendLine(text, "Command: %s", Shown(h.Command).c_str());
    AppendLine(text, "Parameters: %s", Shown(h.Parameters).c_str());
    AppendLine(text, "Folders: %d", h.FolderCount);
    for (size_t i = 0; i < h.Folders.size(); ++i)
        AppendLine(text, "  [%u] %s%s", static_cast<unsigned>(i), Shown(h.Folders[i]).c_str(),
             (i < 32 && (h.RegisteredFolders >> i) & 1) ? " (registered)" : "");
    AppendLine(text, "RegisteredFolders: 0x%08X", h.RegisteredFolders);
    AppendLine(text, "PreviousProducts: %d", h.PreviousProductCount);
    for (const std::string& p : h.PreviousProducts)
        AppendLine(text, "  %s", Shown(p).c_str());
    AppendLine(text, "UninstallFolder: %s", Shown(h.UninstallFolder).c_str());
    AppendLine(text, "UninstallIcon: %s", Shown(h.UninstallIcon).c_str());
    AppendLine(text, "AfterUninstall: %s", Shown(h.AfterUninstall).c_str());
    AppendLine(text, "AfterUninstallParamString: %s", Shown(h.AfterUninstallParamString).c_str());
    AppendLine(text, "Components: %u", static_cast<unsigned>(h.Components.size()));
    for (const std::string& c : h.Components)
        AppendLine(text, "  %s", Shown(c).c_str());
    AppendLine(text, "ComponentInf: %u lines", static_cast<unsigned>(h.ComponentInf.size()));
    for (const std::string& c : h.ComponentInf)
        AppendLine(text, "  %s", Shown(c).c_str());
    AppendLine(text, "StampDate: %d", h.StampDate ? 1 : 0);
    AppendLine(text, "FileDate: %.8f (%s)", h.FileDate, FormatDateTime(h.FileDate).c_str());
    AppendLine(text, "KeepCopy: %d", h.KeepCopy ? 1 : 0);
    if (h.KeepCopy) {
        AppendLine(text, "CopyPath: %s", Shown(h.CopyPath).c_str());
        AppendLine(text, "CopyKey: %s", Shown(h.CopyKey).c_str());
    }
}

// The string table with the role of each line; answers its lines.
std::vector<std::string> DumpStrings(const std::string& table, std::string& text)
{
    std::vector<std::string> lines = SplitStringTable(table);
    AppendLine(text, "Strings: %u lines", static_cast<unsigned>(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i)
        AppendLine(text, "  %2u %-22s %s", static_cast<unsigned>(i),
             i < static_cast<size_t>(SXStringRoleCount) ? SXStringRoleNames[i] : "-", Shown(lines[i]).c_str());
    return lines;
}

// The file entries; answers the sum of their stored sizes.
int64_t DumpEntries(const TSXHeaderSL& h, std::string& text)
{
    AppendLine(text, "Files:");
    AppendLine(text, "  %4s %-4s %10s %10s %10s %6s  %s", "#", "Zip", "Size", "PlainSize", "StoredSize", "Folder", "Name");
    int64_t stored = 0;
    for (size_t i = 0; i < h.Files.size(); ++i) {
        const TFileInfo& f = h.Files[i];
        AppendLine(text, "  %4u %-4s %10d %10d %10d %6d  %s", static_cast<unsigned>(i), f.Compressed ? "yes" : "no", f.Size,
             f.PlainSize, f.StoredSize, f.FolderIndex, Shown(f.Name).c_str());
        stored += f.StoredSize;
    }
    return stored;
}

// Decodes every entry (after the password check); false at the first that
// does not decode to its size.
bool VerifyEntries(const std::vector<uint8_t>& archive, const TSXHeaderSL& h, int64_t dataStart,
                   const std::string& password, std::string& text)
{
    if ((h.Options & soPassword) && password.empty()) {
        AppendLine(text, "Verify: the archive has a password; give it with --password.");
        return false;
    }
    if (h.Options & soPassword) {
        uint8_t block[SXMaxCheckLength + 8] = {};
        std::copy(h.CheckBlock, h.CheckBlock + h.CheckLength, block);
        DecryptBuffer(block, h.CheckLength, password);
        if (std::string(reinterpret_cast<char*>(block)) != password) {
            AppendLine(text, "Verify: wrong password.");
            return false;
        }
    }
    int64_t at = dataStart;
    for (size_t i = 0; i < h.Files.size(); ++i) {
        const TFileInfo& f = h.Files[i];
        try {
            DecodeStoredData(archive.data() + at, static_cast<size_t>(f.StoredSize), f,
                             (h.Options & soPassword) ? password : std::string());
        } catch (const Exception& e) {
            AppendLine(text, "Verify: file %u %s: %s", static_cast<unsigned>(i), Shown(f.Name).c_str(),
                 e.message().c_str());
            return false;
        }
        at += f.StoredSize;
    }
    AppendLine(text, "Verify: all %u files decode to their sizes.", static_cast<unsigned>(h.Files.size()));
    return true;
}

}  // namespace

bool DumpArchive(const std::vector<uint8_t>& archive, std::string& text, bool verify, const std::string& password)
{
    TReadOnlyMemoryStream s(archive.data(), static_cast<int64_t>(archive.size()));
    TSXHeaderSL h;
    if (!LoadHeader(s, h, text))
        return false;
    int64_t headerBytes = s.GetPosition();
    std::string table;
    try {
        table = ReadShortString(s);
    } catch (const Exception&) {
        AppendLine(text, "Invalid file format: the string table is truncated.");
        return false;
    }
    int64_t tableBytes = s.GetPosition() - headerBytes;

    DumpHeader(h, text);
    std::vector<std::string> lines = DumpStrings(table, text);
    int64_t stored = DumpEntries(h, text);
    int64_t sum = headerBytes + tableBytes + stored;
    bool sizeOk = sum == static_cast<int64_t>(archive.size());
    AppendLine(text, "Sizes: header %lld + string table %lld + stored data %lld = %lld; archive %lld bytes: %s",
         static_cast<long long>(headerBytes), static_cast<long long>(tableBytes), static_cast<long long>(stored),
         static_cast<long long>(sum), static_cast<long long>(archive.size()), sizeOk ? "OK" : "MISMATCH");
    if (lines.empty() || table.find_first_not_of("\r\n") == std::string::npos) {
        AppendLine(text, "Invalid file format: the string table is empty.");
        return false;
    }
    if (!sizeOk)
        return false;
    if (verify)
        return VerifyEntries(archive, h, headerBytes + tableBytes, password, text);
    return true;
}

namespace {

// A setup program or a bare archive, whole.
std::vector<uint8_t> ReadSetupFile(const std::string& fileName)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(fileName, kWholeFileLimit, bytes))
        throw EStreamError(fileName + " is too large");
    return bytes;
}

}  // namespace

bool DumpFile(const std::string& fileName, std::string& text, bool verify, const std::string& password)
{
    std::vector<uint8_t> bytes = ReadSetupFile(fileName);
    std::string what;
    std::vector<uint8_t> archive;
    if (TPEFile::IsPEImage(bytes)) {
        TPEFile pe;
        pe.LoadFromBytes(std::move(bytes));
        what = "setup program";
        const TResEntry* e = pe.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"));
        if (!e)
            throw EPEFormat(fileName + ": the program carries no SX_STORAGE resource");
        AppendLine(text, "File: %s (setup program; SX_STORAGE %u bytes)", fileName.c_str(),
             static_cast<unsigned>(e->Data.size()));
        for (const char* lib : {"DIALOGS", "CLIENT_DLL"})
            if (const TResEntry* l = pe.Find(TResId(RT_RCDATA_ID), TResId(lib)))
                AppendLine(text, "Resource %s: %u bytes (zlib stream)", lib, static_cast<unsigned>(l->Data.size()));
        archive = e->Data;
    } else {
        AppendLine(text, "File: %s (bare archive, %u bytes)", fileName.c_str(), static_cast<unsigned>(bytes.size()));
        archive.swap(bytes);
    }
    return DumpArchive(archive, text, verify, password);
}

bool ListArchive(const std::vector<uint8_t>& archive, std::string& text)
{
    TReadOnlyMemoryStream s(archive.data(), static_cast<int64_t>(archive.size()));
    TSXHeaderSL h;
    if (!LoadHeader(s, h, text))
        return false;
    for (const TFileInfo& f : h.Files) {
        std::string folder = f.FolderIndex >= 0 && static_cast<size_t>(f.FolderIndex) < h.Folders.size()
                                 ? h.Folders[static_cast<size_t>(f.FolderIndex)]
                                 : "<target>";
        AppendLine(text, "%10d  %s\\%s", f.Size, folder.c_str(), f.Name.c_str());
    }
    return true;
}

std::vector<uint8_t> ReadArchiveFile(const std::string& fileName)
{
    std::vector<uint8_t> bytes = ReadSetupFile(fileName);
    std::string what;
    return ExtractArchiveBytes(bytes, what);
}
