// Builds a setup from a loaded project: the archive, then a copy of the stub
// with the archive ("SX_STORAGE") and the optional libraries ("DIALOGS",
// "CLIENT_DLL") added as RCDATA resources, the icon and version information
// when the project gives them. Output is written under a temporary name and
// renamed at the end: on any error nothing is left at the output path (an
// older file there stays as it was).
#pragma once

#include "sxProject.h"

#include <cstdint>
#include <functional>
#include <string>

struct TBuildOptions {
    std::string Output;        // file to write
    std::string Stub;          // stub setup.exe (not needed with ArchiveOnly)
    bool ArchiveOnly = false;  // write the bare archive
    int Threads = 0;           // 0: one per core
    std::function<void(int64_t done, int64_t total, int filesDone, int fileCount)> Progress;
    // Signs the finished image (input) into a new file (output) before it
    // takes the output's name; raises on failure (nothing is left then).
    std::function<void(const std::string& input, const std::string& output)> Sign;
};

struct TBuildResult {
    int64_t SourceBytes = 0;   // plain bytes of all files
    int64_t ArchiveBytes = 0;  // length of the archive
    int64_t OutputBytes = 0;   // length of the file written
    int FileCount = 0;
};

// Raises Exception (EProjectError, EStreamError, EPEFormat...) on failure.
TBuildResult BuildSetup(const TProject& project, const TBuildOptions& options);

// Replaces target by source (both on one volume); raises EStreamError.
void ReplaceOutputFile(const std::string& source, const std::string& target);
