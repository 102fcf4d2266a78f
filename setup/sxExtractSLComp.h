// The component-aware extractor: the full setup plus the shared components
// that the product needs, installed between the extraction and the setup
// script by the component setup manager (inet/CompSetup.h).
#pragma once

#include "sxExtractSL.h"

#include <string>
#include <vector>

class TSXExtractorSLComp : public TSXExtractorSL {
public:
    TSXExtractorSLComp() = default;
    // Waits for a download still running, then deletes the packages it
    // wrote, also when the run ended by an error or an abort.
    ~TSXExtractorSLComp() override;

    TSXHeader* CreateHeader() override;
    // No components: true, and nothing is written. Otherwise the manager
    // loads the components from the archive's INF lines and runs; true
    // exactly when its Status is 0.
    bool InstallComponents() override;

    // Records a file to delete at the end of the run.
    void AddTempFile(const std::string& name);

private:
    bool UsedManager = false;
    std::vector<std::string> Downloaded;  // files reported through AddTempFile
};
