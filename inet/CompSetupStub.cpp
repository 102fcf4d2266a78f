// PLACEHOLDER, replaced by the merge with the manager's own module: minimal
// definitions of the manager's members that the download side calls but
// does not own, so that this branch links. None of them is the real thing.
#include "CompSetup.h"

#include "DownloadThread.h"
#include "iNetDlg.h"

TCompSetupManager& TCompSetupManager::Instance()
{
    static TCompSetupManager manager;
    return manager;
}

TCompSetupManager::~TCompSetupManager() = default;

bool TCompSetupComponent::NeedsDownload()
{
    return Needed;  // placeholder: the real one examines the files once
}

bool TCompSetupManager::InstallFromPackage(TCompSetupComponent&, const std::string&)
{
    return false;  // placeholder: the real one extracts the component's files
}

bool TCompSetupManager::RunOnDoneInf(TCompSetupComponent&)
{
    return true;  // placeholder
}

void TCompSetupManager::FillDialogItems(TLVDialogInfoOV& info)
{
    info.ClearItems();  // placeholder: the real one lists the components still needed
}

bool TCompSetupManager::PackageMatchesHash(const TCompSetupComponent& component, const std::string&)
{
    return component.WebSHA256.empty();  // placeholder: the real one hashes the file
}
