// The setup archive's stored format: counted strings, file entries and the
// archive header. Portable: the builder writes what the setup program reads.
//
// The archive ("SX_STORAGE") is one sequential byte stream, all integers
// little-endian, counted texts = 16-bit unsigned length + that many bytes:
//
//   TSXHeader (fields 1-5)
//     Options            u16   option bits (so...)
//     CheckLength        i16   bytes of the password check block (0..128)
//     CheckBlock         CheckLength bytes
//     FileCount          i16   file entries that follow (<= 0: none)
//     FileCount x TFileInfo:
//       Name             counted text
//       Compressed       u8    non-zero: stored data are a zlib stream
//       Size             i32   plain length of the file
//       PlainSize        i32   deciphered length when there is a password, else 0
//       StoredSize       i32   bytes of this file in the data area
//       FolderIndex      i32   index into Folders; -1 = target folder
//   TSXHeaderSL (fields 6-28)
//     TempFolderIndex    i16,  ScriptFileIndex i16
//     DefaultFolder, Command, Parameters          counted texts
//     folder count       i32,  Folders            counted texts
//     previous count     i32,  PreviousProducts   counted texts
//     RegisteredFolders  u32   bit k: folder k is recorded for uninstall
//     UninstallFolder, UninstallIcon, AfterUninstall, AfterUninstallParamString
//     component count    u16,  Components         counted texts
//     INF line count     u16,  ComponentInf       counted texts
//     StampDate          u8,   FileDate           64-bit IEEE double
//     KeepCopy           u8;   CopyPath, CopyKey  (counted texts, only when KeepCopy)
//   string table         counted text, lines joined by CR LF
//   file data            StoredSize bytes of each file, in entry order
//
// The stored bytes of a file: the plain data, zlib-compressed (RFC 1950,
// window bits 15) when Compressed is set; then, with a password, zero-padded
// to whole 8-byte blocks and Blowfish-CBC enciphered from a zero chain
// (StoredSize = padded length, PlainSize = length before padding).
#pragma once

#include "ovClass.h"  // TDateTime
#include "ovStream.h"
#include "ovText.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Unattended mode: set once, when the archive header is read.
extern bool SilentMode;

// Counted text: a 16-bit unsigned little-endian length, then that many bytes.
std::string ReadShortString(TStream& stream);
void WriteShortString(TStream& stream, const std::string& text);

// The string table as stored: its lines joined by CR LF. Read back, it splits
// at CR LF, CR or LF, and a final line break adds no line. Inline: the setup
// program only reads the table and must not carry the writer's half.
inline std::string JoinStringTable(const std::vector<std::string>& lines)
{
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i)
            text += "\r\n";
        text += lines[i];
    }
    return text;
}
inline std::vector<std::string> SplitStringTable(const std::string& table) { return SplitTextLines(table); }

// Option bits of TSXHeader::Options. Bits 0x1000-0x8000 are not used.
enum : uint16_t {
    soPassword = 0x0001,         // stored data are enciphered; ask for the password
    soRunCommand = 0x0002,       // run or open Command after extraction
    soDefaultFolder = 0x0004,    // start from DefaultFolder
    soNumberedFolder = 0x0008,   // add a numbered subfolder after the folder dialog
    soAskFolder = 0x0010,        // ask for the target folder
    soDeleteTempFiles = 0x0020,  // delete the files of TempFolderIndex at the end
    soWaitForCommand = 0x0040,   // start Command as a process and wait for it
    soDialogLibrary = 0x0080,    // the module carries "DIALOGS"
    soClientLibrary = 0x0100,    // the module carries "CLIENT_DLL"
    soUninstall = 0x0200,        // register the product for uninstall
    soNoFinalMessage = 0x0400,   // no final "Setup completed." / "Setup aborted."
    soSilent = 0x0800,           // unattended mode with run log
};
constexpr uint16_t soAllOptions = 0x0FFF;

// Limits of the format.
constexpr int SXMaxCheckLength = 128;   // check bytes that take part in the check
constexpr int SXCheckBlockSize = 130;   // room of TSXHeader::CheckBlock
constexpr int SXMinFileInfoSize = 2 + 1 + 4 * 4;  // a file entry with an empty name

// The string-table lines by role (their names: SXStringRoleNames).
enum TSXStringIndex : int {
    sxsSetupName = 0,
    sxsProductName = 1,
    sxsWelcomeCaption = 2,
    sxsWelcomeText = 3,
    sxsProgressText = 4,
    sxsFolderCaption = 5,
    sxsFolderPrompt = 6,
    sxsExitQuestion = 8,
    sxsPasswordCaption = 9,
    sxsPasswordPrompt = 10,
    sxsWrongPassword = 11,
    sxsYes = 12,
    sxsNo = 13,
    sxsCancel = 14,
    sxsOK = 15,
    sxsLicenseText = 20,
    sxsNumberedFolder = 21,
};

// Number of string-table lines the setup steps know by role.
constexpr int SXStringRoleCount = 22;
// Role names of the string-table lines 0..21 ("SetupName", "ProductName", ...),
// used by the project file and by the builder's dump. Lines 7 and 16-19 are
// present in the table but read by no step ("Unused7", "Unused16", ...).
extern const char* const SXStringRoleNames[SXStringRoleCount];
// The index of a role name (case-insensitive), or -1.
int SXStringRoleIndex(const std::string& name);

// The names of the option bits, lowest bit first ("soPassword", ...).
extern const char* const SXOptionNames[12];

// One file of the archive.
struct TFileInfo {
    std::string Name;         // relative file name, joined to its folder
    bool Compressed = false;  // stored data are a zlib stream
    int32_t Size = 0;         // plain length of the file
    int32_t PlainSize = 0;    // deciphered length (password archives), else 0
    int32_t StoredSize = 0;   // bytes of this file in the data area
    int32_t FolderIndex = -1; // index into Folders; -1 = target folder
};

// Why a stored file name cannot be written where it belongs, or "" when it
// can. A stored name is relative to its folder and stays inside it: it is
// refused when empty, absolute ("\\x", "\\\\server\\x"), with a drive or a
// stream (any ':'), with a "." or ".." part or an empty part, with a zero
// byte or another control character, with a character Windows forbids in
// names (<>"|?*), with a part that ends in a dot or a blank, or with a part
// that is a reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM1-9, LPT1-9, with or without an extension, any case). Both '\\' and
// '/' separate parts.
std::string SXStoredNameError(const std::string& name);

// Reads and writes one file entry (raises EReadError on a short stream).
TFileInfo ReadFileInfo(TStream& stream);
void WriteFileInfo(TStream& stream, const TFileInfo& entry);

// The base header: options, password check block and file entries.
class TSXHeader {
public:
    uint16_t Options = 0;
    int16_t FileCount = 0;
    int16_t CheckLength = 0;
    uint8_t CheckBlock[SXCheckBlockSize] = {};
    std::vector<TFileInfo> Files;

    TSXHeader() = default;
    TSXHeader(const TSXHeader&) = default;
    TSXHeader& operator=(const TSXHeader&) = default;
    virtual ~TSXHeader();

    // Writes the extended fields (6-28); nothing here.
    virtual void SaveToStream(TStream& stream);
    // Reads the extended fields (6-28); nothing here.
    virtual void LoadExtra(TStream& stream);
    // Empties Files.
    virtual void Clear();

    // Reads fields 1-5, sets SilentMode from soSilent, then LoadExtra.
    // Returns false (never throws) when the stream is short or damaged: a
    // CheckLength outside 0..128, a count that cannot fit in the bytes that
    // remain, a negative size, a file name that SXStoredNameError refuses,
    // or an error of MacroExpander.
    bool LoadFromStream(TStream& stream);
    // Writes fields 1-5; FileCount is taken from Files (raises EStreamError
    // when it does not fit 16 bits or CheckLength is above 128).
    void SaveBaseToStream(TStream& stream);
    // SaveBaseToStream then SaveToStream: the whole header.
    void SaveAllToStream(TStream& stream);

protected:
    // Bytes left in the stream from its position, or -1 when unknown.
    static int64_t Remaining(TStream& stream);
};

// The extended header of the full setup.
class TSXHeaderSL : public TSXHeader {
public:
    int16_t TempFolderIndex = -1;  // folder whose files are deleted at the end
    int16_t ScriptFileIndex = -1;  // file entry that is the setup script
    std::string DefaultFolder, Command, Parameters;
    int32_t FolderCount = 0;       // kept beside Folders
    std::vector<std::string> Folders;
    int32_t PreviousProductCount = 0;  // kept beside PreviousProducts
    std::vector<std::string> PreviousProducts;
    uint32_t RegisteredFolders = 0;
    std::string UninstallFolder, UninstallIcon, AfterUninstall, AfterUninstallParamString;
    std::vector<std::string> Components, ComponentInf;
    bool StampDate = false;
    TDateTime FileDate = 0;
    bool KeepCopy = false;
    std::string CopyPath, CopyKey;

    // Expands the folder macros of each Folders text as it is read. The
    // portable header cannot expand Windows folder macros itself: the setup
    // program sets this to its ExpandMacros (an exception it raises makes
    // LoadFromStream return false); when empty the texts are kept as stored.
    std::function<std::string(const std::string&)> MacroExpander;

    void SaveToStream(TStream& stream) override;
    void LoadExtra(TStream& stream) override;
    void Clear() override;
};
