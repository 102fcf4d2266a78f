// Objects handed to a constructor that then fails are destroyed exactly
// once, and a failed AddFilter leaves a working chain. The host tree built
// with -fsanitize=address turns a double delete or a leak here into a failure.
#include <gtest/gtest.h>

#include "ovBlowFish.h"
#include "ovsClass.h"
#include "ovsFile.h"
#include "ovsPipe.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int gDestroyed = 0;

class TSeekRefusingStream : public TMemoryStream {
public:
    int64_t Seek(int64_t, int) override { throw std::runtime_error("seek refused"); }
};

class TCountedStream : public TSeekRefusingStream {
public:
    ~TCountedStream() override { ++gDestroyed; }
};

class TCountedCipher : public TBlowfish {
public:
    ~TCountedCipher() override { ++gDestroyed; }
};

class TCountedFilter : public TDataFilter {
public:
    explicit TCountedFilter(std::unique_ptr<TDataFilter> inner) : TDataFilter(std::move(inner)) {}
    ~TCountedFilter() override { ++gDestroyed; }
};

// Filters whose constructor fails: over an inner filter its base has
// already taken, or alone (as a pipeline makes them).
class TFailingFilter : public TDataFilter {
public:
    TFailingFilter() { throw std::runtime_error("filter refused"); }
    explicit TFailingFilter(std::unique_ptr<TDataFilter> inner) : TDataFilter(std::move(inner))
    {
        throw std::runtime_error("filter refused");
    }
};

}  // namespace

TEST(Ownership, FailedConstructorsDestroyWhatTheyTookOnce)
{
    struct TCase {
        const char* name;
        void (*run)();
    };
    const TCase cases[] = {
        {"piped file whose window cannot seek",
         [] {
             std::unique_ptr<TStream> window(new TCountedStream);
             TPipedFile piped(nullptr, std::move(window), pfZip | pfScramble, "pw");
         }},
        {"decrypt stream over a source that fails to seek",
         [] {
             TSeekRefusingStream source;
             std::unique_ptr<TCryptor> cipher(new TCountedCipher);
             TDeCryptStream stream(std::move(cipher), source, 8);
         }},
        {"filter failing over an inner filter",
         [] {
             std::unique_ptr<TDataFilter> inner(new TCountedFilter(nullptr));
             TFailingFilter filter(std::move(inner));
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        gDestroyed = 0;
        EXPECT_THROW(c.run(), std::runtime_error);
        EXPECT_EQ(gDestroyed, 1);
    }
}

// A filter that cannot be made leaves the chain as it was: same filters, same
// data start, and an entry still goes through it and back.
TEST(Ownership, FailedAddFilterKeepsTheChain)
{
    TMemoryStream file;
    file.WriteBuffer("\0\0", 2);
    const std::string text = "the chain still works";
    {
        TConnectedStream window(file, 0);
        TPipeline pipe(&window, pfScramble);
        TXORScramblerFilter* top = pipe.AddFilter<TXORScramblerFilter>();
        const int32_t dataStart = pipe.DataStart();
        EXPECT_THROW(pipe.AddFilter<TFailingFilter>(), std::runtime_error);
        ASSERT_EQ(pipe.Filters().size(), 2u);
        EXPECT_EQ(pipe.TopFilter(), top);
        EXPECT_EQ(pipe.DataStart(), dataStart);
        pipe.Open(kOpenWrite);
        pipe.TopFilter()->Write(text.data(), static_cast<int32_t>(text.size()));
        pipe.Close();
    }
    TConnectedStream window(file, 0);
    TPipeline pipe(&window, pfScramble);
    pipe.AddFilter<TXORScramblerFilter>();
    pipe.Open(kOpenRead);
    TMemoryStream out;
    pipe.SaveToStream(out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size())), text);
}
