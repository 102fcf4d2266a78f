// The plan of a setup: what a setup built from a project will do, as text,
// without building it (sxbuild --plan). Paths are shown as stored, with
// their folder macros, and expanded for one assumed Windows layout.
#pragma once

#include "sxProject.h"

#include <string>

// The folders that the macros stand for on the machine that runs the setup.
struct TPlanLayout {
    std::string ProgramFilesDir = "C:\\Program Files";
    std::string CommonFilesDir = "C:\\Program Files\\Common Files";
    std::string WindowsDir = "C:\\Windows";
    std::string SystemDir = "C:\\Windows\\System32";
    std::string TempDir = "C:\\Windows\\Temp\\";  // ends with a backslash, as the system gives it
    std::string ThisDir = "D:\\Setup";              // the folder of the running setup program
};

// The setup's macro expansion over a fixed layout: the first macro (in the
// order ProgramFilesDir, CommonFilesDir, WindowsDir, SystemDir, TempDir,
// ThisDir) found in the text is replaced everywhere, doubled backslashes are
// collapsed, and the text is expanded again while it holds a "<". Other text
// in angle brackets stays.
std::string ExpandPlanMacros(const std::string& text, const TPlanLayout& layout);

// The whole plan. Reads the setup script and takes the component INF lines
// from the project; raises EProjectError when the script cannot be read.
std::string MakePlan(const TProject& project, const TPlanLayout& layout = TPlanLayout());
