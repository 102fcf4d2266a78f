// The component-aware extractor. See sxExtractSLComp.h.
#include "sxExtractSLComp.h"

#include "CompSetup.h"
#include "DownloadThread.h"
#include "ovUtils.h"
#include "sxHandles.h"

TSXExtractorSLComp::~TSXExtractorSLComp()
{
    if (UsedManager) {
        TCompSetupManager& manager = TCompSetupManager::Instance();
        if (manager.DownloadThread) {
            manager.DownloadThread->Terminate();
            manager.DownloadThread.reset();  // waits for its end: it may still hold a package open
        }
        manager.OnFileDownloaded = nullptr;
        manager.OnFileDownloadedContext = nullptr;
        manager.TempNames = nullptr;
        manager.TargetNames = nullptr;
    }
    // Before the base class removes the run's folder, which must be empty.
    for (const std::string& file : Downloaded)
        DeleteFileA(file.c_str());
}

TSXHeader* TSXExtractorSLComp::CreateHeader()
{
    return new TSXHeaderSL;
}

void TSXExtractorSLComp::AddTempFile(const std::string& name)
{
    TempFiles.push_back(name);
    Downloaded.push_back(name);
}

bool TSXExtractorSLComp::InstallComponents()
{
    if (HeaderSL->Components.empty())
        return true;
    TCompSetupManager& manager = TCompSetupManager::Instance();
    UsedManager = true;
    manager.TempNames = &LockedTemp;
    manager.TargetNames = &LockedTarget;
    manager.ProductName = GetString(sxsProductName);
    manager.OnFileDownloaded = [](void* context, const std::string& fileName) {
        static_cast<TSXExtractorSLComp*>(context)->AddTempFile(fileName);
    };
    manager.OnFileDownloadedContext = this;
    // Downloaded packages and the INF text go into the run's own fresh
    // folder, never under a guessable name in the shared temporary folder.
    if (!MakeLibraryFolder())
        throw EFCreateError(FormatText("Cannot create a temporary folder in %s", GetTempDir().c_str()));
    manager.TempFolder = RunFolder();

    std::string inf = MakeTempFileName(RunFolder());
    bool ok;
    {
        auto remove = MakeScopeExit([&inf] { DeleteFileA(inf.c_str()); });
        std::string text;
        for (const std::string& line : HeaderSL->ComponentInf)
            text += line + "\r\n";
        SaveStringToFile(text, inf);
        ok = manager.LoadComponents(inf, HeaderSL->Components);
    }
    if (!ok)
        return false;
    manager.Execute();
    return manager.Status == csOK;
}
