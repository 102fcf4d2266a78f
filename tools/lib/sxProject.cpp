#include "sxProject.h"

#include "sxBuildDate.h"
#include "sxCompRules.h"
#include "ovFileBytes.h"
#include "ovText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

const char* const SXUninstallerFolder = "<CommonFilesDir>\\Orvale Systems";
const char* const SXUninstallerName = "ovUninst.exe";

namespace {


std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return std::string();
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        parts.push_back(Trim(s.substr(start, p == std::string::npos ? std::string::npos : p - start)));
        if (p == std::string::npos)
            return parts;
        start = p + 1;
    }
}

// One "key = value" line of the project (or of a --set override).
struct TLine {
    std::string Section;  // lower case
    std::string Key;      // as written
    std::string Value;
    std::string Where;    // "file:line" or "--set"
};

// A loader for one project: collects the lines, then applies them.
class TLoader {
public:
    TLoader(TProject& p) : P(p) {}
    void Read(const std::string& fileName);
    void AddOverride(const std::string& text);
    void Apply();

private:
    [[noreturn]] void Fail(const std::string& where, const std::string& what) const
    {
        throw EProjectError(where + ": " + what);
    }
    bool Bool(const TLine& l) const;
    int Int(const TLine& l, long lo, long hi) const;
    std::string Text(const TLine& l) const;  // checks the counted-text limit
    // A source path: relative to the project's folder, or to the current
    // folder when it comes from the command line (--set).
    std::string Resolve(const std::string& path, const TLine& l) const;
    std::string ExistingFile(const TLine& l, const std::string& path) const;
    int FolderIndex(const TLine& l, const std::string& name) const;
    std::string ReadTextFile(const TLine& l, const std::string& path) const;
    void ApplySetup(const TLine& l);
    void ApplyString(const TLine& l);
    void ApplyFolder(const TLine& l);
    void ApplyVersion(const TLine& l);
    void AddFiles(const TLine& l, const std::string& spec, bool single, int* addedIndex);
    void Finish();
    // [Setup] values: present, the line, a switch, a checked text, where set.
    bool Has(const char* key) const;
    const TLine& Get(const char* key) const;
    bool Flag(const char* key, bool byDefault) const;
    std::string TextOf(const char* key) const;
    std::string Where(const char* key) const;
    uint16_t ReadOptions();
    void CheckNumberedPattern() const;
    bool ReadDates();
    void ReadInputsAndOutput(uint16_t& o);
    void ReadComponentInf();
    void AddUninstaller(uint16_t o);
    void CheckFiles();

    TProject& P;
    std::vector<TLine> Lines;
    std::string FileLabel;
    // [Setup] values by lower-case key, with where they were set.
    std::map<std::string, TLine> Setup;
    std::vector<std::string> FolderNames;  // lower case, by index
    std::vector<TLine> FileLines, FolderLines;
    std::vector<std::string> FileWhere;  // the line of each entry of P.Files
    std::map<int, std::string> StringLines;
    int MaxString = SXStringRoleCount - 1;
};

const std::set<std::string>& SetupKeys()
{
    static const std::set<std::string> keys = {
        "password", "askfolder", "defaultfolder", "usedefaultfolder", "numberedfolder", "command",
        "parameters", "runcommand", "waitforcommand", "tempfolder", "deletetempfiles", "script",
        "uninstall", "uninstallfolder", "uninstallicon", "afteruninstall", "afteruninstallparams",
        "stampdate", "filedate", "keepcopy", "copypath", "copykey", "silent", "nofinalmessage",
        "dialoglibrary", "clientlibrary", "uninstaller", "componentinf", "compression",
        "compressionlevel", "icon", "output", "stub",
    };
    return keys;
}

void TLoader::Read(const std::string& fileName)
{
    FileLabel = fileName;
    std::string content;
    try {
        TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
        int64_t size = f.GetSize();
        if (size > (64 << 20))
            throw EProjectError(fileName + ": the project file is too large");
        content.resize(static_cast<size_t>(size));
        if (size)
            f.ReadBuffer(&content[0], static_cast<int32_t>(size));
    } catch (const EStreamError&) {
        throw EProjectError(fileName + ": cannot read the project file");
    }
    std::string section;
    int lineNo = 0;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t eol = content.find('\n', pos);
        std::string raw = content.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? content.size() : eol + 1;
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        if (lineNo == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
            raw.erase(0, 3);  // a UTF-8 mark some editors add
        std::string line = Trim(raw);
        std::string where = fileName + ":" + std::to_string(lineNo);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                Fail(where, "a section header must end with ']'");
            section = LowerAscii(Trim(line.substr(1, line.size() - 2)));
            static const std::set<std::string> sections = {"setup", "strings", "folders", "files",
                                                           "previousproducts", "components", "version"};
            if (!sections.count(section))
                Fail(where, "unknown section [" + Trim(line.substr(1, line.size() - 2)) + "]");
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            Fail(where, "expected 'key = value'");
        if (section.empty())
            Fail(where, "a key outside of any section");
        TLine l{section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), where};
        if (l.Key.empty())
            Fail(where, "empty key");
        // A value may be quoted to keep spaces at its ends.
        if (l.Value.size() >= 2 && l.Value.front() == '"' && l.Value.back() == '"')
            l.Value = l.Value.substr(1, l.Value.size() - 2);
        Lines.push_back(l);
    }
}

void TLoader::AddOverride(const std::string& text)
{
    std::string where = "--set " + text;
    size_t dot = text.find('.'), eq = text.find('=');
    if (dot == std::string::npos || eq == std::string::npos || dot > eq)
        Fail(where, "expected Section.Key=Value");
    TLine l{LowerAscii(Trim(text.substr(0, dot))), Trim(text.substr(dot + 1, eq - dot - 1)), Trim(text.substr(eq + 1)),
            where};
    static const std::set<std::string> sections = {"setup", "strings", "folders", "files",
                                                   "previousproducts", "components", "version"};
    if (!sections.count(l.Section))
        Fail(where, "unknown section " + l.Section);
    // An override replaces what the file says for a single-valued key.
    if (l.Section == "setup" || l.Section == "strings" || l.Section == "version")
        Lines.erase(std::remove_if(Lines.begin(), Lines.end(),
                                   [&](const TLine& o) { return o.Section == l.Section && LowerAscii(o.Key) == LowerAscii(l.Key); }),
                    Lines.end());
    Lines.push_back(l);
}

bool TLoader::Bool(const TLine& l) const
{
    std::string v = LowerAscii(l.Value);
    if (v == "yes" || v == "true" || v == "1" || v == "on")
        return true;
    if (v == "no" || v == "false" || v == "0" || v == "off")
        return false;
    Fail(l.Where, l.Key + ": expected yes or no, found '" + l.Value + "'");
}

int TLoader::Int(const TLine& l, long lo, long hi) const
{
    char* end = nullptr;
    long v = std::strtol(l.Value.c_str(), &end, 0);
    if (l.Value.empty() || *end != '\0' || v < lo || v > hi)
        Fail(l.Where, l.Key + ": expected a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                          ", found '" + l.Value + "'");
    return static_cast<int>(v);
}

std::string TLoader::Text(const TLine& l) const
{
    if (l.Value.size() > 0xFFFF)
        Fail(l.Where, l.Key + ": text longer than 65535 bytes");
    return l.Value;
}

std::string TLoader::Resolve(const std::string& path, const TLine& l) const
{
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    bool absolute = (!p.empty() && p[0] == '/') || (p.size() >= 2 && p[1] == ':');
    if (absolute || P.BaseDir.empty() || l.Where.compare(0, 5, "--set") == 0)
        return p;
    return P.BaseDir + "/" + p;
}

std::string TLoader::ExistingFile(const TLine& l, const std::string& path) const
{
    std::string full = Resolve(path, l);
    std::error_code ec;
    if (path.empty())
        Fail(l.Where, l.Key + ": no file named");
    if (!fs::is_regular_file(fs::path(full), ec))
        Fail(l.Where, "missing source file: " + full);
    return full;
}

std::string TLoader::ReadTextFile(const TLine& l, const std::string& path) const
{
    std::string full = ExistingFile(l, path);
    std::string text;
    bool whole = false;
    try {
        whole = ReadWholeFile(full, 16 << 20, text);
    } catch (const EStreamError&) {
        Fail(l.Where, "cannot read " + full);
    }
    if (!whole)
        Fail(l.Where, "text file too large: " + full);
    return text;
}

int TLoader::FolderIndex(const TLine& l, const std::string& name) const
{
    std::string n = LowerAscii(Trim(name));
    if (n.empty() || n == "target" || n == "-1")
        return -1;
    for (size_t i = 0; i < FolderNames.size(); ++i)
        if (FolderNames[i] == n)
            return static_cast<int>(i);
    char* end = nullptr;
    long v = std::strtol(n.c_str(), &end, 10);
    if (*end == '\0' && v >= 0 && v < static_cast<long>(FolderNames.size()))
        return static_cast<int>(v);
    Fail(l.Where, "unknown folder '" + name + "' (not in [Folders])");
}

// Wildcard match of one file name: '*' any run, '?' one character, letters
// without regard to case. Iterative, with one backtracking point: a later
// star only ever needs to retry from the latest star, so the work is at most
// pattern length times name length whatever the pattern.
bool Match(const char* pattern, const char* name)
{
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    const char* starPattern = nullptr;  // just after the latest star
    const char* starName = nullptr;     // where that star's run ends so far
    while (*name) {
        if (*pattern == '*') {
            while (*pattern == '*')
                ++pattern;
            starPattern = pattern;
            starName = name;
        } else if (*pattern && (*pattern == '?' || lower(*pattern) == lower(*name))) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

// "File = SOURCE | name=DEST | folder=NAME | compress=no | recurse"
void TLoader::AddFiles(const TLine& l, const std::string& spec, bool single, int* addedIndex)
{
    std::vector<std::string> parts = Split(spec, '|');
    std::string source = parts[0];
    std::string name, folder;
    bool nameGiven = false, recurse = false;
    bool compress = true;
    if (Setup.count("compression"))
        compress = Bool(Setup.at("compression"));
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string opt = parts[i];
        size_t eq = opt.find('=');
        std::string key = LowerAscii(Trim(opt.substr(0, eq)));
        std::string value = eq == std::string::npos ? std::string() : Trim(opt.substr(eq + 1));
        if (key == "name" && eq != std::string::npos) {
            name = value;
            std::replace(name.begin(), name.end(), '/', '\\');
            nameGiven = true;
        } else if (key == "folder" && eq != std::string::npos) {
            folder = value;
        } else if (key == "compress" && eq != std::string::npos) {
            TLine v = l;
            v.Key = "compress";
            v.Value = value;
            compress = Bool(v);
        } else if (key == "recurse" && eq == std::string::npos && !single) {
            recurse = true;
        } else {
            Fail(l.Where, "unknown file option '" + opt + "' (name=, folder=, compress=" +
                              std::string(single ? "" : ", recurse") + ")");
        }
    }
    if (source.empty())
        Fail(l.Where, "no source file named");
    int folderIndex = FolderIndex(l, folder);
    std::string full = Resolve(source, l);
    size_t slash = full.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : full.substr(0, slash);
    std::string pattern = slash == std::string::npos ? full : full.substr(slash + 1);
    bool wild = pattern.find_first_of("*?") != std::string::npos;
    if (dir.find_first_of("*?") != std::string::npos)
        Fail(l.Where, "wildcards are allowed in the file name only: " + source);

    auto add = [&](const std::string& path, const std::string& stored) {
        if (stored.size() > 0xFFFF)
            Fail(l.Where, "bad stored name for " + path);
        std::string why = SXStoredNameError(stored);
        if (!why.empty())
            Fail(l.Where, "stored name '" + stored + "' for " + path + " would not stay inside its folder: " + why);
        TArchiveSource s;
        s.Path = path;
        s.Name = stored;
        s.FolderIndex = folderIndex;
        s.Compress = compress;
        if (addedIndex)
            *addedIndex = static_cast<int>(P.Files.size());
        P.Files.push_back(std::move(s));
        FileWhere.push_back(l.Where);
    };

    if (!wild) {
        if (recurse)
            Fail(l.Where, "recurse needs a wildcard in the file name");
        std::string path = ExistingFile(l, source);
        add(path, nameGiven ? name : pattern);
        return;
    }
    if (single)
        Fail(l.Where, "a single file is expected here, not a wildcard");
    std::error_code ec;
    if (!fs::is_directory(fs::path(dir), ec))
        Fail(l.Where, "missing source folder: " + dir);
    std::vector<std::pair<std::string, std::string>> found;  // path, relative stored name
    try {
        if (recurse) {
            for (auto it = fs::recursive_directory_iterator(fs::path(dir)); it != fs::recursive_directory_iterator(); ++it) {
                if (!it->is_regular_file() || !Match(pattern.c_str(), it->path().filename().string().c_str()))
                    continue;
                std::string rel = fs::relative(it->path(), fs::path(dir)).generic_string();
                std::replace(rel.begin(), rel.end(), '/', '\\');
                found.emplace_back(it->path().generic_string(), rel);
            }
        } else {
            for (const auto& e : fs::directory_iterator(fs::path(dir))) {
                if (e.is_regular_file() && Match(pattern.c_str(), e.path().filename().string().c_str()))
                    found.emplace_back(e.path().generic_string(), e.path().filename().string());
            }
        }
    } catch (const fs::filesystem_error& e) {
        Fail(l.Where, std::string("cannot list ") + dir + ": " + e.what());
    }
    if (found.empty())
        Fail(l.Where, "no file matches " + source);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& f : found)
        add(f.first, JoinWindowsPath(name, f.second));
}

void TLoader::ApplySetup(const TLine& l)
{
    std::string key = LowerAscii(l.Key);
    if (!SetupKeys().count(key))
        Fail(l.Where, "unknown key '" + l.Key + "' in [Setup]");
    if (Setup.count(key))
        Fail(l.Where, "'" + l.Key + "' is already set at " + Setup.at(key).Where);
    Setup[key] = l;
}

void TLoader::ApplyString(const TLine& l)
{
    std::string key = l.Key;
    bool fromFile = false;
    int index = SXStringRoleIndex(key);
    if (index < 0 && key.size() > 4 && LowerAscii(key.substr(key.size() - 4)) == "file") {
        index = SXStringRoleIndex(key.substr(0, key.size() - 4));
        std::string base = LowerAscii(key.substr(0, key.size() - 4));
        if (index < 0 && base.compare(0, 6, "string") == 0)
            key = key.substr(0, key.size() - 4);
        fromFile = true;
    }
    if (index < 0) {
        std::string digits = key;
        if (LowerAscii(digits).compare(0, 6, "string") == 0)
            digits = digits.substr(6);
        char* end = nullptr;
        long v = digits.empty() ? -1 : std::strtol(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || v < 0 || v > 999)
            Fail(l.Where, "unknown string '" + l.Key + "' (a role name such as SetupName, or String0..String999)");
        index = static_cast<int>(v);
    }
    if (StringLines.count(index))
        Fail(l.Where, "string " + std::to_string(index) + " (" +
                          (index < SXStringRoleCount ? SXStringRoleNames[index] : "by number") + ") is already set");
    std::string value = l.Value;
    if (fromFile) {
        // A text file becomes one line: its line breaks turn into the
        // two-character break marker the setup converts when it shows it.
        std::string text = ReadTextFile(l, l.Value);
        value.clear();
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                if (i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                value += "\\n";
            } else if (text[i] == '\n') {
                value += "\\n";
            } else {
                value += text[i];
            }
        }
        while (value.size() >= 2 && value.compare(value.size() - 2, 2, "\\n") == 0)
            value.erase(value.size() - 2);
    }
    TLine v = l;
    v.Value = value;
    StringLines[index] = Text(v);
    MaxString = std::max(MaxString, index);
}

void TLoader::ApplyFolder(const TLine& l)
{
    std::vector<std::string> parts = Split(l.Value, '|');
    std::string name = LowerAscii(l.Key);
    if (name == "target" || name == "-1" || name.find_first_not_of("0123456789") == std::string::npos)
        Fail(l.Where, "'" + l.Key + "' cannot name a folder (reserved or a number)");
    if (std::find(FolderNames.begin(), FolderNames.end(), name) != FolderNames.end())
        Fail(l.Where, "folder '" + l.Key + "' is defined twice");
    if (parts[0].empty())
        Fail(l.Where, "folder '" + l.Key + "' has no path");
    bool registered = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        if (LowerAscii(parts[i]) == "register")
            registered = true;
        else
            Fail(l.Where, "unknown folder option '" + parts[i] + "' (register)");
    }
    size_t index = FolderNames.size();
    if (registered) {
        if (index >= 32)
            Fail(l.Where, "only the first 32 folders can be registered for uninstall");
        P.Header.RegisteredFolders |= 1u << index;
    }
    TLine v = l;
    v.Value = parts[0];
    P.Header.Folders.push_back(Text(v));
    FolderNames.push_back(name);
}

bool ParseVersion(const std::string& text, uint16_t out[4])
{
    std::vector<std::string> parts = Split(text, '.');
    if (parts.empty() || parts.size() > 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        out[i] = 0;
        if (i < static_cast<int>(parts.size())) {
            const std::string& p = parts[i];
            if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
                return false;
            long v = std::strtol(p.c_str(), nullptr, 10);
            if (v > 0xFFFF)
                return false;
            out[i] = static_cast<uint16_t>(v);
        }
    }
    return true;
}

void TLoader::ApplyVersion(const TLine& l)
{
    std::string key = LowerAscii(l.Key);
    P.HasVersion = true;
    for (const auto& kv : P.VersionStrings)
        if (LowerAscii(kv.first) == key)
            Fail(l.Where, "'" + l.Key + "' is already set");
    if (key == "fileversion" || key == "productversion") {
        uint16_t* v = key == "fileversion" ? P.FileVersion : P.ProductVersion;
        if (!ParseVersion(l.Value, v))
            Fail(l.Where, l.Key + ": expected up to four numbers 0..65535 such as 1.2.3.4");
    }
    if (l.Value.size() > 1000)
        Fail(l.Where, l.Key + ": value too long");
    P.VersionStrings.emplace_back(l.Key, l.Value);
}

void TLoader::Apply()
{
    for (const TLine& l : Lines) {
        if (l.Section == "setup")
            ApplySetup(l);
        else if (l.Section == "strings")
            ApplyString(l);
        else if (l.Section == "folders")
            FolderLines.push_back(l);
        else if (l.Section == "files") {
            if (LowerAscii(l.Key) != "file")
                Fail(l.Where, "[Files] takes 'File = SOURCE | options' lines, not '" + l.Key + "'");
            FileLines.push_back(l);
        } else if (l.Section == "previousproducts") {
            if (LowerAscii(l.Key) != "product")
                Fail(l.Where, "[PreviousProducts] takes 'Product = NAME' lines, not '" + l.Key + "'");
            P.Header.PreviousProducts.push_back(Text(l));
        } else if (l.Section == "components") {
            if (LowerAscii(l.Key) != "component")
                Fail(l.Where, "[Components] takes 'Component = NAME' lines, not '" + l.Key + "'");
            // The setup names the downloaded package after the component and
            // refuses a name that could lead it out of its folder.
            if (!IsPlainComponentName(Text(l)))
                Fail(l.Where, "component name '" + Text(l) + "' is not a plain file name (empty, or holds \\ / : or ..)");
            P.Header.Components.push_back(Text(l));
        } else if (l.Section == "version") {
            ApplyVersion(l);
        }
    }
    for (const TLine& l : FolderLines)
        ApplyFolder(l);
    for (const TLine& l : FileLines)
        AddFiles(l, l.Value, false, nullptr);
    Finish();
}

// The [Setup] switches that set one option bit. A switch with a
// requirement is an error without it; `OnByDefault` switches are on when
// the requirement is met and the project does not say.
struct TSetupFlag {
    const char* Key;
    uint16_t Bit;
    const char* Needs;  // the requirement's key, or nullptr
    bool OnByDefault;
    const char* Missing;  // the error without the requirement
};

const TSetupFlag SetupFlags[] = {
    {"usedefaultfolder", soDefaultFolder, "defaultfolder", true, "UseDefaultFolder needs DefaultFolder"},
    {"askfolder", soAskFolder, nullptr, false, nullptr},
    {"numberedfolder", soNumberedFolder, nullptr, false, nullptr},
    {"runcommand", soRunCommand, "command", true, "RunCommand needs Command"},
    {"waitforcommand", soWaitForCommand, nullptr, false, nullptr},
    {"deletetempfiles", soDeleteTempFiles, "tempfolder", false, "DeleteTempFiles needs TempFolder"},
    {"uninstall", soUninstall, "uninstallfolder", false,
     "Uninstall needs UninstallFolder (where the uninstall record is written)"},
    {"silent", soSilent, nullptr, false, nullptr},
    {"nofinalmessage", soNoFinalMessage, nullptr, false, nullptr},
};

bool TLoader::Has(const char* key) const
{
    return Setup.count(key) != 0;
}

const TLine& TLoader::Get(const char* key) const
{
    return Setup.at(key);
}

bool TLoader::Flag(const char* key, bool byDefault) const
{
    return Has(key) ? Bool(Get(key)) : byDefault;
}

std::string TLoader::TextOf(const char* key) const
{
    return Has(key) ? Text(Get(key)) : std::string();
}

std::string TLoader::Where(const char* key) const
{
    return Has(key) ? Get(key).Where : FileLabel;
}

uint16_t TLoader::ReadOptions()
{
    TSXHeaderSL& h = P.Header;
    uint16_t o = 0;
    P.Password = TextOf("password");
    if (P.Password.size() > 127)
        Fail(Where("password"), "the password is longer than 127 characters");
    if (P.Password.find('\0') != std::string::npos)
        Fail(Where("password"), "the password holds a zero byte");
    if (!P.Password.empty())
        o |= soPassword;

    h.DefaultFolder = TextOf("defaultfolder");
    h.Command = TextOf("command");
    h.Parameters = TextOf("parameters");
    if (Has("tempfolder")) {
        int idx = FolderIndex(Get("tempfolder"), Get("tempfolder").Value);
        if (idx < 0)
            Fail(Get("tempfolder").Where, "TempFolder must name a folder of [Folders]");
        h.TempFolderIndex = static_cast<int16_t>(idx);
    }
    const std::map<std::string, bool> met = {
        {"defaultfolder", !h.DefaultFolder.empty()},
        {"command", !h.Command.empty()},
        {"tempfolder", h.TempFolderIndex >= 0},
        {"uninstallfolder", Has("uninstallfolder") && !Get("uninstallfolder").Value.empty()},
    };
    for (const TSetupFlag& f : SetupFlags) {
        bool needed = f.Needs != nullptr;
        bool present = needed && met.at(f.Needs);
        if (!Flag(f.Key, f.OnByDefault && present))
            continue;
        if (needed && !present)
            Fail(Where(f.Key), f.Missing);
        o |= f.Bit;
    }
    if (o & soNumberedFolder)
        CheckNumberedPattern();
    return o;
}

void TLoader::CheckNumberedPattern() const
{
    // The setup formats this pattern with one integer: anything but one
    // %d (or %i, %u) and literal %% would make it read garbage.
    const std::string& pat = StringLines.count(21) ? StringLines.at(21) : std::string();
    int ints = 0;
    bool bad = pat.empty();
    for (size_t i = 0; i < pat.size(); ++i) {
        if (pat[i] != '%')
            continue;
        if (i + 1 < pat.size() && pat[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < pat.size() && std::string("-+ 0#123456789").find(pat[j]) != std::string::npos)
            ++j;
        if (j < pat.size() && (pat[j] == 'd' || pat[j] == 'i' || pat[j] == 'u'))
            ++ints;
        else
            bad = true;
        i = j;
    }
    if (bad || ints != 1)
        Fail(Where("numberedfolder"),
             "NumberedFolder needs the string NumberedFolderPattern with exactly one %d, such as \"Copy %d\"");
}

// The date the files get; answers whether it is to be the build's date
// (set once every input file is known).
bool TLoader::ReadDates()
{
    TSXHeaderSL& h = P.Header;
    if (Has("filedate")) {
        double d;
        const TLine& l = Get("filedate");
        char* end = nullptr;
        double num = std::strtod(l.Value.c_str(), &end);
        if (ParseDateTime(l.Value, d))
            h.FileDate = d;
        else if (!l.Value.empty() && *end == '\0' && std::isfinite(num))
            h.FileDate = num;
        else
            Fail(l.Where, "FileDate: expected YYYY-MM-DD HH:MM:SS (or a day number)");
    }
    h.StampDate = Flag("stampdate", false);
    bool dateFromInputs = (h.StampDate || Flag("keepcopy", false)) && !Has("filedate");
    h.KeepCopy = Flag("keepcopy", false);
    h.CopyPath = TextOf("copypath");
    h.CopyKey = TextOf("copykey");
    if (h.KeepCopy && (h.CopyPath.empty() || h.CopyKey.empty()))
        Fail(Where("keepcopy"), "KeepCopy needs CopyPath and CopyKey");
    return dateFromInputs;
}

// The files the builder reads besides the project's own: libraries, icon,
// stub, and where the setup goes.
void TLoader::ReadInputsAndOutput(uint16_t& o)
{
    if (Has("dialoglibrary") && !Get("dialoglibrary").Value.empty()) {
        P.DialogLibrary = ExistingFile(Get("dialoglibrary"), Get("dialoglibrary").Value);
        o |= soDialogLibrary;
    }
    if (Has("clientlibrary") && !Get("clientlibrary").Value.empty()) {
        P.ClientLibrary = ExistingFile(Get("clientlibrary"), Get("clientlibrary").Value);
        o |= soClientLibrary;
    }
    if (Has("compressionlevel"))
        P.CompressionLevel = Int(Get("compressionlevel"), 1, 9);
    if (Has("icon") && !Get("icon").Value.empty())
        P.Icon = ExistingFile(Get("icon"), Get("icon").Value);
    if (Has("output") && !Get("output").Value.empty())
        P.Output = Resolve(Get("output").Value, Get("output"));
    if (Has("stub") && !Get("stub").Value.empty())
        P.Stub = ExistingFile(Get("stub"), Get("stub").Value);
}

void TLoader::ReadComponentInf()
{
    TSXHeaderSL& h = P.Header;
    if (Has("componentinf") && !Get("componentinf").Value.empty()) {
        std::string inf = ReadTextFile(Get("componentinf"), Get("componentinf").Value);
        size_t pos = 0;
        while (pos < inf.size()) {
            size_t eol = inf.find('\n', pos);
            std::string line = inf.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
            pos = eol == std::string::npos ? inf.size() : eol + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > 0xFFFF)
                Fail(Get("componentinf").Where, "a component INF line is longer than 65535 bytes");
            h.ComponentInf.push_back(line);
        }
    }
    if (h.ComponentInf.size() > 0xFFFF || h.Components.size() > 0xFFFF)
        Fail(FileLabel, "more than 65535 components or component INF lines");
    // The INF text is read by the setup only at run time: what it would
    // misread is reported now, as warnings ("comp.inf:3: ...").
    if (!h.Components.empty()) {
        std::string label = Has("componentinf") ? Get("componentinf").Value : FileLabel + ": ComponentInf";
        for (const std::string& problem : CheckComponentInf(h.ComponentInf, h.Components)) {
            if (problem.compare(0, 5, "line ") == 0)
                P.Warnings.push_back(label + ":" + problem.substr(5));
            else
                P.Warnings.push_back(label + ": " + problem);
        }
    }

}

void TLoader::AddUninstaller(uint16_t o)
{
    TSXHeaderSL& h = P.Header;
    // The uninstaller goes where the uninstall registration expects it. A
    // project that registers for uninstall and names none gets the one the
    // builder finds (UninstallerWanted); "none" leaves it out on purpose.
    std::string uninstaller = Has("uninstaller") ? LowerAscii(Trim(Get("uninstaller").Value)) : std::string();
    if (uninstaller == "none") {
        if (o & soUninstall)
            P.Warnings.push_back(Get("uninstaller").Where +
                                 ": Uninstaller=none: the setup registers the product for uninstall without "
                                 "ovUninst.exe; its entry cannot be removed unless ovUninst.exe is installed in \"" +
                                 SXUninstallerFolder + "\" by other means");
    } else if (uninstaller.empty()) {
        P.UninstallerWanted = (o & soUninstall) != 0;
    } else {
        const TLine& l = Get("uninstaller");
        std::string path = ExistingFile(l, l.Value);
        int folder = -1;
        for (size_t i = 0; i < h.Folders.size(); ++i)
            if (LowerAscii(h.Folders[i]) == LowerAscii(SXUninstallerFolder))
                folder = static_cast<int>(i);
        if (folder < 0) {
            h.Folders.push_back(SXUninstallerFolder);
            FolderNames.push_back("<uninstaller>");
            folder = static_cast<int>(h.Folders.size()) - 1;
        }
        TArchiveSource s;
        s.Path = path;
        s.Name = SXUninstallerName;
        s.FolderIndex = folder;
        s.Compress = true;
        P.Files.push_back(std::move(s));
        FileWhere.push_back(l.Where);
    }
}

void TLoader::CheckFiles()
{
    TSXHeaderSL& h = P.Header;
    // The same name twice in one folder: the later file overwrites the
    // earlier one at install time.
    std::map<std::pair<int, std::string>, size_t> seen;
    for (size_t i = 0; i < P.Files.size(); ++i) {
        auto key = std::make_pair(P.Files[i].FolderIndex, LowerAscii(P.Files[i].Name));
        auto it = seen.find(key);
        if (it == seen.end()) {
            seen[key] = i;
            continue;
        }
        std::string folder = P.Files[i].FolderIndex < 0 ? "the target folder"
                                                        : "folder " + std::to_string(P.Files[i].FolderIndex);
        P.Warnings.push_back(FileWhere[i] + ": '" + P.Files[i].Name + "' is stored twice in " + folder +
                             " (also from " + FileWhere[it->second] + "); the later file overwrites the earlier one");
    }
    if (P.Files.size() > 0x7FFF)
        Fail(FileLabel, "more than 32767 files");
    for (const TArchiveSource& s : P.Files)
        if (s.FolderIndex >= 0 && static_cast<size_t>(s.FolderIndex) >= h.Folders.size())
            Fail(FileLabel, "a file refers to a folder that does not exist");
}

void TLoader::Finish()
{
    TSXHeaderSL& h = P.Header;
    uint16_t o = ReadOptions();
    h.UninstallFolder = TextOf("uninstallfolder");
    h.UninstallIcon = TextOf("uninstallicon");
    h.AfterUninstall = TextOf("afteruninstall");
    h.AfterUninstallParamString = TextOf("afteruninstallparams");
    bool dateFromInputs = ReadDates();
    ReadInputsAndOutput(o);
    ReadComponentInf();

    // The setup script travels as a file of the archive.
    if (Has("script") && !Get("script").Value.empty()) {
        int idx = -1;
        AddFiles(Get("script"), Get("script").Value, true, &idx);
        h.ScriptFileIndex = static_cast<int16_t>(idx);
    }
    AddUninstaller(o);
    CheckFiles();
    h.Options = o;
    if (dateFromInputs) {
        std::vector<std::string> inputs = {P.FileName, P.DialogLibrary, P.ClientLibrary, P.Icon};
        for (const TArchiveSource& s : P.Files)
            if (!s.Path.empty())
                inputs.push_back(s.Path);
        h.FileDate = BuildDateTime(inputs);
    }

    P.Strings.assign(static_cast<size_t>(MaxString + 1), std::string());
    for (const auto& kv : StringLines)
        P.Strings[static_cast<size_t>(kv.first)] = kv.second;
    std::string table = JoinStringTable(P.Strings);
    if (table.find_first_not_of("\r\n") == std::string::npos)
        Fail(FileLabel, "the [Strings] section gives no text (the setup needs at least SetupName)");
    if (table.size() > 0xFFFF)
        Fail(FileLabel, "the string table is longer than 65535 bytes");
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
}

constexpr int64_t kDaysTo1970 = 25569;  // 1899-12-30 to 1970-01-01

}  // namespace

bool ParseDateTime(const std::string& text, double& value)
{
    int y, mo, d, h = 0, mi = 0, s = 0;
    char tail;
    int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
    if (n != 3 && n != 5 && n != 6)
        return false;
    if (n == 3 && text.size() != 10)
        return false;
    if (y < 1601 || y > 9999 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0)
        return false;
    static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > mdays[mo - 1] || (mo == 2 && d == 29 && !leap))
        return false;
    int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) + kDaysTo1970;
    value = static_cast<double>(days) + (h * 3600 + mi * 60 + s) / 86400.0;
    return true;
}

std::string FormatDateTime(double value)
{
    if (!std::isfinite(value) || value < -100000 || value > 3000000)
        return "(invalid)";
    double dayPart = std::floor(value);
    int64_t days = static_cast<int64_t>(dayPart) - kDaysTo1970;
    int64_t secs = static_cast<int64_t>(std::llround((value - dayPart) * 86400.0));
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    // civil from days
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60));
    return buf;
}

TProject LoadProject(const std::string& fileName, const std::vector<std::string>& overrides)
{
    TProject p;
    p.FileName = fileName;
    std::string f = fileName;
    std::replace(f.begin(), f.end(), '\\', '/');
    size_t slash = f.find_last_of('/');
    p.BaseDir = slash == std::string::npos ? "." : (slash == 0 ? "/" : f.substr(0, slash));
    TLoader loader(p);
    loader.Read(fileName);
    for (const std::string& o : overrides)
        loader.AddOverride(o);
    loader.Apply();
    return p;
}
