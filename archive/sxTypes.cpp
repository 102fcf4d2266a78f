#include "sxTypes.h"
#include "ovBytes.h"
#include "ovText.h"

#include <cstdint>
#include <algorithm>
#include <cstring>

bool SilentMode = false;

const char* const SXStringRoleNames[SXStringRoleCount] = {
    "SetupName",        // 0  caption of most dialogs; "<SetupName>"
    "ProductName",      // 1  "<ProductName>"
    "WelcomeCaption",   // 2
    "WelcomeText",      // 3  empty or ".": no welcome question
    "ProgressText",     // 4
    "FolderCaption",    // 5
    "FolderPrompt",     // 6
    "Unused7",          // 7
    "FolderCancelQuestion",  // 8  asked when the folder dialog is cancelled
    "PasswordCaption",  // 9
    "PasswordPrompt",   // 10
    "WrongPassword",    // 11
    "YesButton",        // 12
    "NoButton",         // 13
    "CancelButton",     // 14
    "OkButton",         // 15
    "Unused16",         // 16
    "Unused17",         // 17
    "Unused18",         // 18
    "Unused19",         // 19
    "LicenseText",      // 20 empty: no license step
    "NumberedFolderPattern",  // 21 format with one integer placeholder
};

const char* const SXOptionNames[12] = {
    "soPassword", "soRunCommand", "soDefaultFolder", "soNumberedFolder",
    "soAskFolder", "soDeleteTempFiles", "soWaitForCommand", "soDialogLibrary",
    "soClientLibrary", "soUninstall", "soNoFinalMessage", "soSilent",
};

int SXStringRoleIndex(const std::string& name)
{
    for (int i = 0; i < SXStringRoleCount; ++i)
        if (SameTextAscii(name, SXStringRoleNames[i]))
            return i;
    return -1;
}

std::string ReadShortString(TStream& stream)
{
    uint8_t len[2];
    stream.ReadBuffer(len, 2);
    uint16_t n = GetLE16(len);
    std::string text(n, '\0');
    if (n)
        stream.ReadBuffer(&text[0], n);
    return text;
}

void WriteShortString(TStream& stream, const std::string& text)
{
    if (text.size() > 0xFFFF)
        throw EStreamError("Text too long for a counted string");
    uint8_t len[2];
    PutLE16(len, static_cast<uint16_t>(text.size()));
    stream.WriteBuffer(len, 2);
    if (!text.empty())
        stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

// Little-endian field helpers: read and written byte by byte, never as structs.
namespace {

uint8_t ReadU8(TStream& s)
{
    uint8_t b;
    s.ReadBuffer(&b, 1);
    return b;
}

uint16_t ReadU16(TStream& s)
{
    uint8_t b[2];
    s.ReadBuffer(b, 2);
    return GetLE16(b);
}

uint32_t ReadU32(TStream& s)
{
    uint8_t b[4];
    s.ReadBuffer(b, 4);
    return GetLE32(b);
}

double ReadDouble(TStream& s)
{
    uint8_t b[8];
    s.ReadBuffer(b, 8);
    uint64_t bits = GetLE64(b);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

void WriteU8(TStream& s, uint8_t v) { s.WriteBuffer(&v, 1); }

void WriteU16(TStream& s, uint16_t v)
{
    uint8_t b[2];
    PutLE16(b, v);
    s.WriteBuffer(b, 2);
}

void WriteU32(TStream& s, uint32_t v)
{
    uint8_t b[4];
    PutLE32(b, v);
    s.WriteBuffer(b, 4);
}

void WriteDouble(TStream& s, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    uint8_t b[8];
    PutLE64(b, bits);
    s.WriteBuffer(b, 8);
}

// Raised inside LoadFromStream for a damaged archive; caught there.
class EArchiveFormat : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A count of items, each at least minSize bytes, must fit in what remains.
void CheckFits(TStream& s, int64_t count, int64_t minSize, const char* what)
{
    if (count < 0)
        throw EArchiveFormat(FormatText("Negative %s count", what));
    int64_t left = 0;
    try {
        left = s.GetSize() - s.GetPosition();
    } catch (const Exception&) {
        return;  // size unknown: the reads themselves detect the end
    }
    if (count * minSize > left)
        throw EArchiveFormat(FormatText("The %s count does not fit in the archive", what));
}

std::vector<std::string> ReadTexts(TStream& s, int64_t count, const char* what)
{
    CheckFits(s, count, 2, what);
    std::vector<std::string> list;
    list.reserve(static_cast<size_t>(std::min<int64_t>(count, 4096)));
    for (int64_t i = 0; i < count; ++i)
        list.push_back(ReadShortString(s));
    return list;
}

void WriteTexts(TStream& s, const std::vector<std::string>& list)
{
    for (const std::string& text : list)
        WriteShortString(s, text);
}

}  // namespace

std::string SXStoredNameError(const std::string& name)
{
    if (name.empty())
        return "empty name";
    if (name[0] == '\\' || name[0] == '/')
        return "absolute name";
    for (unsigned char c : name) {
        if (c == 0)
            return "name holds a zero byte";
        if (c < 0x20)
            return "name holds a control character";
        if (c == ':')
            return "name with a drive or a stream (':')";
        if (std::strchr("<>\"|?*", c))
            return FormatText("name holds the character '%c'", c);
    }
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        if (part.empty())
            return "empty part (doubled or trailing separator)";
        if (part == "." || part == "..")
            return "'" + part + "' part";
        if (part.back() == '.' || part.back() == ' ')
            return "part '" + part + "' ends in a dot or a blank";
        // A device name is reserved with any extension: "con.txt" is CON.
        std::string base = part.substr(0, part.find('.'));
        while (!base.empty() && base.back() == ' ')
            base.pop_back();
        for (char& c : base)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        bool device = false;
        for (const char* d : kDevices)
            device = device || base == d;
        // COM1-COM9 and LPT1-LPT9, and with the superscript digits 1, 2, 3 of
        // the Windows code page (0xB9, 0xB2, 0xB3), which Windows reserves too.
        if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
            unsigned char d = static_cast<unsigned char>(base[3]);
            device = (d >= '1' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
        }
        if (device)
            return "reserved device name '" + part + "'";
        start = end + 1;
    }
    return "";
}

TFileInfo ReadFileInfo(TStream& stream)
{
    TFileInfo f;
    f.Name = ReadShortString(stream);
    f.Compressed = ReadU8(stream) != 0;
    f.Size = static_cast<int32_t>(ReadU32(stream));
    f.PlainSize = static_cast<int32_t>(ReadU32(stream));
    f.StoredSize = static_cast<int32_t>(ReadU32(stream));
    f.FolderIndex = static_cast<int32_t>(ReadU32(stream));
    return f;
}

void WriteFileInfo(TStream& stream, const TFileInfo& f)
{
    WriteShortString(stream, f.Name);
    WriteU8(stream, f.Compressed ? 1 : 0);
    WriteU32(stream, static_cast<uint32_t>(f.Size));
    WriteU32(stream, static_cast<uint32_t>(f.PlainSize));
    WriteU32(stream, static_cast<uint32_t>(f.StoredSize));
    WriteU32(stream, static_cast<uint32_t>(f.FolderIndex));
}

// ---------------------------------------------------------------- TSXHeader

TSXHeader::~TSXHeader() = default;

void TSXHeader::SaveToStream(TStream&) {}

void TSXHeader::LoadExtra(TStream&) {}

void TSXHeader::Clear()
{
    Files.clear();
}

int64_t TSXHeader::Remaining(TStream& stream)
{
    try {
        return stream.GetSize() - stream.GetPosition();
    } catch (const Exception&) {
        return -1;
    }
}

bool TSXHeader::LoadFromStream(TStream& stream)
{
    try {
        Clear();
        Options = ReadU16(stream);
        CheckLength = static_cast<int16_t>(ReadU16(stream));
        // The header object keeps 130 check bytes and the check uses 128: a
        // longer or negative block can only come from a damaged archive.
        if (CheckLength < 0 || CheckLength > SXMaxCheckLength)
            throw EArchiveFormat("Password check block too long");
        std::memset(CheckBlock, 0, sizeof CheckBlock);
        if (CheckLength > 0)
            stream.ReadBuffer(CheckBlock, CheckLength);
        FileCount = static_cast<int16_t>(ReadU16(stream));
        if (FileCount > 0) {
            CheckFits(stream, FileCount, SXMinFileInfoSize, "file");
            Files.reserve(static_cast<size_t>(FileCount));
            for (int i = 0; i < FileCount; ++i) {
                TFileInfo f = ReadFileInfo(stream);
                if (f.Size < 0 || f.PlainSize < 0 || f.StoredSize < 0)
                    throw EArchiveFormat("Negative file size");
                Files.push_back(std::move(f));
            }
        }
        SilentMode = (Options & soSilent) != 0;
        // A name that leaves its folder makes the archive damaged: refused
        // here, before any file is written (and once the run knows whether
        // it is unattended, so the error goes where its errors go).
        for (const TFileInfo& f : Files)
            if (!SXStoredNameError(f.Name).empty())
                throw EArchiveFormat("Bad file name");
        LoadExtra(stream);
        // The stored data of every file follow the string table: their sum
        // cannot exceed what is left.
        int64_t left = Remaining(stream);
        if (left >= 0) {
            int64_t stored = 0;
            for (const TFileInfo& f : Files)
                stored += f.StoredSize;
            if (stored > left)
                throw EArchiveFormat("File data beyond the end of the archive");
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TSXHeader::SaveBaseToStream(TStream& stream)
{
    if (CheckLength < 0 || CheckLength > SXMaxCheckLength)
        throw EStreamError("Password check block too long");
    if (Files.size() > 0x7FFF)
        throw EStreamError("Too many files for one archive (at most 32767)");
    FileCount = static_cast<int16_t>(Files.size());
    WriteU16(stream, Options);
    WriteU16(stream, static_cast<uint16_t>(CheckLength));
    if (CheckLength > 0)
        stream.WriteBuffer(CheckBlock, CheckLength);
    WriteU16(stream, static_cast<uint16_t>(FileCount));
    for (const TFileInfo& f : Files)
        WriteFileInfo(stream, f);
}

void TSXHeader::SaveAllToStream(TStream& stream)
{
    SaveBaseToStream(stream);
    SaveToStream(stream);
}

// -------------------------------------------------------------- TSXHeaderSL

void TSXHeaderSL::SaveToStream(TStream& stream)
{
    if (Components.size() > 0xFFFF || ComponentInf.size() > 0xFFFF)
        throw EStreamError("Too many component texts (at most 65535)");
    if (Folders.size() > 0x7FFFFFFF || PreviousProducts.size() > 0x7FFFFFFF)
        throw EStreamError("Too many folder texts");
    WriteU16(stream, static_cast<uint16_t>(TempFolderIndex));
    WriteU16(stream, static_cast<uint16_t>(ScriptFileIndex));
    WriteShortString(stream, DefaultFolder);
    WriteShortString(stream, Command);
    WriteShortString(stream, Parameters);
    FolderCount = static_cast<int32_t>(Folders.size());
    WriteU32(stream, static_cast<uint32_t>(FolderCount));
    WriteTexts(stream, Folders);
    PreviousProductCount = static_cast<int32_t>(PreviousProducts.size());
    WriteU32(stream, static_cast<uint32_t>(PreviousProductCount));
    WriteTexts(stream, PreviousProducts);
    WriteU32(stream, RegisteredFolders);
    WriteShortString(stream, UninstallFolder);
    WriteShortString(stream, UninstallIcon);
    WriteShortString(stream, AfterUninstall);
    WriteShortString(stream, AfterUninstallParamString);
    WriteU16(stream, static_cast<uint16_t>(Components.size()));
    WriteTexts(stream, Components);
    WriteU16(stream, static_cast<uint16_t>(ComponentInf.size()));
    WriteTexts(stream, ComponentInf);
    WriteU8(stream, StampDate ? 1 : 0);
    WriteDouble(stream, FileDate);
    WriteU8(stream, KeepCopy ? 1 : 0);
    if (KeepCopy) {
        WriteShortString(stream, CopyPath);
        WriteShortString(stream, CopyKey);
    }
}

void TSXHeaderSL::LoadExtra(TStream& stream)
{
    TempFolderIndex = static_cast<int16_t>(ReadU16(stream));
    ScriptFileIndex = static_cast<int16_t>(ReadU16(stream));
    DefaultFolder = ReadShortString(stream);
    Command = ReadShortString(stream);
    Parameters = ReadShortString(stream);
    FolderCount = static_cast<int32_t>(ReadU32(stream));
    Folders = ReadTexts(stream, FolderCount, "folder");
    if (MacroExpander)
        for (std::string& folder : Folders)
            folder = MacroExpander(folder);
    PreviousProductCount = static_cast<int32_t>(ReadU32(stream));
    PreviousProducts = ReadTexts(stream, PreviousProductCount, "previous product");
    RegisteredFolders = ReadU32(stream);
    UninstallFolder = ReadShortString(stream);
    UninstallIcon = ReadShortString(stream);
    AfterUninstall = ReadShortString(stream);
    AfterUninstallParamString = ReadShortString(stream);
    Components = ReadTexts(stream, ReadU16(stream), "component");
    ComponentInf = ReadTexts(stream, ReadU16(stream), "component INF line");
    StampDate = ReadU8(stream) != 0;
    FileDate = ReadDouble(stream);
    KeepCopy = ReadU8(stream) != 0;
    if (KeepCopy) {
        CopyPath = ReadShortString(stream);
        CopyKey = ReadShortString(stream);
    } else {
        CopyPath.clear();
        CopyKey.clear();
    }
}

void TSXHeaderSL::Clear()
{
    Components.clear();
    ComponentInf.clear();
    TSXHeader::Clear();
}
