#include "sxBuilder.h"

#include "ovFileBytes.h"

#include "sxPEFile.h"
#include "sxResBuild.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// A file that is removed when the owner goes away, unless released.
class TTempFile {
public:
    explicit TTempFile(std::string name) : Name(std::move(name)) {}
    ~TTempFile()
    {
        if (!Name.empty())
            std::remove(Name.c_str());
    }
    const std::string& name() const { return Name; }
    void release() { Name.clear(); }

private:
    std::string Name;
};

std::vector<uint8_t> ReadWhole(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, kWholeFileLimit, bytes))
        throw EStreamError(path + " is too large");
    return bytes;
}

}  // namespace

void ReplaceOutputFile(const std::string& source, const std::string& target)
{
    if (std::rename(source.c_str(), target.c_str()) == 0)
        return;
    // Windows does not rename over an existing file.
    std::remove(target.c_str());
    if (std::rename(source.c_str(), target.c_str()) != 0)
        throw EStreamError(FormatText("Cannot write %s: %s", target.c_str(), std::strerror(errno)));
}

TBuildResult BuildSetup(const TProject& project, const TBuildOptions& options)
{
    if (options.Output.empty())
        throw EStreamError("No output file named");
    TBuildResult result;
    TSXHeaderSL header = project.Header;

    // The stub is read (and checked) before the long part of the work.
    TPEFile pe;
    if (!options.ArchiveOnly) {
        if (options.Stub.empty())
            throw EStreamError("No stub setup.exe found (name it with --stub PATH)");
        if (!FileExists(options.Stub))
            throw EStreamError("Missing stub: " + options.Stub);
        pe.LoadFromFile(options.Stub);
    }

    TArchiveOptions ao;
    ao.Password = project.Password;
    ao.Level = project.CompressionLevel;
    ao.Threads = options.Threads;
    ao.Progress = options.Progress;

    TTempFile archiveTemp(options.Output + (options.ArchiveOnly ? ".part" : ".archive.part"));
    {
        TFileStream archive(archiveTemp.name(), fmCreate);
        WriteArchive(header, project.Strings, project.Files, ao, archive);
        result.ArchiveBytes = archive.GetSize();
    }
    for (const TFileInfo& f : header.Files)
        result.SourceBytes += f.Size;
    result.FileCount = static_cast<int>(header.Files.size());

    if (options.ArchiveOnly) {
        ReplaceOutputFile(archiveTemp.name(), options.Output);
        archiveTemp.release();
        result.OutputBytes = result.ArchiveBytes;
        return result;
    }

    TFileStream archive(archiveTemp.name(), fmOpenRead | fmShareDenyWrite);
    pe.SetFromStream(TResId(RT_RCDATA_ID), TResId("SX_STORAGE"), archive, result.ArchiveBytes);
    // The libraries travel as complete zlib streams (read back with a
    // Compressed entry and no password).
    if (!project.DialogLibrary.empty()) {
        std::vector<uint8_t> lib = ReadWhole(project.DialogLibrary);
        pe.Set(TResId(RT_RCDATA_ID), TResId("DIALOGS"), ZlibCompress(lib.data(), lib.size(), 9));
    } else {
        pe.Remove(TResId(RT_RCDATA_ID), TResId("DIALOGS"));
    }
    if (!project.ClientLibrary.empty()) {
        std::vector<uint8_t> lib = ReadWhole(project.ClientLibrary);
        pe.Set(TResId(RT_RCDATA_ID), TResId("CLIENT_DLL"), ZlibCompress(lib.data(), lib.size(), 9));
    } else {
        pe.Remove(TResId(RT_RCDATA_ID), TResId("CLIENT_DLL"));
    }
    if (!project.Icon.empty()) {
        try {
            ReplaceIcon(pe, ReadWhole(project.Icon));
        } catch (const EPEFormat& e) {
            throw EPEFormat(project.Icon + ": " + e.message());
        }
    }
    if (project.HasVersion)
        ReplaceVersionInfo(pe, project.FileVersion, project.ProductVersion, project.VersionStrings);

    TTempFile outTemp(options.Output + ".part");
    {
        TFileStream out(outTemp.name(), fmCreate);
        pe.SaveToStream(out);
        result.OutputBytes = out.GetSize();
    }
    if (options.Sign) {
        TTempFile signedTemp(options.Output + ".signed.part");
        options.Sign(outTemp.name(), signedTemp.name());
        {
            TFileStream s(signedTemp.name(), fmOpenRead | fmShareDenyWrite);
            result.OutputBytes = s.GetSize();
        }
        ReplaceOutputFile(signedTemp.name(), options.Output);
        signedTemp.release();
        return result;
    }
    ReplaceOutputFile(outTemp.name(), options.Output);
    outTemp.release();
    return result;
}
