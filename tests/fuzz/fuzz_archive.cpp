// The setup archive as the builder's dump reads it: header, string table and
// (with verify) every file's stored data, deciphered with a fixed password
// when the archive asks for one, then inflated and checked against its entry.
#include "sxDump.h"
#include "sxTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> archive(data, data + size);
    std::string text;
    try {
        DumpArchive(archive, text, true, "fuzz");
        text.clear();
        ListArchive(archive, text);
    } catch (const Exception&) {
        // A damaged archive may be refused with an exception; never a crash.
    }
    // The header reader alone, as the setup program uses it: never throws.
    TReadOnlyMemoryStream s(data, static_cast<int64_t>(size));
    TSXHeaderSL h;
    if (h.LoadFromStream(s)) {
        for (const TFileInfo& f : h.Files)
            if (!SXStoredNameError(f.Name).empty())
                __builtin_trap();  // the reader let through a name that leaves its folder
        try {
            ReadShortString(s);
        } catch (const Exception&) {
        }
    }
    return 0;
}
