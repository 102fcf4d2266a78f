// Run state and small helpers of the setup driver: the run log, path joining,
// folder creation, the message pump, Delay and window centring.
//
// The run log: unattended runs write every message as an entry of RunLog
// instead of showing it. An entry is
//
//   CR LF CR LF CR LF, 80 asterisks, CR LF        (the separator)
//   <kind> " (" <tag> "): " CR LF CR LF <message>
//
// with kind "Error" for a positive severity and "Hidden Message" otherwise.
// The first entry is preceded by the line "Created on <local short date>
// <local long time>". The message goes in as given: callers turn the stored
// two-character "\n" markers of their texts into line breaks with
// ConvertLineBreaks BEFORE inserting values such as paths, so that a path like
// C:\new\app.dll in a message is logged unchanged. LogMessage itself never
// converts anything.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sxTypes.h"  // SilentMode, ReadShortString, WriteShortString

// The run log being built in memory, and the highest severity logged so far
// (the exit code of an unattended run).
extern std::string RunLog;
extern int32_t MaxSeverity;

// Severities in use.
enum : int32_t { svInformation = 0, svError = 8 };

// Appends one entry to RunLog (format above) and raises MaxSeverity. A
// positive severity then raises EAbort, the silent abort of the run.
void LogMessage(int32_t severity, const std::string& tag, const std::string& message);

// Every message and question of a run goes through here, so that the choice
// between the run log and the screen is made in one place. Unattended,
// logText is logged under tag and `unattended` is the answer; with a positive
// severity logging ends the run, so nothing is shown and nothing returns.
// Interactive, ask() puts the message in front of the user and its result is
// the answer. The logged text may differ from the shown one (a license is
// logged as accepted, not reproduced).
// LogMessage for RouteMessage: out of line, so that no call site builds the
// tag's string.
void LogRouted(int32_t severity, const char* tag, const std::string& text);
void LogRouted(int32_t severity, const char* tag, const char* text);

template <class Ask, class Text>
auto RouteMessage(int32_t severity, const char* tag, const Text& logText, Ask ask,
                  decltype(ask()) unattended = {}) -> decltype(ask())
{
    if (SilentMode) {
        LogRouted(severity, tag, logText);
        return unattended;
    }
    return ask();
}

// The cannot-write message of the extraction and the component setup, as
// stored (with \n markers), one %s for the path.
extern const char* const SXCannotWriteText;

// Every two-character sequence backslash + "n" becomes CR LF.
std::string ConvertLineBreaks(const std::string& text);

// name when folder is empty; folder + name when folder ends with a backslash;
// else folder + "\" + name.
std::string JoinPath(const std::string& folder, const std::string& name);
// The path without one final backslash, if it has one.
std::string RemoveTrailingBackslash(const std::string& path);
// The folder part of a path up to and including its last backslash (empty
// when there is none).
std::string ExtractFilePath(const std::string& path);
// The name after the last backslash (the whole text when there is none).
std::string ExtractFileName(const std::string& path);

// True for an existing folder. Drive forms are not looked up: "X:" and "X:\"
// are true for any letter, an empty or one-character path is false. A path
// holding a wildcard ("*" or "?") is false.
bool FolderExists(const std::string& path);
// Creates the folder and its missing parents. Returns false (never raises)
// when the folder does not exist afterwards.
bool ForceFolders(const std::string& path);
// The same for a path of the form "X:\..." (or "\\server\share\..."), adding
// each folder it creates to *created, outermost first. Returns false at the
// first folder it cannot create; folders made before stay and stay listed.
bool ForceFoldersEx(const std::string& path, std::vector<std::string>* created);

// Takes at most one waiting message of this thread's queue and dispatches it.
void PumpMessage();
// Waits at least `milliseconds`, in steps of 50 ms, calling `callback` (when
// given) after each step.
void Delay(int milliseconds, const std::function<void()>& callback = {});
// Moves `window` (no resize, activation or z-order change) so that it is
// centred over `parent`, or over the screen when parent is null; kept inside
// the screen.
void CenterWindow(HWND parent, HWND window);

// Full path of the running executable (no MAX_PATH limit).
std::string GetThisFile();
