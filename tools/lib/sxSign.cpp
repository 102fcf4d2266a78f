#include "sxSign.h"

#include "sxBuildDate.h"
#include "ovFileBytes.h"
#include "sxTypes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace {

const char kTool[] = "osslsigncode";

// The tool's full path from PATH, or empty.
std::string FindTool()
{
    const char* path = std::getenv("PATH");
    if (!path)
        return std::string();
#ifdef _WIN32
    const char sep = ';';
    const char* names[] = {"osslsigncode.exe"};
#else
    const char sep = ':';
    const char* names[] = {"osslsigncode"};
#endif
    std::string list(path);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(sep, start);
        std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? list.size() + 1 : end + 1;
        if (dir.empty())
            continue;
        for (const char* n : names) {
            std::error_code ec;
            fs::path p = fs::path(dir) / n;
            if (fs::is_regular_file(p, ec))
                return p.string();
        }
    }
    return std::string();
}

#ifdef _WIN32
// _spawnv joins the arguments with blanks: each one is quoted the way the C
// runtime splits a command line again.
std::string QuoteArgument(const std::string& a)
{
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos)
        return a;
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, '\\');
    return q + "\"";
}
#else
std::string ReadLog(const std::string& name)
{
    std::string text;
    try {
        ReadFileStart(name, 16384, text, fmShareDenyNone);
    } catch (const EStreamError&) {
        text.clear();  // no log: the exit code alone says what happened
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}
#endif

}  // namespace

std::vector<std::string> SignCommand(const TSignOptions& options, const std::string& input,
                                     const std::string& output)
{
    std::vector<std::string> args = {kTool, "sign", "-certs", options.Certificate, "-key", options.Key,
                                     "-h", "sha256"};
    if (!options.PasswordFile.empty()) {
        args.push_back("-readpass");
        args.push_back(options.PasswordFile);
    }
    if (!options.TimestampUrl.empty()) {
        args.push_back("-ts");
        args.push_back(options.TimestampUrl);
    }
    int64_t epoch = 0;
    if (SourceDateEpoch(epoch)) {
        args.push_back("-time");
        args.push_back(std::to_string(epoch));
    }
    args.push_back("-in");
    args.push_back(input);
    args.push_back("-out");
    args.push_back(output);
    return args;
}

void CheckSignOptions(const TSignOptions& options)
{
    if (options.Certificate.empty())
        throw EStreamError("--sign-key needs --sign-cert");
    if (options.Key.empty())
        throw EStreamError("--sign-cert needs --sign-key");
    std::error_code ec;
    for (const std::string* f : {&options.Certificate, &options.Key, &options.PasswordFile})
        if (!f->empty() && !fs::is_regular_file(fs::path(*f), ec))
            throw EStreamError("Missing signing file: " + *f);
    int64_t epoch = 0;
    SourceDateEpoch(epoch);  // a malformed value is refused before the build
    if (FindTool().empty())
        throw EStreamError(
            "Cannot sign: osslsigncode is not installed or not on the PATH (Debian package osslsigncode)");
}

void SignFile(const TSignOptions& options, const std::string& input, const std::string& output)
{
    CheckSignOptions(options);
    std::vector<std::string> args = SignCommand(options, input, output);
    args[0] = FindTool();
#ifdef _WIN32
    std::string program = args[0];
    for (std::string& a : args)
        a = QuoteArgument(a);
#endif
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::remove(output.c_str());
    std::string log = output + ".log";
    int status = -1;
#ifdef _WIN32
    (void)log;
    intptr_t rc = _spawnv(_P_WAIT, program.c_str(), argv.data());
    status = rc < 0 ? -1 : static_cast<int>(rc);
    std::string messages;
#else
    // The tool's chatter goes to a log, shown only when it fails.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) {
        int ws = 0;
        while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
        }
        status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    }
    std::string messages = ReadLog(log);
    std::remove(log.c_str());
#endif
    std::error_code ec;
    if (status != 0 || !fs::is_regular_file(fs::path(output), ec)) {
        std::remove(output.c_str());
        throw EStreamError("Signing failed (osslsigncode" +
                           (status > 0 ? " exit code " + std::to_string(status) : std::string(" did not run")) + ")" +
                           (messages.empty() ? std::string() : ":\n" + messages));
    }
}
