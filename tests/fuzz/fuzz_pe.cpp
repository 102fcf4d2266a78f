// The PE resource reader and writer: load any bytes as an image; when they
// load, replace the archive resource and write the new image, then read
// that back (the writer's output must always load again).
#include "ovStream.h"
#include "sxPEFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TPEFile pe;
    try {
        pe.LoadFromBytes(std::vector<uint8_t>(data, data + size));
    } catch (const Exception&) {
        return 0;
    }
    TMemoryStream out;
    try {
        pe.Set(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), std::vector<uint8_t>(100, 0x5A));
        pe.SaveToStream(out);
    } catch (const Exception&) {
        return 0;  // an image this writer cannot rewrite is refused, not written
    }
    if (out.Size() > static_cast<int64_t>(size) + (1 << 20))
        __builtin_trap();  // the new image is the old one plus a small resource section
    TPEFile back;
    try {
        back.LoadFromBytes(std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size()));
    } catch (const Exception& e) {
        std::fprintf(stderr, "rewritten image refused: %s\n", e.message().c_str());
        __builtin_trap();  // the writer produced an image its own reader refuses
    }
    const TResEntry* e = back.Find(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"));
    if (!e || e->Data != std::vector<uint8_t>(100, 0x5A))
        __builtin_trap();
    return 0;
}
