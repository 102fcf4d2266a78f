// Component packages made in a reproducible build: with SOURCE_DATE_EPOCH set
// a package written twice has the same bytes (its identifier included);
// without it, every package gets an identifier of its own.
#include <gtest/gtest.h>

#include "host/host_fixtures.h"
#include "ovStgImp.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Package(const std::string& name)
{
    std::string file = testing::TempDir() + name;
    {
        TStgCreateOptions options;
        options.Flags = stgPacked | stgScrambled;
        TStgWriter writer(file, options);
        const char text[] = "the same content every time";
        writer.AddEntry("a.txt", text, static_cast<int32_t>(sizeof text - 1));
        writer.Commit();
    }
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    std::remove(file.c_str());
    return bytes;
}


}  // namespace

TEST(ReproduciblePackages, SameBytesWithSourceDateEpoch)
{
    SetEpoch("1700000000");
    std::vector<uint8_t> a = Package("repro_a.stg"), b = Package("repro_b.stg");
    SetEpoch("1700000001");
    std::vector<uint8_t> c = Package("repro_c.stg");
    SetEpoch(nullptr);
    std::vector<uint8_t> d = Package("repro_d.stg"), e = Package("repro_e.stg");
    ASSERT_GT(a.size(), 168u);
    EXPECT_EQ(a, b);
    // The identifier (bytes 152..167) follows the variable, and is fresh without it.
    auto id = [](const std::vector<uint8_t>& p) { return std::vector<uint8_t>(p.begin() + 152, p.begin() + 168); };
    EXPECT_NE(id(a), id(c));
    EXPECT_NE(id(d), id(e));
    // Still a version-4 form.
    EXPECT_EQ(0x40, a[152 + 6] & 0xF0);
}
