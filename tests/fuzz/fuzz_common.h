// Shared helpers of the fuzz harnesses: a scratch folder per process and
// writing the input to a file there (for the readers that take file names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

// A folder of its own for this process (harnesses may run in parallel).
inline const std::string& ScratchDir()
{
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string d = std::string(base && *base ? base : "/tmp") + "/sxfuzz-" + std::to_string(::getpid());
        ::mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

inline std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size)
{
    std::string path = ScratchDir() + "/" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
