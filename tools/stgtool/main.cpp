// stgtool: makes, lists, checks and extracts storage containers (component
// packages), and marks entries deleted.
//
//   stgtool create OUT.stg PATH... [--packed] [--scrambled] [--encrypted]
//                  [--password P] [--no-password-check] [--auto-compact]
//                  [--version 0x0100|0x0101]
//   stgtool list FILE [--password P]
//   stgtool extract FILE DIR [--name NAME] [--password P]
//   stgtool check FILE [--password P]
//   stgtool delete FILE NAME
//
// Exit codes: 0 success, 1 usage, 2 file missing, 3 not a container,
// 4 wrong password, 5 unknown entry, 6 an entry could not be extracted or
// failed its check, 7 other error (file system, input files).
#include "ovsFile.h"
#include "ovStgImp.h"
#include "ovStream.h"
#include "ovText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitMissing = 2,
    kExitNotStorage = 3,
    kExitPassword = 4,
    kExitUnknownEntry = 5,
    kExitEntryFailed = 6,
    kExitError = 7,
};

const char kUsage[] =
    "usage:\n"
    "  stgtool create OUT.stg PATH... [--packed] [--scrambled] [--encrypted]\n"
    "                 [--password P] [--no-password-check] [--auto-compact]\n"
    "                 [--version 0x0100|0x0101]\n"
    "  stgtool list FILE [--password P]\n"
    "  stgtool extract FILE DIR [--name NAME] [--password P]\n"
    "  stgtool check FILE [--password P]\n"
    "  stgtool delete FILE NAME\n"
    "exit codes: 0 ok, 1 usage, 2 file missing, 3 not a container, 4 wrong password,\n"
    "            5 unknown entry, 6 entry failed, 7 other error\n";

// Every message to the user goes through here.
void Say(const std::string& text)
{
    std::fprintf(stderr, "stgtool: %s\n", text.c_str());
}

struct Options {
    std::vector<std::string> Positional;
    bool Packed = false, Scrambled = false, Encrypted = false, AutoCompact = false;
    bool HasPassword = false;
    bool NoPasswordCheck = false;
    std::string Password;
    bool HasName = false;
    std::string Name;
    uint16_t Version = kStgVersion101;
};

// Raised for a bad command line.
struct UsageError {
    std::string Text;
};

Options ParseOptions(int argc, char** argv, int first)
{
    Options o;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) {
            if (i + 1 >= argc)
                throw UsageError{FormatText("%s needs %s", a.c_str(), what)};
            return std::string(argv[++i]);
        };
        if (a == "--packed")
            o.Packed = true;
        else if (a == "--scrambled")
            o.Scrambled = true;
        else if (a == "--encrypted")
            o.Encrypted = true;
        else if (a == "--auto-compact")
            o.AutoCompact = true;
        else if (a == "--no-password-check")
            o.NoPasswordCheck = true;
        else if (a == "--password") {
            o.HasPassword = true;
            o.Password = value("a password");
        } else if (a == "--name") {
            o.HasName = true;
            o.Name = value("an entry name");
        } else if (a == "--version") {
            std::string v = value("0x0100 or 0x0101");
            if (v == "0x0100" || v == "0x100")
                o.Version = kStgVersion100;
            else if (v == "0x0101" || v == "0x101")
                o.Version = kStgVersion101;
            else
                throw UsageError{FormatText("unknown version %s (0x0100 or 0x0101)", v.c_str())};
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
            throw UsageError{FormatText("unknown option %s", a.c_str())};
        else
            o.Positional.push_back(a);
    }
    return o;
}

// Opens a container for the read commands; returns an exit code (0: open).
int OpenContainer(TovFileStg& stg, const std::string& file, const std::string& password)
{
    if (!FileExists(file)) {
        Say(FormatText("file not found: %s", file.c_str()));
        return kExitMissing;
    }
    uint16_t code;
    try {
        code = stg.Open(file, password);
    } catch (const EFOpenError& e) {
        // Containers are opened exclusively for reading and writing.
        Say(DescribeError(e) + " (it is opened for reading and writing: locked by another program, or read-only?)");
        return kExitError;
    } catch (const Exception& e) {
        Say(DescribeError(e));
        return kExitError;
    }
    if (code == stgErrNotStorage) {
        Say(FormatText("not a storage container (or damaged beyond use): %s%s%s", file.c_str(),
                       stg.LastError().empty() ? "" : ": ", stg.LastError().c_str()));
        return kExitNotStorage;
    }
    if (code == stgErrPassword) {
        Say(FormatText("wrong password for %s", file.c_str()));
        return kExitPassword;
    }
    if (code != stgOk) {
        Say(FormatText("cannot open %s (code %u)", file.c_str(), unsigned(code)));
        return kExitError;
    }
    return kExitOk;
}

void CollectFiles(const std::string& path, std::vector<std::string>& files)
{
    fs::path p(path);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec))
                found.push_back(it->path().string());
        if (ec)
            throw Exception(FormatText("cannot read folder %s", path.c_str()));
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(p, ec)) {
        files.push_back(path);
    } else {
        throw Exception(FormatText("file not found: %s", path.c_str()));
    }
}

int Create(const Options& o)
{
    if (o.Positional.size() < 2)
        throw UsageError{"create needs OUT.stg and at least one PATH"};
    const std::string& out = o.Positional[0];
    std::vector<std::string> files;
    try {
        for (size_t i = 1; i < o.Positional.size(); ++i)
            CollectFiles(o.Positional[i], files);
    } catch (const Exception& e) {
        Say(DescribeError(e));
        return kExitMissing;
    }
    // The container itself is never one of its inputs (a folder taken whole
    // may hold an older copy of it).
    {
        std::error_code ec;
        if (fs::exists(fs::path(out), ec)) {
            std::vector<std::string> kept;
            for (const std::string& f : files)
                if (!fs::equivalent(fs::path(f), fs::path(out), ec))
                    kept.push_back(f);
            files.swap(kept);
        }
        if (files.empty()) {
            Say("no input files besides the container itself");
            return kExitMissing;
        }
    }
    // Entries are found by their bare names: two of the same name would hide one.
    std::vector<std::string> names;
    for (const std::string& f : files) {
        std::string name = fs::path(f).filename().string();
        if (name.size() > static_cast<size_t>(kStgNameMax)) {
            Say(FormatText("entry name longer than %d characters: %s", kStgNameMax, name.c_str()));
            return kExitError;
        }
        for (const std::string& n : names)
            if (SameTextAscii(n, name)) {
                Say(FormatText("two input files are named %s; entry names must differ", name.c_str()));
                return kExitError;
            }
        names.push_back(name);
    }
    TStgCreateOptions options;
    options.Version = o.Version;
    if (o.Packed)
        options.Flags |= stgPacked;
    if (o.Scrambled)
        options.Flags |= stgScrambled;
    if (o.Encrypted)
        options.Flags |= stgEncrypted;
    if (o.AutoCompact)
        options.Flags |= stgAutoCompact;
    // An encrypted container carries the password check unless asked not
    // to: without it a wrong password yields wrong content that nothing can
    // tell from the right one.
    if (o.HasPassword && o.NoPasswordCheck && !o.Encrypted) {
        Say("--no-password-check with --password only makes sense with --encrypted");
        return kExitUsage;
    }
    if (o.HasPassword || o.Encrypted) {
        options.Password = o.Password;
        if (!o.NoPasswordCheck)
            options.Flags |= stgPassword;
    }
    try {
        TStgWriter writer(out, options);
        for (size_t i = 0; i < files.size(); ++i) {
            TFileStream in(files[i], fmOpenRead | fmShareDenyWrite);
            writer.AddEntry(names[i], in, -1, stgAttrComponentFile);
        }
        writer.Commit();
    } catch (const Exception& e) {
        Say(DescribeError(e));
        return kExitError;
    }
    std::printf("%s: %u entries\n", out.c_str(), unsigned(files.size()));
    return kExitOk;
}

// Says, once per command, when extracted content cannot be verified: entries
// that are not packed carry no checksum, and without a password check a
// wrong password deciphers to wrong bytes.
void WarnUnverifiable(const TovFileStg& stg, const std::string& file)
{
    uint16_t flags = stg.Header().Flags;
    if (flags & stgPacked)
        return;
    if ((flags & stgEncrypted) && !(flags & stgPassword))
        Say(FormatText("warning: %s is encrypted without a password check and not packed: the content cannot be "
                       "verified, and a wrong password gives wrong content",
                       file.c_str()));
    else
        Say(FormatText("warning: %s is not packed: its entries carry no checksum, so damaged content cannot be "
                       "detected",
                       file.c_str()));
}

int List(const Options& o)
{
    if (o.Positional.size() != 1)
        throw UsageError{"list needs FILE"};
    TovFileStg stg;
    int rc = OpenContainer(stg, o.Positional[0], o.Password);
    if (rc != kExitOk)
        return rc;
    for (const auto& item : stg.Directory())
        std::printf("%d\t%s\t%d\t0x%04X\n", item.second.Id, item.first.c_str(), item.second.StoredSize,
                    unsigned(item.second.Attributes));
    return kExitOk;
}

int Extract(const Options& o)
{
    if (o.Positional.size() != 2)
        throw UsageError{"extract needs FILE and DIR"};
    TovFileStg stg;
    int rc = OpenContainer(stg, o.Positional[0], o.Password);
    if (rc != kExitOk)
        return rc;
    WarnUnverifiable(stg, o.Positional[0]);
    std::string dir = o.Positional[1];
    std::error_code ec;
    fs::create_directories(fs::path(dir), ec);
    if (!fs::is_directory(fs::path(dir), ec)) {
        Say(FormatText("cannot create folder %s", dir.c_str()));
        return kExitError;
    }
    std::vector<const std::pair<std::string, TStgEntry>*> chosen;
    for (const auto& item : stg.Directory()) {
        if (item.second.Attributes & stgAttrDeleted)
            continue;
        if (o.HasName && !SameTextAscii(item.first, o.Name))
            continue;
        chosen.push_back(&item);
        if (o.HasName)
            break;
    }
    if (o.HasName && chosen.empty()) {
        Say(FormatText("no entry named %s in %s", o.Name.c_str(), o.Positional[0].c_str()));
        return kExitUnknownEntry;
    }
    int result = kExitOk;
    for (const auto* item : chosen) {
        std::string name = item->first;
        if (name.empty() || name.find_first_of("\\/:") != std::string::npos || name == "." || name == "..") {
            Say(FormatText("entry %d has a name that is not a file name: '%s'", item->second.Id, name.c_str()));
            result = kExitEntryFailed;
            continue;
        }
        std::string target = (fs::path(dir) / name).string();
        uint16_t code = stg.ExtractEntry(item->second.Id, target);
        if (code != stgOk) {
            Say(FormatText("%s: entry %d (%s) not extracted: %s", o.Positional[0].c_str(), item->second.Id,
                           name.c_str(), DescribeError(stg.LastError(), stg.LastSystemCode()).c_str()));
            result = kExitEntryFailed;
        } else {
            std::printf("%s\n", target.c_str());
        }
    }
    return result;
}

int Check(const Options& o)
{
    if (o.Positional.size() != 1)
        throw UsageError{"check needs FILE"};
    TovFileStg stg;
    int rc = OpenContainer(stg, o.Positional[0], o.Password);
    if (rc != kExitOk)
        return rc;
    WarnUnverifiable(stg, o.Positional[0]);
    int failed = 0, count = 0;
    for (const auto& item : stg.Directory()) {
        ++count;
        TNullStream sink;
        uint16_t code = stg.ExtractEntryToStream(item.second.Id, sink);
        if (code != stgOk) {
            ++failed;
            std::printf("FAILED\t%d\t%s\t%s\n", item.second.Id, item.first.c_str(), stg.LastError().c_str());
        } else {
            std::printf("ok\t%d\t%s\t%lld\n", item.second.Id, item.first.c_str(), static_cast<long long>(sink.Size));
        }
    }
    std::printf("%d entries, %d failed\n", count, failed);
    return failed ? kExitEntryFailed : kExitOk;
}

int Delete(const Options& o)
{
    if (o.Positional.size() != 2)
        throw UsageError{"delete needs FILE and NAME"};
    const std::string& file = o.Positional[0];
    if (!FileExists(file)) {
        Say(FormatText("file not found: %s", file.c_str()));
        return kExitMissing;
    }
    int marked;
    try {
        marked = StgMarkDeleted(file, o.Positional[1]);
    } catch (const EFOpenError& e) {
        Say(DescribeError(e));
        return kExitError;
    } catch (const Exception& e) {
        Say(DescribeError(e));
        return kExitNotStorage;
    }
    if (marked == 0) {
        Say(FormatText("no entry named %s in %s", o.Positional[1].c_str(), file.c_str()));
        return kExitUnknownEntry;
    }
    std::printf("%d entries marked deleted\n", marked);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string command = argv[1];
    try {
        Options o = ParseOptions(argc, argv, 2);
        if (command == "create")
            return Create(o);
        if (command == "list")
            return List(o);
        if (command == "extract")
            return Extract(o);
        if (command == "check")
            return Check(o);
        if (command == "delete")
            return Delete(o);
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        throw UsageError{FormatText("unknown command %s", command.c_str())};
    } catch (const UsageError& e) {
        Say(e.Text);
        std::fputs(kUsage, stderr);
        return kExitUsage;
    } catch (const std::exception& e) {
        Say(e.what());
        return kExitError;
    }
}
