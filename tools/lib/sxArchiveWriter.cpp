#include "sxArchiveWriter.h"

#include "ovBlowFish.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Files up to this size are read whole by a worker; larger ones are streamed.
constexpr int64_t kWholeFileLimit = 8 << 20;
// Stored bytes that workers may hold ahead of the writer.
constexpr int64_t kAheadBudget = 96 << 20;
constexpr int32_t kChunk = 1 << 20;
// A large file whose first chunk does not shrink below this share is stored.
constexpr double kStoreRatio = 0.98;

int32_t CheckedSize(int64_t size, const std::string& what)
{
    if (size < 0 || size > 0x7FFFFFFF)
        throw EStreamError(FormatText("%s is too large for the archive (at most 2 GB per file)", what.c_str()));
    return static_cast<int32_t>(size);
}

const std::string& SourceLabel(const TArchiveSource& s) { return s.Path.empty() ? s.Name : s.Path; }

// The stored form of one small file.
struct TStored {
    TFileInfo Entry;
    std::vector<uint8_t> Bytes;
};

void Encipher(std::vector<uint8_t>& bytes, TFileInfo& entry, const std::string& password)
{
    if (password.empty()) {
        entry.PlainSize = 0;
        return;
    }
    entry.PlainSize = CheckedSize(static_cast<int64_t>(bytes.size()), entry.Name);
    bytes.resize((bytes.size() + 7) / 8 * 8, 0);
    if (!bytes.empty())
        EncryptBuffer(bytes.data(), static_cast<int32_t>(bytes.size()), password);
}

std::vector<uint8_t> Deflate(const uint8_t* data, size_t size, int level)
{
    uLongf bound = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> out(bound);
    int rc = compress2(out.data(), &bound, data, static_cast<uLong>(size), level);
    if (rc != Z_OK)
        throw EStreamError(FormatText("zlib compression failed (%d)", rc));
    out.resize(bound);
    return out;
}

TStored ProduceWhole(const TArchiveSource& src, const TArchiveOptions& opt)
{
    TStored r;
    r.Entry.Name = src.Name;
    r.Entry.FolderIndex = src.FolderIndex;
    std::vector<uint8_t> plain;
    if (src.Path.empty()) {
        plain = src.Data;
    } else {
        TFileStream f(src.Path, fmOpenRead | fmShareDenyWrite);
        int64_t size = f.GetSize();
        plain.resize(static_cast<size_t>(CheckedSize(size, src.Path)));
        if (!plain.empty())
            f.ReadBuffer(plain.data(), static_cast<int32_t>(plain.size()));
    }
    r.Entry.Size = CheckedSize(static_cast<int64_t>(plain.size()), SourceLabel(src));
    r.Entry.Compressed = false;
    if (src.Compress) {
        std::vector<uint8_t> packed = Deflate(plain.data(), plain.size(), opt.Level);
        if (!opt.AutoStore || packed.size() < plain.size()) {
            r.Entry.Compressed = true;
            plain.swap(packed);
        }
    }
    r.Bytes.swap(plain);
    Encipher(r.Bytes, r.Entry, opt.Password);
    r.Entry.StoredSize = CheckedSize(static_cast<int64_t>(r.Bytes.size()), SourceLabel(src));
    return r;
}

// Writes the stored bytes, enciphering on the way (the chain runs on across
// chunks; the tail is zero-padded at Finish).
class TStoredSink {
public:
    TStoredSink(TStream& target, const std::string& password) : Target(target)
    {
        if (!password.empty()) {
            Cipher.reset(new TBlowfish());
            Cipher->SetKey(password);
        }
    }
    void Write(const uint8_t* data, size_t count)
    {
        Plain += static_cast<int64_t>(count);
        if (!Cipher) {
            Put(data, count);
            return;
        }
        Buffer.insert(Buffer.end(), data, data + count);
        size_t whole = Buffer.size() / 8 * 8;
        if (whole) {
            Cipher->Encrypt(Buffer.data(), static_cast<int32_t>(whole));
            Put(Buffer.data(), whole);
            Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(whole));
        }
    }
    void Finish()
    {
        if (Cipher && !Buffer.empty()) {
            Buffer.resize(8, 0);
            Cipher->Encrypt(Buffer.data(), 8);
            Put(Buffer.data(), 8);
            Buffer.clear();
        }
    }
    int64_t Plain = 0;   // bytes given
    int64_t Stored = 0;  // bytes written

private:
    void Put(const uint8_t* data, size_t count)
    {
        if (count) {
            Target.WriteBuffer(data, static_cast<int32_t>(count));
            Stored += static_cast<int64_t>(count);
        }
    }
    TStream& Target;
    std::unique_ptr<TBlowfish> Cipher;
    std::vector<uint8_t> Buffer;
};

// One block of a large file as raw deflate data: primed with the 32 KB that
// precede it, ended with a sync flush (or, for the last block, the final
// block), so that the blocks joined make one deflate stream.
void DeflateBlock(const uint8_t* data, size_t size, const uint8_t* dict, size_t dictSize, bool last, int level,
                  std::vector<uint8_t>& out, std::string& error)
{
    // A block that does not compress (random data) goes out as stored
    // deflate blocks: level 0 spends no time looking for matches.
    size_t probeSize = std::min<size_t>(size, 65536);
    if (probeSize >= 4096) {
        uLongf probeOut = compressBound(static_cast<uLong>(probeSize));
        std::vector<uint8_t> probe(probeOut);
        if (compress2(probe.data(), &probeOut, data, static_cast<uLong>(probeSize), 1) == Z_OK &&
            static_cast<double>(probeOut) >= kStoreRatio * static_cast<double>(probeSize))
            level = 0;
    }
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "zlib initialization failed";
        return;
    }
    if (dictSize)
        deflateSetDictionary(&z, dict, static_cast<uInt>(dictSize));
    out.resize(deflateBound(&z, static_cast<uLong>(size)) + 64);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    if ((last && rc != Z_STREAM_END) || (!last && rc != Z_OK) || z.avail_in != 0)
        error = "zlib compression failed";
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
}

// Compresses size bytes of f into one zlib stream, blocks of 2 MB on all
// cores; returns the bytes read.
int64_t DeflateInBlocks(TStream& f, int64_t size, const TArchiveOptions& opt, TStoredSink& sink,
                        const std::function<void(int64_t)>& advanced)
{
    constexpr size_t kBlock = 2 << 20, kWindow = 32768;
    int threads = opt.Threads > 0 ? opt.Threads : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::max(1, std::min(threads, 8));
    // zlib header: deflate, 32 KB window, the level's hint, check bits.
    uint8_t flevel = opt.Level <= 1 ? 0 : opt.Level <= 5 ? 1 : opt.Level == 6 ? 2 : 3;
    uint8_t header[2] = {0x78, static_cast<uint8_t>(flevel << 6)};
    header[1] = static_cast<uint8_t>(header[1] + (31 - (header[0] * 256 + header[1]) % 31));
    sink.Write(header, 2);
    uLong adler = adler32(0L, Z_NULL, 0);
    std::vector<uint8_t> dict;
    int64_t read = 0;
    std::vector<std::vector<uint8_t>> in(static_cast<size_t>(threads)), out(static_cast<size_t>(threads));
    std::vector<std::string> errors(static_cast<size_t>(threads));
    while (read < size) {
        int count = 0;
        for (; count < threads && read < size; ++count) {
            size_t n = static_cast<size_t>(std::min<int64_t>(kBlock, size - read));
            in[count].resize(n);
            f.ReadBuffer(in[count].data(), static_cast<int32_t>(n));
            read += static_cast<int64_t>(n);
        }
        bool lastBatch = read >= size;
        std::vector<std::thread> pool;
        for (int k = 0; k < count; ++k) {
            const uint8_t* d = k == 0 ? dict.data() : in[k - 1].data() + in[k - 1].size() - std::min(kWindow, in[k - 1].size());
            size_t ds = k == 0 ? dict.size() : std::min(kWindow, in[k - 1].size());
            bool last = lastBatch && k == count - 1;
            errors[k].clear();
            auto job = [&, k, d, ds, last]() { DeflateBlock(in[k].data(), in[k].size(), d, ds, last, opt.Level, out[k], errors[k]); };
            if (k == count - 1)
                job();
            else
                pool.emplace_back(job);
        }
        for (std::thread& t : pool)
            t.join();
        for (int k = 0; k < count; ++k) {
            if (!errors[k].empty())
                throw EStreamError(errors[k]);
            sink.Write(out[k].data(), out[k].size());
            adler = adler32(adler, in[k].data(), static_cast<uInt>(in[k].size()));
            advanced(static_cast<int64_t>(in[k].size()));
        }
        const std::vector<uint8_t>& tail = in[count - 1];
        size_t keep = std::min(kWindow, tail.size());
        dict.assign(tail.end() - static_cast<std::ptrdiff_t>(keep), tail.end());
    }
    uint8_t trailer[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                          static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
    sink.Write(trailer, 4);
    return read;
}

// Streams one large file from disk into target in bounded chunks.
TFileInfo StreamLarge(const TArchiveSource& src, const TArchiveOptions& opt, TStream& target,
                      const std::function<void(int64_t)>& advanced)
{
    TFileInfo entry;
    entry.Name = src.Name;
    entry.FolderIndex = src.FolderIndex;
    TFileStream f(src.Path, fmOpenRead | fmShareDenyWrite);
    int64_t size = f.GetSize();
    entry.Size = CheckedSize(size, src.Path);
    std::vector<uint8_t> in(kChunk);
    int64_t start = target.GetPosition();
    TStoredSink sink(target, opt.Password);

    // Decide on compression from the first chunk.
    int32_t first = f.Read(in.data(), kChunk);
    bool compress = src.Compress;
    if (compress && opt.AutoStore && first > 0) {
        std::vector<uint8_t> probe = Deflate(in.data(), static_cast<size_t>(first), opt.Level);
        compress = static_cast<double>(probe.size()) < kStoreRatio * first;
    }
    entry.Compressed = compress;

    int64_t read = 0;
    if (!compress) {
        int32_t n = first;
        for (;;) {
            if (n < 0)
                throw EReadError(FormatText("Cannot read %s", src.Path.c_str()));
            read += n;
            sink.Write(in.data(), static_cast<size_t>(n));
            if (n > 0)
                advanced(n);
            if (n == 0 || read >= size)
                break;
            n = f.Read(in.data(), kChunk);
        }
    } else {
        f.Seek(0, soFromBeginning);
        read = DeflateInBlocks(f, size, opt, sink, advanced);
    }
    if (read != size)
        throw EReadError(FormatText("%s changed while it was read", src.Path.c_str()));
    sink.Finish();
    entry.PlainSize = opt.Password.empty() ? 0 : CheckedSize(sink.Plain, src.Path);
    entry.StoredSize = CheckedSize(target.GetPosition() - start, src.Path);
    return entry;
}

int64_t SourceSize(const TArchiveSource& s)
{
    if (s.Path.empty())
        return static_cast<int64_t>(s.Data.size());
    TFileStream f(s.Path, fmOpenRead | fmShareDenyWrite);
    return f.GetSize();
}

// Workers that produce the stored bytes of the small files ahead of the
// writer, in entry order, holding at most kAheadBudget bytes not yet taken
// (the entry the writer waits for is always produced). The destructor stops
// and joins the workers, also when the writer leaves by an exception.
class TProducerPool {
public:
    TProducerPool(const std::vector<TArchiveSource>& sources, const TArchiveOptions& options,
                  std::vector<size_t> entries)
        : Sources(sources), Options(options), Entries(std::move(entries)), Slots(sources.size())
    {
        if (Entries.empty())
            return;
        int threads = options.Threads > 0 ? options.Threads : static_cast<int>(std::thread::hardware_concurrency());
        threads = std::max(1, std::min<int>(threads, static_cast<int>(Entries.size())));
        try {
            for (int t = 0; t < threads; ++t)
                Workers.emplace_back([this] { Work(); });
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~TProducerPool() { Stop(); }
    TProducerPool(const TProducerPool&) = delete;
    TProducerPool& operator=(const TProducerPool&) = delete;

    // The writer has come to entry i: workers may produce it whatever the budget.
    void WriterAt(size_t i)
    {
        {
            std::lock_guard<std::mutex> g(Lock);
            Writer = i;
        }
        Changed.notify_all();
    }

    // Waits for entry i and takes its stored bytes; a failure to produce
    // them is raised here, in the writer.
    TStored Take(size_t i)
    {
        TSlot slot;
        {
            std::unique_lock<std::mutex> g(Lock);
            Changed.wait(g, [&] { return Slots[i].Ready; });
            slot = std::move(Slots[i]);
            Slots[i] = TSlot();
            Ahead -= static_cast<int64_t>(slot.Stored.Bytes.size());
        }
        Changed.notify_all();
        if (!slot.Error.empty())
            throw EStreamError(slot.Error);
        return std::move(slot.Stored);
    }

private:
    struct TSlot {
        bool Ready = false;
        std::string Error;
        TStored Stored;
    };

    void Work()
    {
        for (;;) {
            size_t k = Next.fetch_add(1);
            if (k >= Entries.size())
                return;
            size_t i = Entries[k];
            {
                std::unique_lock<std::mutex> g(Lock);
                Changed.wait(g, [&] { return Stopping || i <= Writer || Ahead < kAheadBudget; });
                if (Stopping)
                    return;
            }
            TSlot done;
            try {
                done.Stored = ProduceWhole(Sources[i], Options);
            } catch (const Exception& e) {
                done.Error = e.message();
            } catch (const std::exception& e) {
                done.Error = e.what();
            }
            std::lock_guard<std::mutex> g(Lock);
            Ahead += static_cast<int64_t>(done.Stored.Bytes.size());
            done.Ready = true;
            Slots[i] = std::move(done);
            Changed.notify_all();
        }
    }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> g(Lock);
            Stopping = true;
        }
        Changed.notify_all();
        for (std::thread& t : Workers)
            if (t.joinable())
                t.join();
        Workers.clear();
    }

    const std::vector<TArchiveSource>& Sources;
    const TArchiveOptions& Options;
    const std::vector<size_t> Entries;  // the entries to produce, in order
    std::vector<TSlot> Slots;           // by entry
    std::mutex Lock;
    std::condition_variable Changed;
    size_t Writer = 0;  // entry the writer needs next
    int64_t Ahead = 0;  // stored bytes produced and not yet taken
    bool Stopping = false;
    std::atomic<size_t> Next{0};
    std::vector<std::thread> Workers;
};

// The sizes of all sources; a missing file is reported before anything is
// compressed. Files past kWholeFileLimit are marked for streaming.
int64_t MeasureSources(const std::vector<TArchiveSource>& sources, std::vector<int64_t>& sizes,
                       std::vector<bool>& large)
{
    size_t n = sources.size();
    sizes.assign(n, 0);
    large.assign(n, false);
    int64_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        sizes[i] = SourceSize(sources[i]);
        CheckedSize(sizes[i], SourceLabel(sources[i]));
        large[i] = !sources[i].Path.empty() && sizes[i] > kWholeFileLimit;
        total += sizes[i];
    }
    return total;
}

// The header with provisional entries (its length does not depend on the
// sizes) and the string table; answers where the header starts.
int64_t WriteProvisionalHeader(TSXHeader& header, const std::vector<TArchiveSource>& sources,
                               const std::string& table, TStream& target)
{
    header.Files.clear();
    for (const TArchiveSource& s : sources) {
        std::string why = SXStoredNameError(s.Name);
        if (!why.empty())
            throw EStreamError("Bad stored name '" + s.Name + "': " + why);
        TFileInfo f;
        f.Name = s.Name;
        f.FolderIndex = s.FolderIndex;
        header.Files.push_back(f);
    }
    int64_t headerStart = target.GetPosition();
    header.SaveAllToStream(target);
    WriteShortString(target, table);
    return headerStart;
}

}  // namespace

void MakePasswordCheck(TSXHeader& header, const std::string& password)
{
    std::memset(header.CheckBlock, 0, sizeof header.CheckBlock);
    if (password.empty()) {
        header.CheckLength = 0;
        header.Options &= static_cast<uint16_t>(~soPassword);
        return;
    }
    if (password.size() + 1 > static_cast<size_t>(SXMaxCheckLength))
        throw EStreamError("The password is too long (at most 127 characters)");
    if (password.find('\0') != std::string::npos)
        throw EStreamError("The password holds a zero byte");
    size_t length = (password.size() + 1 + 7) / 8 * 8;
    std::memcpy(header.CheckBlock, password.data(), password.size());
    EncryptBuffer(header.CheckBlock, static_cast<int32_t>(length), password);
    header.CheckLength = static_cast<int16_t>(length);
    header.Options |= soPassword;
}

void WriteArchive(TSXHeader& header, const std::vector<std::string>& strings,
                  const std::vector<TArchiveSource>& sources, const TArchiveOptions& options, TStream& target)
{
    if (options.Level < 1 || options.Level > 9)
        throw EStreamError("The compression level must be 1 to 9");
    if (sources.size() > 0x7FFF)
        throw EStreamError("Too many files for one archive (at most 32767)");
    MakePasswordCheck(header, options.Password);
    std::string table = JoinStringTable(strings);

    size_t n = sources.size();
    std::vector<int64_t> sizes;
    std::vector<bool> large;
    int64_t total = MeasureSources(sources, sizes, large);
    int64_t headerStart = WriteProvisionalHeader(header, sources, table, target);

    // Workers produce the small files' stored bytes ahead of the writer;
    // large files are streamed by the writer itself.
    std::vector<size_t> small;
    for (size_t i = 0; i < n; ++i)
        if (!large[i])
            small.push_back(i);
    TProducerPool pool(sources, options, std::move(small));

    int64_t done = 0;
    auto report = [&](int filesDone) {
        if (options.Progress)
            options.Progress(done, total, filesDone, static_cast<int>(n));
    };
    for (size_t i = 0; i < n; ++i) {
        pool.WriterAt(i);
        if (large[i]) {
            header.Files[i] = StreamLarge(sources[i], options, target, [&](int64_t step) {
                done += step;
                report(static_cast<int>(i));
            });
        } else {
            TStored stored = pool.Take(i);
            if (!stored.Bytes.empty())
                target.WriteBuffer(stored.Bytes.data(), static_cast<int32_t>(stored.Bytes.size()));
            header.Files[i] = stored.Entry;
            done += sizes[i];
        }
        report(static_cast<int>(i + 1));
    }

    // The real sizes: the header keeps its length, so it is rewritten in place.
    int64_t end = target.GetPosition();
    target.Seek(headerStart, soFromBeginning);
    header.SaveAllToStream(target);
    target.Seek(end, soFromBeginning);
}

std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size, int level)
{
    return Deflate(data, size, level);
}

std::vector<uint8_t> ZlibDecompress(const uint8_t* data, size_t size, int64_t limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw EStreamError("zlib initialization failed");
    std::unique_ptr<z_stream, void (*)(z_stream*)> owner(&z, [](z_stream* p) { inflateEnd(p); });
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(1 << 16);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    int rc;
    do {
        // Never more than one byte beyond the limit: that byte is the proof
        // that the data hold more than declared.
        size_t room = buf.size();
        if (limit >= 0)
            room = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), limit + 1 - static_cast<int64_t>(out.size())));
        z.next_out = buf.data();
        z.avail_out = static_cast<uInt>(room);
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT)
            throw EStreamError("corrupt compressed data");
        if (rc == Z_MEM_ERROR)
            throw EStreamError("out of memory while decompressing");
        if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && z.avail_in == 0))
            throw EStreamError("corrupt compressed data");
        out.insert(out.end(), buf.data(), buf.data() + (room - z.avail_out));
        if (limit >= 0 && static_cast<int64_t>(out.size()) > limit)
            throw EStreamError(FormatText("the compressed data hold more than the %s bytes declared",
                                          GroupedNumber(limit).c_str()));
        if (rc != Z_STREAM_END && z.avail_in == 0 && z.avail_out != 0)
            throw EStreamError("the compressed data end early (no end of stream after " +
                               GroupedNumber(static_cast<int64_t>(out.size())) + " bytes)");
    } while (rc != Z_STREAM_END);
    if (z.avail_in != 0)
        throw EStreamError(GroupedNumber(z.avail_in) + " bytes follow the end of the compressed data");
    return out;
}

std::vector<uint8_t> DecodeStoredData(const uint8_t* stored, size_t size, const TFileInfo& entry,
                                      const std::string& password)
{
    if (static_cast<int64_t>(size) != entry.StoredSize)
        throw EStreamError("Stored size does not match the entry");
    std::vector<uint8_t> data;
    if (!password.empty()) {
        if (entry.PlainSize < 0 || entry.PlainSize > entry.StoredSize)
            throw EStreamError("Plain size does not fit the stored data");
        TReadOnlyMemoryStream source(stored, static_cast<int64_t>(size));
        std::unique_ptr<TBlowfish> cipher(new TBlowfish());
        cipher->SetKey(password);
        TDeCryptStream decrypt(std::move(cipher), source, entry.PlainSize);
        data.resize(static_cast<size_t>(entry.PlainSize));
        if (!data.empty())
            decrypt.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
    } else {
        data.assign(stored, stored + size);
    }
    // Inflating stops one byte after the declared size: a damaged or hostile
    // entry cannot make the reader produce more than it claims.
    if (entry.Compressed)
        data = ZlibDecompress(data.data(), data.size(), entry.Size < 0 ? 0 : entry.Size);
    int64_t got = static_cast<int64_t>(data.size());
    if (got < entry.Size)
        throw EStreamError("the entry ends " + GroupedNumber(entry.Size - got) + " bytes early");
    if (got > entry.Size)
        throw EStreamError(FormatText("the entry holds more than the %s bytes declared",
                                      GroupedNumber(entry.Size).c_str()));
    return data;
}
