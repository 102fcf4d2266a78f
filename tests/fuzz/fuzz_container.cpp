// The storage container: open (with and without a password), search, and
// extract every record through its filter chain into memory.
#include "fuzz_common.h"
#include "ovsFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string file = WriteScratch("container.stg", data, size);
    for (const char* password : {"", "fuzz"}) {
        TovFileStg stg;
        try {
            if (stg.Open(file, password) != stgOk)
                continue;
            // The directory (count and records) ends where the file ends
            // (auto-compaction at open may have rewritten the file).
            int64_t end = stg.HeaderSize() + stg.Header().DataSize + 4 +
                          static_cast<int64_t>(stg.Directory().size()) * kStgEntrySize;
            if (!(stg.Header().Flags & stgAutoCompact) && end != static_cast<int64_t>(size))
                __builtin_trap();
            TStgSearchFilter filter;
            filter.Mask = stgAttrComponentFile;
            TStgSearchRec rec;
            if (stg.FindFirst(&filter, rec) == stgOk)
                stg.FindClose(rec);
            for (const auto& item : stg.Directory()) {
                if (item.first.find('\0') != std::string::npos)
                    __builtin_trap();  // a cut name passed for another
                TNullStream sink;
                if (stg.ExtractEntryToStream(item.second.Id, sink) == stgOk &&
                    sink.Size > static_cast<int64_t>(0x7FFFFFFF))
                    __builtin_trap();
            }
            stg.Close();
        } catch (const Exception&) {
            // File errors of the scratch copy are not findings.
        }
    }
    return 0;
}
