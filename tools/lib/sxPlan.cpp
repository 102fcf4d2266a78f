#include "sxPlan.h"
#include "sxReportText.h"
#include "ovText.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

std::string QuoteIfSpaced(const std::string& s)
{
    return s.find(' ') != std::string::npos ? "\"" + s + "\" " : s + " ";
}

// An INI text read the way the platform's profile functions read it: names
// without regard to case, blanks dropped, one pair of quotes removed, the
// first of two equal names wins, the first of two equal sections is read.
class TIniText {
public:
    explicit TIniText(const std::string& text)
    {
        std::string section;
        bool skip = false;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t eol = text.find('\n', pos);
            std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
            pos = eol == std::string::npos ? text.size() : eol + 1;
            line = Trim(line);
            if (line.empty() || line[0] == ';')
                continue;
            if (line[0] == '[') {
                size_t close = line.find(']');
                section = LowerAscii(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
                skip = std::find(Order.begin(), Order.end(), section) != Order.end();
                if (!skip)
                    Order.push_back(section);
                continue;
            }
            if (skip || section.empty())
                continue;
            size_t eq = line.find('=');
            std::string name = Trim(line.substr(0, eq));
            std::string value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
            if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
                value = value.substr(1, value.size() - 2);
            if (value.size() > 2047)
                value.resize(2047);
            auto& entries = Sections[section];
            bool seen = false;
            for (const auto& e : entries)
                seen = seen || LowerAscii(e.first) == LowerAscii(name);
            if (!seen && !name.empty())
                entries.emplace_back(name, value);
        }
    }
    // Entries in order; with pairsOnly, those with an empty value are dropped.
    std::vector<std::pair<std::string, std::string>> Section(const std::string& name, bool pairsOnly) const
    {
        auto it = Sections.find(LowerAscii(name));
        std::vector<std::pair<std::string, std::string>> out;
        if (it != Sections.end())
            for (const auto& e : it->second)
                if (!pairsOnly || !e.second.empty())
                    out.push_back(e);
        return out;
    }
    std::string Value(const std::string& section, const std::string& name) const
    {
        for (const auto& e : Section(section, false))
            if (LowerAscii(e.first) == LowerAscii(name))
                return e.second;
        return std::string();
    }

private:
    std::vector<std::string> Order;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> Sections;
};

class TPlanWriter {
public:
    TPlanWriter(const TProject& p, const TPlanLayout& layout) : P(p), H(p.Header), L(layout) {}
    std::string Make();

private:
    void Line(const char* format, ...)
    {
        va_list args;
        va_start(args, format);
        AppendLineV(Out, format, args);
        va_end(args);
    }
    // "TEXT" and, when expanding changes it, "TEXT  =  EXPANDED".
    std::string Shown(const std::string& text) const
    {
        std::string e = ExpandPlanMacros(text, L);
        return e == text ? text : text + "  =  " + e;
    }
    std::string String(TSXStringIndex index) const
    {
        return static_cast<size_t>(index) < P.Strings.size() ? P.Strings[static_cast<size_t>(index)] : std::string();
    }
    std::string Target() const;
    std::string Destination(const TArchiveSource& s) const;
    bool Registered(int folder) const
    {
        return !H.Folders.empty() && folder >= 0 && folder < 32 && (H.RegisteredFolders >> folder) & 1u;
    }
    void Files();
    void FoldersToCreate();
    void Script();
    void Components();
    void Ending();

    const TProject& P;
    const TSXHeaderSL& H;
    const TPlanLayout& L;
    std::string Out;
};

std::string TPlanWriter::Target() const
{
    if (!(H.Options & soDefaultFolder) || H.DefaultFolder.empty())
        return std::string();
    std::string t = H.DefaultFolder;
    if (ExpandPlanMacros(t, L).find(':') == std::string::npos)
        t = JoinWindowsPath("<ThisDir>\\", t);
    return t;
}

std::string TPlanWriter::Destination(const TArchiveSource& s) const
{
    if (!H.Folders.empty() && s.FolderIndex >= 0 && static_cast<size_t>(s.FolderIndex) < H.Folders.size())
        return JoinWindowsPath(H.Folders[static_cast<size_t>(s.FolderIndex)], s.Name);
    std::string t = Target();
    return JoinWindowsPath(t.empty() ? "<target folder>" : t, s.Name);
}

void TPlanWriter::Files()
{
    Line("Files (%zu), in archive order: source -> destination", P.Files.size());
    for (size_t i = 0; i < P.Files.size(); ++i) {
        const TArchiveSource& s = P.Files[i];
        std::string notes;
        if (!s.Compress)
            notes += " [stored]";
        if (static_cast<int>(i) == H.ScriptFileIndex)
            notes += " [setup script]";
        if (H.TempFolderIndex >= 0 && s.FolderIndex == H.TempFolderIndex && (H.Options & soDeleteTempFiles))
            notes += " [deleted at the end]";
        if (Registered(s.FolderIndex))
            notes += " [recorded for uninstall]";
        Line("  %s%s", s.Path.empty() ? s.Name.c_str() : s.Path.c_str(), notes.c_str());
        Line("    -> %s", Shown(Destination(s)).c_str());
    }
}

void TPlanWriter::FoldersToCreate()
{
    // The folders of the files: created when missing; those of registered
    // folders enter the uninstall record (the ones the setup creates).
    std::vector<std::pair<std::string, bool>> folders;
    std::set<std::string> seen;
    for (const TArchiveSource& s : P.Files) {
        std::string dest = Destination(s);
        size_t slash = dest.find_last_of('\\');
        std::string dir = slash == std::string::npos ? std::string() : dest.substr(0, slash);
        if (dir.empty() || !seen.insert(LowerAscii(dir)).second)
            continue;
        folders.emplace_back(dir, Registered(s.FolderIndex));
    }
    Line("Folders created when missing (%zu)", folders.size());
    for (const auto& f : folders)
        Line("  %s%s", Shown(f.first).c_str(), f.second ? " [recorded for uninstall when the setup creates it]" : "");
}

// One registry line of the script, parsed as the setup parses it.
std::string RegistryLine(const std::string& root, const std::string& line)
{
    std::string rest = line, marker;
    for (const char* m : {"-(uk)", "-(uv)", "-(dk)", "-(dv)"})
        if (rest.compare(0, 5, m) == 0) {
            marker = m;
            rest = rest.substr(5);
            break;
        }
    std::string key, name, data;
    size_t colon = rest.find(':');
    size_t eq = rest.find('=', colon == std::string::npos ? 0 : colon);
    if (eq == std::string::npos)
        return "UNREADABLE (the setup stops the script here): " + line;
    key = Trim(rest.substr(0, colon == std::string::npos ? eq : colon));
    if (colon != std::string::npos)
        name = Trim(rest.substr(colon + 1, eq - colon - 1));
    data = rest.substr(eq + 1);
    std::string type = "string";
    if (LowerAscii(data.substr(0, 4)) == "hex:") {
        type = "binary";
        data = data.substr(4);
    } else if (LowerAscii(data.substr(0, 6)) == "dword:") {
        type = "dword";
        data = data.substr(6);
    }
    data = Trim(data);
    std::string where = root + "\\" + key + (name.empty() ? " (default value)" : " : " + name);
    if (marker == "-(dk)")
        return "delete key " + root + "\\" + key;
    if (marker == "-(dv)")
        return "delete value " + where;
    std::string s = "write " + where + " = " + type + " " + data;
    if (marker == "-(uk)")
        s += " [key recorded for uninstall]";
    else if (marker == "-(uv)")
        s += " [value recorded for uninstall]";
    return s;
}

void TPlanWriter::Script()
{
    if (H.ScriptFileIndex < 0 || static_cast<size_t>(H.ScriptFileIndex) >= P.Files.size()) {
        Line("Setup script: none");
        return;
    }
    const TArchiveSource& s = P.Files[static_cast<size_t>(H.ScriptFileIndex)];
    std::string text;
    if (!s.Path.empty()) {
        try {
            TFileStream f(s.Path, fmOpenRead | fmShareDenyWrite);
            int64_t size = f.GetSize();
            if (size > (16 << 20))
                throw EProjectError(s.Path + ": the setup script is too large");
            text.resize(static_cast<size_t>(size));
            if (size)
                f.ReadBuffer(&text[0], static_cast<int32_t>(size));
        } catch (const EStreamError&) {
            throw EProjectError("cannot read the setup script " + s.Path);
        }
    } else {
        text.assign(s.Data.begin(), s.Data.end());
    }
    TIniText ini(text);
    Line("Setup script: %s", s.Path.empty() ? s.Name.c_str() : s.Path.c_str());
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"})
        for (const auto& e : ini.Section(root, true))
            Line("  registry: %s", Shown(RegistryLine(root, e.first + "=" + e.second)).c_str());
    const std::pair<const char*, const char*> links[] = {{"ShellLinks.Desktop", "desktop"},
                                                         {"ShellLinks.StartMenu", "start menu"},
                                                         {"ShellLinks.Programs", "programs menu"},
                                                         {"ShellLinks.SendTo", "send-to folder"}};
    for (const auto& section : links)
        for (const auto& e : ini.Section(section.first, true)) {
            std::string value = e.second, args, icon;
            size_t a = value.find("<<");
            if (a != std::string::npos) {
                size_t b = value.find(">>", a);
                args = value.substr(a + 2, b == std::string::npos ? std::string::npos : b - a - 2);
                value.erase(a, b == std::string::npos ? std::string::npos : b + 2 - a);
            }
            size_t semi = value.find(';');
            if (semi != std::string::npos) {
                icon = value.substr(semi + 1);
                value.erase(semi);
            }
            std::string name = e.first;
            size_t slash = name.find_last_of('\\');
            if (name.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
                name += ".lnk";
            Line("  link in the %s: %s [recorded for uninstall]", section.second, name.c_str());
            Line("    target %s", Shown(value).c_str());
            if (!args.empty())
                Line("    arguments %s", args.c_str());
            if (!icon.empty())
                Line("    icon %s", Shown(icon).c_str());
        }
    for (const auto& e : ini.Section("Register ActiveX", false)) {
        std::string flag = Trim(e.second);
        bool unregister = flag == "0" || flag == "0x0" || flag == "$0" || flag == "x0" || flag == "0X0";
        Line("  %s COM server %s", unregister ? "unregister" : "register", Shown(e.first).c_str());
    }
    for (const auto& e : ini.Section("File Attributes", false))
        Line("  attributes '%s' added to %s", e.second.c_str(), Shown(e.first).c_str());
    for (const auto& e : ini.Section("Delete Files", false))
        Line("  delete %s", Shown(e.first).c_str());
}

void TPlanWriter::Components()
{
    if (H.Components.empty())
        return;
    std::string infText;
    for (const std::string& l : H.ComponentInf)
        infText += l + "\n";
    TIniText inf(infText);
    Line("Components (%zu), installed when missing", H.Components.size());
    for (const std::string& c : H.Components) {
        Line("  %s", c.c_str());
        std::string web = inf.Value(c, "WebAddress"), local = inf.Value(c, "LocalAddress");
        std::string size = inf.Value(c, "WebSize");
        if (web.empty() && local.empty())
            Line("    no package named (WebAddress and LocalAddress are empty)");
        if (!web.empty())
            Line("    package %s (%s bytes)", web.c_str(), size.empty() ? "0" : size.c_str());
        if (!local.empty())
            Line("    package on disk %s", Shown(local).c_str());
        long count = std::strtol(inf.Value(c, "FileCount").c_str(), nullptr, 10);
        if (count <= 0)
            Line("    no file checks: counted as missing");
        for (long n = 1; n <= count && n <= 10000; ++n) {
            std::string v = inf.Value(c, "File" + std::to_string(n));
            size_t comma = v.find(',');
            std::string path = v.substr(0, comma);
            std::string version = comma == std::string::npos ? std::string() : v.substr(comma + 1);
            Line("    check %s%s%s", Shown(path).c_str(), version.empty() ? "" : ", version ",
                 version.c_str());
        }
        std::string onInf = inf.Value(c, "OnDone.InfFile"), cmd = inf.Value(c, "OnDone.Command");
        if (!onInf.empty())
            Line("    then the script %s", Shown(onInf).c_str());
        if (!cmd.empty())
            Line("    then runs %s %s", Shown(cmd).c_str(), inf.Value(c, "OnDone.Param").c_str());
    }
}

void TPlanWriter::Ending()
{
    if (H.Options & soRunCommand) {
        Line("Command: %s", Shown(H.Command).c_str());
        if (!H.Parameters.empty())
            Line("  parameters %s", Shown(H.Parameters).c_str());
        Line("  %s", (H.Options & soWaitForCommand) ? "started, and the setup waits for its end"
                                                     : "opened through the shell, not waited for");
    } else {
        Line("Command: none");
    }
    if (H.KeepCopy)
        Line("Copy of the setup: %s (recorded under HKEY_CURRENT_USER\\%s)",
             Shown(ReplaceText(H.CopyPath, "<ProductName>", String(sxsProductName))).c_str(),
             ReplaceText(H.CopyKey, "<ProductName>", String(sxsProductName)).c_str());
    if (!(H.Options & soUninstall)) {
        Line("Uninstall entry: none");
        return;
    }
    std::string product = String(sxsProductName);
    std::string record = JoinWindowsPath(ExpandPlanMacros(H.UninstallFolder, L), product + ".del");
    std::string uninstaller =
        ExpandPlanMacros(std::string(SXUninstallerFolder) + "\\" + SXUninstallerName, L);
    Line("Uninstall entry: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s",
         product.c_str());
    Line("  DisplayName      %s", product.c_str());
    Line("  UninstallString  %s", (QuoteIfSpaced(uninstaller) + " " + QuoteIfSpaced(record)).c_str());
    Line("  SilentUninstall  %s",
         (QuoteIfSpaced(uninstaller) + " /silent " + QuoteIfSpaced(record)).c_str());
    if (!H.UninstallIcon.empty())
        Line("  icon             %s", H.UninstallIcon.c_str());
    Line("  record file      %s", record.c_str());
    if (!H.AfterUninstall.empty())
        Line("  after uninstall  %s %s", ExpandPlanMacros(H.AfterUninstall, L).c_str(),
             ExpandPlanMacros(H.AfterUninstallParamString, L).c_str());
    bool carried = false;
    for (const TArchiveSource& s : P.Files)
        carried = carried || LowerAscii(s.Name) == LowerAscii(SXUninstallerName);
    if (!carried)
        Line("  the setup does not carry %s: it must already be on the machine", SXUninstallerName);
}

std::string TPlanWriter::Make()
{
    Line("Plan of %s (nothing is built)", P.FileName.c_str());
    Line("Folder macros as on a default Windows layout:");
    Line("  <ProgramFilesDir> = %s", L.ProgramFilesDir.c_str());
    Line("  <CommonFilesDir>  = %s", L.CommonFilesDir.c_str());
    Line("  <WindowsDir>      = %s", L.WindowsDir.c_str());
    Line("  <SystemDir>       = %s", L.SystemDir.c_str());
    Line("  <TempDir>         = %s", L.TempDir.c_str());
    Line("  <ThisDir>         = %s (the folder of the setup program)", L.ThisDir.c_str());
    Line("Setup: %s; product: %s", String(sxsSetupName).c_str(), String(sxsProductName).c_str());
    std::string mode = (H.Options & soSilent) ? "unattended" : "interactive";
    if (H.Options & soPassword)
        mode += ", asks for the password";
    if (!String(sxsLicenseText).empty())
        mode += ", shows the license";
    Line("Mode: %s", mode.c_str());
    for (const std::string& prev : H.PreviousProducts)
        Line("Offers to remove: %s", ReplaceText(prev, "<ProductName>", String(sxsProductName)).c_str());
    std::string target = Target();
    Line("Target folder: %s%s", target.empty() ? "(none given)" : Shown(target).c_str(),
         (H.Options & soAskFolder) ? " (asked; the user may choose another)" : "");
    if ((H.Options & soAskFolder) && (H.Options & soNumberedFolder))
        Line("  a numbered subfolder \"%s\" is added after the question", String(sxsNumberedFolder).c_str());
    Files();
    if (H.StampDate)
        Line("File dates: every extracted file dated %s", FormatDateTime(H.FileDate).c_str());
    FoldersToCreate();
    Components();
    Script();
    Ending();
    return Out;
}

}  // namespace

std::string ExpandPlanMacros(const std::string& text, const TPlanLayout& layout)
{
    const std::pair<const char*, const std::string*> macros[] = {
        {"<ProgramFilesDir>", &layout.ProgramFilesDir}, {"<CommonFilesDir>", &layout.CommonFilesDir},
        {"<WindowsDir>", &layout.WindowsDir},           {"<SystemDir>", &layout.SystemDir},
        {"<TempDir>", &layout.TempDir},                 {"<ThisDir>", &layout.ThisDir},
    };
    std::string s = text;
    // Each pass removes every occurrence of one macro; a value that brings a
    // macro back cannot loop for ever.
    for (int pass = 0; pass < 64; ++pass) {
        const std::pair<const char*, const std::string*>* found = nullptr;
        for (const auto& m : macros)
            if (s.find(m.first) != std::string::npos) {
                found = &m;
                break;
            }
        if (!found)
            return s;
        s = ReplaceText(s, found->first, *found->second);
        s = ReplaceText(s, "\\\\", "\\");
        if (s.find('<') == std::string::npos)
            return s;
    }
    return s;
}

std::string MakePlan(const TProject& project, const TPlanLayout& layout)
{
    return TPlanWriter(project, layout).Make();
}
