#include "ovUtils.h"

#include "ovUtilsShared.h"

#include "sxHandles.h"

using namespace ovutils_detail;

// ---- Processes ---------------------------------------------------------------------------

void BuildCommandLine(const std::string& application, const std::string& parameters, const std::string& folder,
                      std::string& workFolder, std::string& commandLine)
{
    if (!folder.empty())
        workFolder = folder;
    else if (!application.empty())
        workFolder = FolderPart(application);
    else
        workFolder = FolderPart(parameters);
    if (!FolderExists(workFolder))
        workFolder = CurrentFolder();

    if (!parameters.empty())
        commandLine = QuoteIfSpaced(application) + parameters;
    else if (!application.empty())
        commandLine = QuoteIfSpaced(application);
    else
        commandLine.clear();
}

int RunAndWait(const std::string& application, const std::string& parameters, int showCommand, bool highPriority,
               const std::function<bool()>& abortCheck)
{
    std::string workFolder, commandLine;
    BuildCommandLine(application, parameters, "", workFolder, commandLine);
    if (commandLine.empty())
        return -1;

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION info = {};
    // A command line without an application begins with a blank; the
    // system's parser may take that for an empty program name, so the blanks
    // in front are dropped.
    size_t first = commandLine.find_first_not_of(' ');
    if (first == std::string::npos)
        return -1;
    std::vector<char> mutableLine(commandLine.begin() + static_cast<std::ptrdiff_t>(first), commandLine.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE,
                        highPriority ? HIGH_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS, nullptr,
                        workFolder.empty() ? nullptr : workFolder.c_str(), &startup, &info))
        return -1;
    TKernelHandle process(info.hProcess);
    CloseHandle(info.hThread);
    WaitForInputIdle(process.get(), 2000);

    // Wait on the process itself rather than on its exit code, so that a
    // program that ends with code 259 (the "still active" value) is not
    // waited for forever.
    while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        if (abortCheck && abortCheck()) {
            TerminateProcess(process.get(), 0);
            WaitForSingleObject(process.get(), INFINITE);
        }
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code))
        return -1;
    return static_cast<int>(code);
}
