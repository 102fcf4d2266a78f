// The setup project reader on any text: sections, keys, file lines with
// wildcards (a few source files exist beside the project), overrides.
#include "fuzz_common.h"
#include "sxProject.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Touch(const std::string& rel)
{
    std::string path = ScratchDir() + "/" + rel;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fputs("x", f);
        std::fclose(f);
    }
}

// Source files for the file lines: two folders, short and long names.
void MakeSources()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    ::mkdir((ScratchDir() + "/d").c_str(), 0700);
    ::mkdir((ScratchDir() + "/d/sub").c_str(), 0700);
    for (const char* rel : {"a.txt", "b.dat", "license.txt", "setup.inf", "d/one.txt", "d/sub/two.bin",
                            "d/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
        Touch(rel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MakeSources();
    std::string file = WriteScratch("p.ini", data, size);
    try {
        TProject p = LoadProject(file);
        for (const TArchiveSource& f : p.Files)
            if (!SXStoredNameError(f.Name).empty())
                __builtin_trap();  // the builder would store a name that leaves its folder
    } catch (const Exception&) {
        // Mistakes are reported as exceptions with file and line.
    }
    return 0;
}
