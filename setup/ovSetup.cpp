// The program's entry: creates the extractor, drives it, absorbs every error
// and sets the exit code. Everything else lives in the runtime library.
#include "sxExtractSLComp.h"
#include "sxShell.h"
#include "sxUtils.h"

#include <windows.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Before anything can load a library: only the system folder is searched,
    // never the folder the setup was started from (a download folder may
    // hold DLLs that a web page saved there).
    RestrictLibrarySearch();
    // Shell links of the setup script go through COM.
    CoInitialize(nullptr);
    // One optional argument: a file whose resources hold the archive.
    std::string argument = __argc > 1 && __argv[1] ? __argv[1] : "";
    int code = RunSetup([] { return std::unique_ptr<TSXExtractor>(new TSXExtractorSLComp); }, argument,
                        RunLogFileName(GetThisFile()));
    CoUninitialize();
    return code;
}
