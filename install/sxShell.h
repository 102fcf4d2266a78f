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
