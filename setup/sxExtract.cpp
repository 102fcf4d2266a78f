// The extractor core and the program's run. See sxExtract.h.
#include "sxExtract.h"

#include "ovBlowFish.h"
#include "ovUtils.h"
#include "ovsZIP.h"
#include "sxDialogs.h"
#include "sxFolderDlg.h"
#include "sxUtils.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstring>

const char* const SXStorageResourceName = "SX_STORAGE";

namespace {

// The nearest integer, halves going to the even neighbour.
int RoundEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

// A read-only window of `length` bytes of a stream that is not in memory,
// starting at its position when the window is made. Each read seeks the
// underlying stream, so the window stays exact whatever else moved it.
class TStreamWindow : public TStream {
public:
    TStreamWindow(TStream& source, int64_t length) : Source(source), Start(source.GetPosition()), Length(length) {}
    int32_t Read(void* buffer, int32_t count) override
    {
        int64_t left = Length - Position;
        if (count <= 0 || left <= 0)
            return 0;
        if (count > left)
            count = static_cast<int32_t>(left);
        Source.Seek(Start + Position, soFromBeginning);
        int32_t got = Source.Read(buffer, count);
        if (got > 0)
            Position += got;
        return got;
    }
    int32_t Write(const void*, int32_t) override { throw EStreamError("Invalid stream operation"); }
    int64_t Seek(int64_t offset, int origin) override
    {
        switch (origin) {
        case soFromBeginning: Position = offset; break;
        case soFromCurrent: Position += offset; break;
        case soFromEnd: Position = Length + offset; break;
        default: throw EStreamError("Invalid stream operation");
        }
        Position = std::max<int64_t>(0, std::min(Position, Length));
        return Position;
    }

private:
    TStream& Source;
    int64_t Start;
    int64_t Length;
    int64_t Position = 0;
};

// Formats the numbered-subfolder pattern with n. The pattern comes from the
// archive: only its first integer conversion (%d, %i, %u, %x, %X with flags,
// width and precision) takes n and "%%" gives a percent sign; any other "%"
// stays as it is, so a damaged pattern can never read arguments that are
// not there.
std::string FormatNumbered(const std::string& pattern, int n)
{
    std::string result;
    bool used = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%') {
            result += c;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            result += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < pattern.size() && std::strchr("-+ 0#", pattern[j]))
            ++j;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9')
            ++j;
        if (j < pattern.size() && pattern[j] == '.') {
            ++j;
            while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9')
                ++j;
        }
        if (!used && j < pattern.size() && std::strchr("diuxX", pattern[j]) && j - i < 16) {
            char spec[24];
            std::memcpy(spec, pattern.data() + i, j - i + 1);
            spec[j - i + 1] = 0;
            std::string number = FormatText(spec, n);
            if (number.size() > 63)  // as much as a name of the pattern may take
                number.resize(63);
            result += number;
            used = true;
            i = j;
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace

// ---- TSXExtractor -----------------------------------------------------------

TSXExtractor::TSXExtractor() : Header(CreateHeader()) {}

TSXExtractor::~TSXExtractor() = default;

TSXHeader* TSXExtractor::CreateHeader()
{
    return new TSXHeader;
}

int TSXExtractor::FileCount() const
{
    return Header->FileCount > 0 ? static_cast<int>(std::min<size_t>(Header->FileCount, Header->Files.size())) : 0;
}

std::string TSXExtractor::GetString(int i) const
{
    if (i < 0 || static_cast<size_t>(i) >= Strings.size())
        return std::string();
    return Strings[i];
}

bool TSXExtractor::PrepareFile(std::string& path, const TFileInfo&)
{
    std::string folder = ExtractFilePath(path);
    if (folder != KnownFolder && ForceFolders(folder))
        KnownFolder = folder;
    return true;
}

void TSXExtractor::PrepareTarget(std::string& path)
{
    if (FileExists(path))
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
}

void TSXExtractor::FileExtracted(const std::string&, const TFileInfo&) {}

void TSXExtractor::GetFilePath(int i, std::string& path)
{
    path = JoinPath(TargetFolder, Header->Files[i].Name);
}

bool TSXExtractor::Initialize(const std::string& argument)
{
    SourceFile = argument;
    if (argument.empty()) {
        Module = GetModuleHandleA(nullptr);
        return true;
    }
    OwnedModule.reset(LoadLibraryExA(argument.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    Module = OwnedModule.get();
    OwnsModule = OwnedModule.valid();
    return OwnsModule;
}

bool TSXExtractor::LoadHeader()
{
    return Header->LoadFromStream(*Stream);
}

bool TSXExtractor::Load(TStream& stream)
{
    Stream = &stream;
    bool ok = LoadHeader();
    if (ok) {
        try {
            Strings = SplitLines(ReadShortString(stream));
            ok = !Strings.empty();
            // The stored data of every file must be there: a short archive is
            // rejected before anything is written.
            if (ok) {
                int64_t need = 0;
                for (int i = 0; i < FileCount(); ++i)
                    need += Header->Files[i].StoredSize;
                int64_t pos = stream.GetPosition();
                int64_t size = stream.Seek(0, soFromEnd);
                stream.Seek(pos, soFromBeginning);
                ok = size - pos >= need;
            }
        } catch (const EAbort&) {
            throw;
        } catch (const std::exception&) {
            ok = false;
        }
    }
    if (!ok)
        RouteMessage(svError, "Initialization Code 258", "Error", [] {
            return MessageBoxA(nullptr, "Invalid file format.", "Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
        });
    return ok;
}

bool TSXExtractor::Welcome()
{
    std::string text = ConvertLineBreaks(GetString(sxsWelcomeText));
    if (text.empty() || text == ".")
        return true;
    return RouteMessage(svInformation, "Welcome Message Code 259", text, [&] {
        return MessageBoxA(nullptr, text.c_str(), GetString(sxsWelcomeCaption).c_str(),
                           MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
    }, true);
}

bool TSXExtractor::GetPassword()
{
    if (!(Header->Options & soPassword)) {
        Password.clear();
        return true;
    }
    // Shown in unattended mode as well: the password cannot come from anywhere else.
    return AskPassword(GetString(sxsPasswordCaption), ConvertLineBreaks(GetString(sxsPasswordPrompt)),
                       ConvertLineBreaks(GetString(sxsWrongPassword)), GetString(sxsOK), GetString(sxsCancel),
                       [this](const std::string& typed) { return CheckPassword(typed); });
}

bool TSXExtractor::CheckPassword(const std::string& typed)
{
    uint8_t work[SXMaxCheckLength + 1] = {};
    std::memcpy(work, Header->CheckBlock, SXMaxCheckLength);
    int length = std::max(0, std::min<int>(Header->CheckLength, SXMaxCheckLength));
    DecryptBuffer(work, length, typed);
    if (std::strcmp(reinterpret_cast<const char*>(work), typed.c_str()) == 0 &&
        std::strlen(reinterpret_cast<const char*>(work)) == typed.size()) {
        Password = typed;
        return true;
    }
    MessageBeep(MB_OK);
    return false;
}

bool TSXExtractor::GetTargetFolder()
{
    if (!(Header->Options & soAskFolder) || SilentMode)
        return true;
    for (;;) {
        PumpMessage();
        std::string folder = TargetFolder;
        if (BrowseForFolder(nullptr, GetString(sxsFolderCaption), ConvertLineBreaks(GetString(sxsFolderPrompt)),
                            GetString(sxsOK), GetString(sxsCancel), folder)) {
            TargetFolder = folder;
            break;
        }
        if (MessageBoxA(nullptr, ConvertLineBreaks(GetString(sxsExitQuestion)).c_str(),
                        GetString(sxsSetupName).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES)
            return false;
    }
    if (!TargetFolder.empty() && TargetFolder.back() != '\\')
        TargetFolder += '\\';
    std::string pattern = GetString(sxsNumberedFolder);
    if ((Header->Options & soNumberedFolder) && !pattern.empty()) {
        int n = 1;
        while (FolderExists(TargetFolder + FormatNumbered(pattern, n)))
            ++n;
        TargetFolder += FormatNumbered(pattern, n) + '\\';
    }
    return true;
}

bool TSXExtractor::ExtractFiles()
{
    if (SilentMode) {
        DoExtract(nullptr);
        return true;
    }
    return RunProgressDialog(GetString(sxsSetupName), ConvertLineBreaks(GetString(sxsProgressText)),
                             GetString(sxsCancel), [this](TProgressDlg& dialog) { DoExtract(&dialog); });
}

void TSXExtractor::SkipFileData(const TFileInfo& entry)
{
    Stream->Seek(entry.StoredSize, soFromCurrent);
}

void TSXExtractor::ExtractOneFile(const TFileInfo& entry, std::string& path, bool& dataRead)
{
    PrepareTarget(path);
    std::unique_ptr<TFileStream> target(new TFileStream(path, fmCreate));
    // A file that fails half-way is removed, never left short.
    const std::string written = path;
    auto removePartial = MakeScopeExit([&] {
        target.reset();
        DeleteFileA(written.c_str());
    });

    // The stored bytes are decoded straight from the archive: a window over
    // the resource memory when the archive is in memory, so that memory use
    // does not grow with the size of the file.
    std::unique_ptr<TStream> source;
    int64_t position = Stream->GetPosition();
    if (TReadOnlyMemoryStream* memory = Stream->AsMemoryWindow()) {
        if (memory->Size() - position < entry.StoredSize)
            throw EReadError("Stream read error");
        source.reset(new TReadOnlyMemoryStream(memory->Memory() + position, entry.StoredSize));
    } else {
        int64_t size = Stream->Seek(0, soFromEnd);
        Stream->Seek(position, soFromBeginning);
        if (size - position < entry.StoredSize)
            throw EReadError("Stream read error");
        source.reset(new TStreamWindow(*Stream, entry.StoredSize));
    }
    Stream->Seek(position + entry.StoredSize, soFromBeginning);
    dataRead = true;

    DecodeFile(*source, *target, Password, entry);
    removePartial.Dismiss();
    Written = std::move(target);
}

int TSXExtractor::ReportCannotWrite(const std::string& path, bool dataRead)
{
    // The stored text is converted first and the path inserted afterwards, so
    // the backslashes of the path stay as they are.
    std::string message = FormatText(ConvertLineBreaks(SXCannotWriteText).c_str(), path.c_str());
    return RouteMessage(svError, "Setup Extract Files Code 261", message, [&] {
        return MessageBoxA(nullptr, message.c_str(), "Error",
                           MB_ICONERROR | MB_SETFOREGROUND | (dataRead ? MB_OKCANCEL : MB_ABORTRETRYIGNORE));
    });
}

void TSXExtractor::DoExtract(TProgressDlg* progress)
{
    const bool showing = !SilentMode;
    auto setProgress = [&](int position) { return showing && progress ? progress->SetProgress(position) : true; };
    auto pump = [&] {
        if (showing)
            PumpMessage();
    };

    const int n = FileCount();
    // With no file entries there is nothing to step through: the progress
    // goes from 0 straight to the end sequence below.
    const double step = n > 0 ? 100.0 / n : 0.0;
    if (n > 0)
        setProgress(RoundEven(step / 2));
    pump();

    const DWORD start = GetTickCount();
    bool cancelled = false;
    int i = 0;
    while (i < n) {
        const TFileInfo& entry = Header->Files[i];
        std::string path;
        bool dataRead = false;
        try {
            pump();
            GetFilePath(i, path);
            if (!PrepareFile(path, entry))
                SkipFileData(entry);
            else
                ExtractOneFile(entry, path, dataRead);
            cancelled = !setProgress(RoundEven((i + 1) * step));
            pump();
            if (cancelled) {
                Written.reset();  // closed unstamped: its step did not end
                break;
            }
            FileExtracted(path, entry);
            Written.reset();
            ++i;
        } catch (...) {
            Written.reset();
            // In unattended mode this logs the error entry, which ends the run.
            int answer = ReportCannotWrite(path, dataRead);
            if (answer == IDIGNORE) {
                if (!dataRead)
                    SkipFileData(entry);
                ++i;
            } else if (answer != IDRETRY) {
                cancelled = true;
                break;
            }
        }
    }

    if (SilentMode)
        return;
    if (!cancelled) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed < 1200) {
            setProgress(95);
            Delay(static_cast<int>(1200 - elapsed), PumpMessage);
        }
        setProgress(100);
        Delay(500, PumpMessage);
    }
    if (progress)
        progress->Close(!cancelled);
}

int64_t TSXExtractor::DecodeFile(TStream& source, TStream& destination, const std::string& password,
                                 const TFileInfo& entry, bool checkSize)
{
    TStream* input = &source;
    std::unique_ptr<TDeCryptStream> decrypt;
    std::unique_ptr<TDecompressionStream> inflate;
    if (!password.empty()) {
        std::unique_ptr<TBlowfish> cipher(new TBlowfish);
        cipher->SetKey(password);
        decrypt.reset(new TDeCryptStream(std::move(cipher), *input, entry.PlainSize));
        input = decrypt.get();
    }
    if (entry.Compressed) {
        inflate.reset(new TDecompressionStream(*input));
        input = inflate.get();
    }
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[SXOutputChunkSize]);
    int64_t total = 0;
    for (;;) {
        // With the size checked, never more than one byte beyond it is
        // decoded: that byte proves the data longer than the entry, and a
        // small damaged entry cannot fill the disk first.
        int32_t want = SXOutputChunkSize;
        if (checkSize)
            want = static_cast<int32_t>(std::min<int64_t>(want, static_cast<int64_t>(entry.Size) + 1 - total));
        int32_t got = input->Read(chunk.get(), want);
        if (got <= 0)
            break;
        if (checkSize && total + got > entry.Size) {
            total += got;
            break;
        }
        destination.WriteBuffer(chunk.get(), got);
        total += got;
    }
    if (checkSize && total > entry.Size)
        throw EReadError(FormatText("Decoded %lld bytes instead of %ld", static_cast<long long>(total),
                                    static_cast<long>(entry.Size)));
    if (inflate && !inflate->StreamEnded())
        throw EDecompressionError("Compressed data ends early");
    if (checkSize && total != entry.Size)
        throw EReadError(FormatText("Decoded %lld bytes instead of %ld", static_cast<long long>(total),
                                    static_cast<long>(entry.Size)));
    return total;
}

bool TSXExtractor::FindResourceData(HMODULE module, const char* name, const void*& data, DWORD& size)
{
    HRSRC info = FindResourceA(module, name, MAKEINTRESOURCEA(10));
    if (!info)
        return false;
    HGLOBAL handle = LoadResource(module, info);
    if (!handle)
        return false;
    data = LockResource(handle);
    size = SizeofResource(module, info);
    return data != nullptr;
}

bool TSXExtractor::ExtractResourceFile(HMODULE module, const std::string& name, const std::string& path,
                                       const TFileInfo& entry, const std::string& password)
{
    const void* data = nullptr;
    DWORD size = 0;
    if (!FindResourceData(module, name.c_str(), data, size))
        return false;
    try {
        TReadOnlyMemoryStream source(data, size);
        {
            TFileStream target(path, fmCreate);
            DecodeFile(source, target, password, entry, false);
        }
        return true;
    } catch (const std::exception&) {
        DeleteFileA(path.c_str());
        return false;
    }
}

// ---- The run ------------------------------------------------------------------

std::string RunLogFileName(const std::string& programFile)
{
    std::string name = ExtractFileName(programFile);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return "C:\\" + name + ".log";
}

int FinishRun(bool completed, const std::string& logFile)
{
    if (!SilentMode)
        return 0;
    if (!RunLog.empty()) {
        try {
            SaveStringToFile(RunLog, logFile);
        } catch (...) {
            // A log that cannot be written does not change the exit code.
        }
    }
    // A run that did not complete never reports success.
    return completed ? MaxSeverity : std::max<int32_t>(MaxSeverity, svError);
}

namespace {

// An error that reached the entry: in unattended mode the log says why the
// run ended. Before the header is read there is no log.
void LogUnexpectedError(const std::string& message)
{
    if (!SilentMode)
        return;
    try {
        LogMessage(svError, "Unexpected Error Code 264", message.empty() ? std::string("Error") : message);
    } catch (...) {
    }
}

}  // namespace

int RunSetup(const std::function<std::unique_ptr<TSXExtractor>()>& make, const std::string& argument,
             const std::string& logFile)
{
    bool completed = false;
    try {
        std::unique_ptr<TSXExtractor> extractor = make();
        if (extractor->Initialize(argument)) {
            const void* data = nullptr;
            DWORD size = 0;
            if (!TSXExtractor::FindResourceData(extractor->Module, SXStorageResourceName, data, size))
                throw EFOpenError("Resource SX_STORAGE not found");
            // The stream borrows the module's memory: it ends before the extractor.
            TReadOnlyMemoryStream stream(data, size);
            if (extractor->Load(stream) && extractor->Welcome())
                completed = extractor->Execute();
        }
    } catch (const EAbort&) {
        // The silent abort: whoever raised it has said (or logged) all there is.
    } catch (const std::exception& error) {
        LogUnexpectedError(error.what());
    } catch (...) {
        LogUnexpectedError("Unknown error");
    }
    return FinishRun(completed, logFile);
}
