// Installation utilities: folder macros and system folders, strings and
// paths, temporary names, display formatting, file copy and file times, the
// process runner, the standard message boxes, locked-file replacement and the
// INI helpers. Each topic is implemented in its own ovUtils*.cpp file.
//
// Error contracts: operations that can fail answer bool or a documented
// "failed" value (RunAndWait -1, CopyFileData 0) and never raise, except
// where a comment names the exception.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ovRegistry.h"
#include "ovClass.h"  // TDateTime
#include "sxUtils.h"

// ---- Folder macros and system folders -------------------------------------

// Replaces the folder macros "<ProgramFilesDir>", "<CommonFilesDir>",
// "<WindowsDir>", "<SystemDir>", "<TempDir>" and "<ThisDir>" (case-sensitive).
// Each pass resolves the first macro of that list found in the text, replaces
// all its occurrences and collapses every doubled backslash of the result;
// passes repeat while a "<" remains and a macro was found. Other text in angle
// brackets stays. Raises ERegistryException when a pass needs the
// CurrentVersion key and it cannot be opened.
std::string ExpandMacros(const std::string& text);
// The string value `name` of the key
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion ("" when missing). Raises ERegistryException with the text
// "Cannot access system registry infromation in:\n...\n\nPlease make sure..."
// (the "\n" markers left for the message box to convert) when the key cannot
// be opened for reading.
std::string ReadCurrentVersionValue(const std::string& name);
// The same for any key: the string value `name` of root\keyPath opened for
// reading, the error naming rootName\keyPath.
std::string ReadSystemValue(HKEY root, const std::string& rootName, const std::string& keyPath,
                            const std::string& name);
std::string GetProgramFilesDir();
std::string GetCommonFilesDir();
std::string GetWindowsDir();  // no trailing backslash
std::string GetSystemDir();   // no trailing backslash
std::string GetTempDir();     // always ends with a backslash
// The folder of the running program, without the final backslash (a drive
// root keeps it: "C:\").
std::string GetThisDir();

// ---- Strings and paths -----------------------------------------------------

// ReplaceText of ovText.h, out of line.
std::string ReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText);
// Equal without regard to letter case (the system's rules).
bool SameText(const std::string& a, const std::string& b);
// "\"text\" " when the text holds a space, else "text ": always one trailing blank.
std::string QuoteIfSpaced(const std::string& text);
// The short (8.3) form of an existing path; the path itself when the system
// cannot give one.
std::string ShortPathOf(const std::string& path);
void RemoveEmptyLines(std::vector<std::string>& list);
// "None", "512B", "999K", "1.5M" (megabytes of 1,024,000 bytes, one decimal,
// the user's thousands and decimal separators).
std::string FormatSize(int32_t bytes);
// The same for sizes past 2 GB (bytes of a transfer).
std::string FormatSizeLarge(int64_t bytes);
// "%d min %d sec", or "%d hour %d min %d sec" from one hour on.
std::string FormatDuration(int32_t seconds);

// ---- Files -------------------------------------------------------------------

// A name "<folder>\ov~NNNNN<extension>" of a file that does not exist yet (the
// counter has at least five digits). An empty folder means GetTempDir(); a
// folder of one or two characters raises EAbort. Nothing is created.
std::string MakeTempName(const std::string& folder, const std::string& extension);
std::string MakeTempFileName(const std::string& folder);  // extension ".tmp"
// Copies the bytes of source into target (created or replaced), in blocks of
// 2,048 bytes. Returns the bytes written, or 0 after any failure.
int64_t CopyFileData(const std::string& source, const std::string& target);
// Sets the three time stamps from local date-times; 0 leaves a stamp as it
// is. Returns false when the file cannot be changed.
bool SetFileTimes(const std::string& fileName, TDateTime created, TDateTime accessed, TDateTime modified);
// The same on a file that is open with write access (one open less per file
// when the writer stamps the file before it closes it).
bool SetFileTimesOnHandle(HANDLE file, TDateTime created, TDateTime accessed, TDateTime modified);
// Sets the last-write time through the DOS date form (2 s resolution, years
// 1980 to 2099). A file that cannot be opened, or a date out of range, is
// left alone.
void SetFileDate(const std::string& fileName, TDateTime time);
// Makes `text` the whole content of the file. Raises EFCreateError when it
// cannot be created or replaced, EWriteError on a short write.
void SaveStringToFile(const std::string& text, const std::string& fileName);
// The whole content of a file; raises EFOpenError / EReadError.
std::string LoadStringFromFile(const std::string& fileName);
// Splits text into lines at CR LF, CR or LF (a final line break adds no line).
std::vector<std::string> SplitLines(const std::string& text);

// ---- Date and time -----------------------------------------------------------

TDateTime Now();  // local date and time
bool DateTimeToSystemTime(TDateTime value, SYSTEMTIME& time);
TDateTime SystemTimeToDateTime(const SYSTEMTIME& time);
// A local date-time to a UTC file time (false for dates the system rejects).
bool DateTimeToFileTime(TDateTime value, FILETIME& fileTime);
// A UTC file time to a local date-time.
TDateTime FileTimeToDateTime(const FILETIME& fileTime);

// ---- Processes ---------------------------------------------------------------

// The work folder (folder, else the application's folder, else the folder of
// the parameters; the current folder when that does not exist) and the
// command line (QuoteIfSpaced(application) + parameters).
void BuildCommandLine(const std::string& application, const std::string& parameters, const std::string& folder,
                      std::string& workFolder, std::string& commandLine);
// Starts the program and waits for its end. Returns its exit code, or -1 when
// it cannot be started. `abortCheck` (optional) is asked every 100 ms; true
// terminates the child with exit code 0. Never raises.
int RunAndWait(const std::string& application, const std::string& parameters, int showCommand, bool highPriority,
               const std::function<bool()>& abortCheck = {});

// ---- Message boxes -------------------------------------------------------------

// Captions: "Confirmation", "Information", "Error".
extern std::string ConfirmationCaption, InformationCaption, ErrorCaption;
// Task-modal Yes/No question; true for Yes. The text's "\n" markers become
// line breaks.
bool ConfirmBox(HWND owner, const std::string& text);
bool Confirm(const std::string& text);
// Error beep, then a task-modal error box in the foreground.
void ErrorBox(HWND owner, const std::string& text);
void ShowError(const std::string& text);

// ---- Locked-file replacement -----------------------------------------------------

// Makes room for fileName: clears its attributes and deletes it. When it
// cannot be deleted (locked) and both lists are given, records fileName in
// targetNames, changes fileName to a fresh ov~NNNNN.tmp name beside it (one
// that is neither on disk nor already in tempNames) and records that in
// tempNames.
void DeleteOrRedirect(std::string& fileName, std::vector<std::string>* tempNames,
                      std::vector<std::string>* targetNames);
// Asks the system to move each temporary file over its target at the next
// restart (or, with no target list, to delete it). Results are not examined.
void ScheduleReplacements(const std::vector<std::string>& tempNames, const std::vector<std::string>* targetNames);
// True on the NT family (GetVersionEx platform id 2).
bool IsNtPlatform();
// Writes the pairs into the "[rename]" section of <WindowsDir>\WININIT.INI,
// as "target=source" (or "NUL=source") in short form, each new line directly
// under the header. Raises the stream errors when the file cannot be written.
void WriteWininitRenames(const std::vector<std::string>& tempNames, const std::vector<std::string>* targetNames);
// The same on a given file.
void WriteWininitRenamesTo(const std::string& fileName, const std::vector<std::string>& tempNames,
                           const std::vector<std::string>* targetNames);

// ---- INI helpers ---------------------------------------------------------------

// Makes `lines` the only content of [section] (found without regard to case),
// moved to the end of the file; a file that cannot be read counts as empty.
// Raises EFCreateError when the file cannot be saved.
void ReplaceIniSection(const std::string& fileName, const std::string& section, const std::vector<std::string>& lines);
// Releases the object, then makes the system write its cached copy of the file.
void FlushIniFile(std::unique_ptr<TIniFile>& ini);
