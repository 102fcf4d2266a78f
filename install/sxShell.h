// Shell helpers: opening a document or program through the shell, and loading
// optional system libraries from the system folder only.
#pragma once

#include <windows.h>

#include <string>

// Opens `file` with the shell's "open" verb (normal window, no work folder,
// no wait). False when the shell refuses.
bool ShellOpen(const std::string& file, const std::string& params);

// Loads the library `name` (a bare file name such as "wininet.dll") from the
// system folder by its full path, never from the program's or the current
// folder. Null when it cannot be loaded or the name holds a path. The caller
// owns the module (wrap it in a TModuleHandle).
HMODULE LoadSystemLibrary(const char* name);

// Restricts, for the whole process, where libraries are looked up to the
// system folder: the program's own folder (a download folder may hold
// planted DLLs) and the current folder are never searched. Called first
// thing by each program. Uses SetDefaultDllDirectories where the system
// has it (looked up in kernel32 at run time), SetDllDirectoryA("") otherwise
// (which at least takes the current folder out of the search). True when
// the search is limited to the system folder.
//
// It then loads, from the system folder, the libraries that Windows' own
// libraries load later by bare name, some through delay-loaded imports that
// do not follow the restricted search (the common controls load the theme
// library so): once a library of that name is loaded, a later load by name
// takes it instead of a copy planted beside the program.
bool RestrictLibrarySearch();

// Loads a library given by its path (a relative one is made full first); its
// own dependencies are looked up in its folder and the system folder only
// (with the altered search order on systems without the restricted-search
// flags). Null on failure; the caller owns the module.
HMODULE LoadLibraryByPath(const std::string& path);
