// sxbuild: turns a setup project file and the product's files into a ready
// setup.exe (or a bare archive), and dumps existing setups.
//
//   sxbuild PROJECT.ini [-o OUT.exe] [--archive-only] [--quiet] [--stub PATH]
//                       [--set Section.Key=Value]... [--silent] [--threads N]
//                       [--sign-cert CERT --sign-key KEY [--sign-pass-file F]
//                        [--timestamp-url URL]]
//   sxbuild --plan PROJECT.ini [--set Section.Key=Value]...
//   sxbuild --dump FILE [--verify] [--password PW]
#include "sxBuilder.h"
#include "sxDump.h"
#include "sxPlan.h"
#include "sxProject.h"
#include "sxSign.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define SX_ISATTY _isatty
#else
#include <unistd.h>
#define SX_ISATTY isatty
#endif

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: sxbuild PROJECT.ini [-o OUT.exe] [--archive-only] [--quiet] [--stub PATH]\n"
    "                           [--set Section.Key=Value]... [--silent] [--threads N]\n"
    "                           [--sign-cert CERT --sign-key KEY [--sign-pass-file F]\n"
    "                            [--timestamp-url URL]]\n"
    "       sxbuild --plan PROJECT.ini [--set Section.Key=Value]... [--silent]\n"
    "       sxbuild --dump FILE [--verify] [--password PW]\n"
    "       sxbuild --list FILE\n"
    "\n"
    "  -o OUT            file to write (default: Output= of the project, else\n"
    "                    the project's name with .exe, or .sxa with --archive-only)\n"
    "  --archive-only    write the bare archive instead of a setup program\n"
    "  --stub PATH       the setup.exe stub (default: Stub= of the project, then\n"
    "                    setup.exe beside sxbuild, then the build tree's stub)\n"
    "  --set S.K=V       override a key of the project (e.g. --set Setup.Silent=yes)\n"
    "  --silent          the same as --set Setup.Silent=yes (unattended setup)\n"
    "  --threads N       compression threads (default: one per core)\n"
    "  --quiet           no progress line, warnings or summary\n"
    "  --sign-cert CERT  sign the setup with osslsigncode: certificate file\n"
    "  --sign-key KEY    its private key\n"
    "  --sign-pass-file F  file holding the key's password\n"
    "  --timestamp-url URL  RFC 3161 timestamp server for the signature\n"
    "  --plan PROJECT    print what the setup will do, build nothing\n"
    "  --dump FILE       print the header, strings and files of a setup or archive\n"
    "  --verify          with --dump: decode every file and check its size\n"
    "  --list FILE       one line per file of a setup or archive: size, folder, name\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "sxbuild: %s\n", message.c_str());
    return 1;
}

std::string SelfPath(const char* argv0)
{
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec || self.empty())
        self = fs::absolute(fs::path(argv0), ec);
    return self.string();
}

// The stub: beside sxbuild, or where the build trees put it.
std::string FindStub(const char* argv0)
{
    fs::path dir = fs::path(SelfPath(argv0)).parent_path();
    const char* candidates[] = {
        "setup.exe",
        "../setup/setup.exe",          // build/win32/tools/sxbuild.exe -> build/win32/setup
        "../../win32/setup/setup.exe", // build/host/tools/sxbuild -> build/win32/setup
    };
    for (const char* c : candidates) {
        std::error_code ec;
        fs::path p = dir / c;
        if (fs::is_regular_file(p, ec))
            return p.lexically_normal().string();
    }
    return std::string();
}

// The uninstaller that a project registering for uninstall carries when it
// names none: beside sxbuild, or where the build trees put it (beside the
// stub's tree as well).
std::string FindUninstaller(const char* argv0, const std::string& stub)
{
    // The stub's own tree first: a stub named on the command line comes with
    // the uninstaller built beside it, for the same Windows.
    std::vector<fs::path> candidates;
    if (!stub.empty()) {
        fs::path stubDir = fs::path(stub).parent_path();
        candidates.push_back(stubDir / "ovUninst.exe");
        candidates.push_back(stubDir / "../tools/ovUninst.exe");  // build/win32/setup/setup.exe
    }
    fs::path dir = fs::path(SelfPath(argv0)).parent_path();
    candidates.push_back(dir / "ovUninst.exe");                   // an installed tool set
    candidates.push_back(dir / "../../win32/tools/ovUninst.exe"); // build/host/tools/sxbuild
    for (const fs::path& p : candidates) {
        std::error_code ec;
        if (fs::is_regular_file(p, ec))
            return p.lexically_normal().string();
    }
    return std::string();
}

// Progress on a terminal: files and bytes done and the rate, at most ten
// times a second, and only once the build has run for a while (one second;
// SXBUILD_PROGRESS_AFTER_MS changes that, for tests). The line is erased at
// the end, so only the summary stays.
class TProgress {
public:
    explicit TProgress(bool enabled) : Enabled(enabled), Start(Clock::now()), Last(Start)
    {
        if (const char* after = std::getenv("SXBUILD_PROGRESS_AFTER_MS"))
            Delay = std::chrono::milliseconds(std::atol(after));
    }
    void Update(int64_t done, int64_t total, int files, int fileCount)
    {
        if (!Enabled)
            return;
        auto now = Clock::now();
        if (now - Start < Delay || (Shown && now - Last < std::chrono::milliseconds(100)))
            return;
        Last = now;
        double secs = std::chrono::duration<double>(now - Start).count();
        double mbs = secs > 0 ? done / 1048576.0 / secs : 0;
        int width = std::snprintf(nullptr, 0, "  %d/%d files  %.1f of %.1f MB  %.1f MB/s", files, fileCount,
                                  done / 1048576.0, total / 1048576.0, mbs);
        std::fprintf(stderr, "\r  %d/%d files  %.1f of %.1f MB  %.1f MB/s%*s", files, fileCount,
                     done / 1048576.0, total / 1048576.0, mbs, Width > width ? Width - width : 0, "");
        Width = std::max(Width, width);
        std::fflush(stderr);
        Shown = true;
    }
    void End()
    {
        if (Shown)
            std::fprintf(stderr, "\r%*s\r", Width, "");
        std::fflush(stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    bool Enabled;
    bool Shown = false;
    int Width = 0;
    std::chrono::milliseconds Delay{1000};
    Clock::time_point Start, Last;
};

// What the command line asks for.
struct TCommand {
    std::string Project, Output, Stub, Dump, List, Password;
    std::vector<std::string> Overrides;
    bool ArchiveOnly = false, Quiet = false, Verify = false, Plan = false;
    TSignOptions Sign;
    int Threads = 0;
};

// Reads the options; answers -1 to go on, else the exit code (usage shown).
int ParseCommandLine(int argc, char** argv, TCommand& c)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "sxbuild: %s needs %s\n", a.c_str(), what);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "-o" || a == "--output") c.Output = value("a file name");
        else if (a == "--archive-only") c.ArchiveOnly = true;
        else if (a == "--quiet" || a == "-q") c.Quiet = true;
        else if (a == "--stub") c.Stub = value("a file name");
        else if (a == "--set") c.Overrides.push_back(value("Section.Key=Value"));
        else if (a == "--silent") c.Overrides.push_back("Setup.Silent=yes");
        else if (a == "--threads") c.Threads = std::atoi(value("a number").c_str());
        else if (a == "--dump") c.Dump = value("a file name");
        else if (a == "--list") c.List = value("a file name");
        else if (a == "--verify") c.Verify = true;
        else if (a == "--plan") c.Plan = true;
        else if (a == "--sign-cert") c.Sign.Certificate = value("a certificate file");
        else if (a == "--sign-key") c.Sign.Key = value("a key file");
        else if (a == "--sign-pass-file") c.Sign.PasswordFile = value("a file name");
        else if (a == "--timestamp-url") c.Sign.TimestampUrl = value("a URL");
        else if (a == "--password") c.Password = value("a password");
        else if (a == "-h" || a == "--help") { std::fputs(kUsage, stdout); return 0; }
        else if (!a.empty() && a[0] == '-') { std::fprintf(stderr, "sxbuild: unknown option %s\n%s", a.c_str(), kUsage); return 2; }
        else if (c.Project.empty()) c.Project = a;
        else { std::fprintf(stderr, "sxbuild: more than one project named\n%s", kUsage); return 2; }
    }
    return -1;
}

// Runs one step of the command; an exception becomes the error message and
// exit code 1.
template <typename F>
int Guarded(F step)
{
    try {
        return step();
    } catch (const Exception& e) {
        return Fail(DescribeError(e));
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

// --list and --dump: the text on standard output; 1 when the file is not sound.
int Inspect(const TCommand& c)
{
    return Guarded([&] {
        std::string text;
        bool ok = !c.List.empty() ? ListArchive(ReadArchiveFile(c.List), text)
                                  : DumpFile(c.Dump, text, c.Verify, c.Password);
        std::fputs(text.c_str(), stdout);
        return ok ? 0 : 1;
    });
}

// The project with its overrides; one that registers for uninstall and names
// no uninstaller gets the one found beside sxbuild or the stub.
TProject LoadWithUninstaller(TCommand& c, const char* argv0)
{
    TProject p = LoadProject(c.Project, c.Overrides);
    if (!p.UninstallerWanted)
        return p;
    std::string guessStub = !c.Stub.empty() ? c.Stub : (!p.Stub.empty() ? p.Stub : FindStub(argv0));
    std::string uninstaller = FindUninstaller(argv0, guessStub);
    if (uninstaller.empty())
        throw Exception(c.Project + ": the product is registered for uninstall (Uninstall=yes), but ovUninst.exe "
                                       "was not found beside sxbuild or the stub; name it with Uninstaller=PATH, or "
                                       "leave it out with Uninstaller=none");
    c.Overrides.push_back("Setup.Uninstaller=" + uninstaller);
    return LoadProject(c.Project, c.Overrides);
}

// Builds the setup (or archive) of a loaded project and prints the summary.
int Build(const TCommand& c, const TProject& p, const char* argv0)
{
    TBuildOptions o;
    o.ArchiveOnly = c.ArchiveOnly;
    o.Threads = c.Threads;
    o.Output = !c.Output.empty() ? c.Output : p.Output;
    if (o.Output.empty()) {
        fs::path out(c.Project);
        out.replace_extension(c.ArchiveOnly ? ".sxa" : ".exe");
        o.Output = out.string();
    }
    if (!c.ArchiveOnly)
        o.Stub = !c.Stub.empty() ? c.Stub : (!p.Stub.empty() ? p.Stub : FindStub(argv0));
    if (c.Sign.Enabled()) {
        CheckSignOptions(c.Sign);  // before the long part of the work
        o.Sign = [&](const std::string& in, const std::string& out) { SignFile(c.Sign, in, out); };
    }
    // Only a terminal on both outputs shows the line: a log or pipe never
    // receives it.
    TProgress progress(!c.Quiet && SX_ISATTY(1) && SX_ISATTY(2));
    o.Progress = [&](int64_t done, int64_t total, int files, int count) { progress.Update(done, total, files, count); };
    auto t0 = std::chrono::steady_clock::now();
    TBuildResult r;
    try {
        r = BuildSetup(p, o);
    } catch (...) {
        progress.End();
        throw;
    }
    progress.End();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!c.Quiet)
        std::printf("%s: %d files, %.1f MB in, archive %.1f MB, %s %.1f MB, %.2f s\n", o.Output.c_str(), r.FileCount,
                    r.SourceBytes / 1048576.0, r.ArchiveBytes / 1048576.0,
                    c.ArchiveOnly ? "written" : (c.Sign.Enabled() ? "signed setup" : "setup"),
                    r.OutputBytes / 1048576.0, secs);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    TCommand c;
    int parsed = ParseCommandLine(argc, argv, c);
    if (parsed >= 0)
        return parsed;

    if (!c.List.empty())
        return Inspect(c);
    if (!c.Dump.empty()) {
        if (!c.Project.empty())
            return Fail("--dump takes no project");
        return Inspect(c);
    }
    if (c.Project.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if ((!c.Sign.PasswordFile.empty() || !c.Sign.TimestampUrl.empty()) && !c.Sign.Enabled()) {
        std::fprintf(stderr, "sxbuild: --sign-pass-file and --timestamp-url need --sign-cert and --sign-key\n");
        return 2;
    }
    if (c.Sign.Enabled() && (c.ArchiveOnly || c.Plan)) {
        std::fprintf(stderr, "sxbuild: only a setup program is signed (not with --archive-only or --plan)\n");
        return 2;
    }

    return Guarded([&] {
        TProject p = LoadWithUninstaller(c, argv[0]);
        if (!c.Quiet)
            for (const std::string& w : p.Warnings)
                std::fprintf(stderr, "sxbuild: warning: %s\n", w.c_str());
        if (c.Plan) {
            std::fputs(MakePlan(p).c_str(), stdout);
            return 0;
        }
        return Build(c, p, argv[0]);
    });
}
