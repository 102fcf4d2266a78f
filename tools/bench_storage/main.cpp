// Storage benchmark (prints figures; not a test). On the same data it times
// plain zlib inflate, plain Blowfish-CBC decryption, and the extraction of
// one large entry of a packed, scrambled and encrypted container through the
// whole filter chain, and prints MB/s for each and the ratio of the chain to
// the sum of its two main parts.
//
//   bench_storage [MEGABYTES (default 64)] [FOLDER for the container (default: the current one)]
#include "ovBlowFish.h"
#include "ovsFile.h"
#include "ovStgImp.h"
#include "ovsZIP.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

// CPU time of this process in seconds: steadier than the wall clock on a
// busy machine.
double CpuNow()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
#else
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
#endif
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Installer-like content: program text and tables that compress well,
// with stretches of already-compressed (random) bytes.
std::vector<uint8_t> MakeData(size_t size)
{
    std::vector<uint8_t> v;
    v.reserve(size + 256);
    uint32_t seed = 12345, line = 0;
    while (v.size() < size) {
        if ((v.size() >> 16) % 4 == 3) {
            for (int i = 0; i < 4096; ++i) {
                seed = seed * 1103515245u + 12345u;
                v.push_back(static_cast<uint8_t>(seed >> 16));
            }
        } else {
            seed = seed * 1103515245u + 12345u;
            std::string text = FormatText("%08u  call  near ptr sub_%06X ; table entry %u, flags 0x%04X\r\n", line++,
                                          seed & 0xFFFFFF, (seed >> 8) % 977, seed % 0x10000);
            v.insert(v.end(), text.begin(), text.end());
        }
    }
    v.resize(size);
    return v;
}

struct Timing {
    double Wall = 1e30;  // best wall-clock time of the runs
    double Cpu = 1e30;   // best CPU time of the runs
};

template <class F>
Timing Best(int runs, F f)
{
    Timing best;
    for (int i = 0; i < runs; ++i) {
        double w0 = Now(), c0 = CpuNow();
        f();
        best.Cpu = std::min(best.Cpu, CpuNow() - c0);
        best.Wall = std::min(best.Wall, Now() - w0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const int megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
    std::string folder = argc > 2 ? argv[2] : std::string();
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\')
        folder += '/';
    const size_t size = static_cast<size_t>(megabytes) << 20;
    const double mb = static_cast<double>(size) / (1 << 20);
    const std::string password = "bench password";
    const int runs = 7;

    std::printf("storage benchmark: one entry of %d MB, best of %d runs\n", megabytes, runs);
    std::vector<uint8_t> data = MakeData(size);

    // The compressed form, as the zip filter stores it.
    TMemoryStream packed;
    {
        TCompressionStream z(TZipFilter::kLevelIndex, packed);
        z.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
        z.Finish();
    }
    const double packedMb = static_cast<double>(packed.Size()) / (1 << 20);
    std::printf("  compressed size: %.1f MB (%.1f%% of the entry)\n", packedMb, 100.0 * packedMb / mb);

    // 1. Plain inflate of the compressed form.
    Timing inflate = Best(runs, [&] {
        packed.SetPosition(0);
        TDecompressionStream z(packed);
        std::vector<uint8_t> buf(65536);
        size_t total = 0;
        for (int32_t n; (n = z.Read(buf.data(), 65536)) > 0;)
            total += static_cast<size_t>(n);
        if (total != size)
            std::fprintf(stderr, "inflate gave %u bytes\n", unsigned(total));
    });

    // 2. Plain Blowfish-CBC decryption of as many bytes as the chain deciphers.
    const size_t cipherSize = (static_cast<size_t>(packed.Size()) + 7) / 8 * 8;
    std::vector<uint8_t> cipher(cipherSize, 0);
    std::memcpy(cipher.data(), packed.Memory(), static_cast<size_t>(packed.Size()));
    EncryptBuffer(cipher.data(), static_cast<int32_t>(cipher.size()), password);
    // Blowfish takes the same time whatever the bytes: each run deciphers the
    // buffer in place again, with a fresh cryptor, in the chain's piece size.
    std::vector<uint8_t> work = cipher;
    Timing decrypt = Best(runs, [&] {
        TBlowfish bf;
        bf.SetKey(password);
        for (size_t done = 0; done < work.size(); done += 32760)
            bf.Decrypt(work.data() + done, static_cast<int32_t>(std::min<size_t>(32760, work.size() - done)));
    });

    // 3. The whole chain: container file, source, Blowfish, scrambler, zip.
    std::string file = folder + "bench_storage.stg";
    {
        TStgCreateOptions options;
        options.Flags = stgPacked | stgScrambled | stgEncrypted | stgPassword;
        options.Password = password;
        TStgWriter writer(file, options);
        writer.AddEntry("large.bin", data.data(), static_cast<int32_t>(data.size()));
        writer.Commit();
    }
    bool chainOk = true;
    Timing chain = Best(runs, [&] {
        TovFileStg stg;
        if (stg.Open(file, password) != stgOk) {
            chainOk = false;
            return;
        }
        TNullStream sink;
        if (stg.ExtractEntryToStream(1, sink) != stgOk || sink.Size != static_cast<int64_t>(size))
            chainOk = false;
    });
    StgDeleteFile(file);
    if (!chainOk) {
        std::fprintf(stderr, "bench_storage: the chain extraction failed\n");
        return 1;
    }

    auto row = [](const char* what, const Timing& t, double amount, const char* unit) {
        std::printf("  %-24s %7.3f s %8.1f MB/s   cpu %7.3f s %8.1f MB/s  %s\n", what, t.Wall, amount / t.Wall, t.Cpu,
                    amount / std::max(t.Cpu, 1e-9), unit);
    };
    row("zlib inflate", inflate, mb, "(of plain output)");
    row("Blowfish-CBC decrypt", decrypt, packedMb, "(of compressed data)");
    row("full chain extraction", chain, mb, "(of plain output)");
    std::printf("  chain / (inflate + decrypt) = %.2f wall, %.2f cpu (target: at most 1.20)\n",
                chain.Wall / (inflate.Wall + decrypt.Wall), chain.Cpu / (inflate.Cpu + decrypt.Cpu));
    return 0;
}
