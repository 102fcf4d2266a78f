#include "ovUtils.h"

#include "ovUtilsShared.h"

#include "ovClass.h"
#include "ovStream.h"

using namespace ovutils_detail;

// ---- INI helpers -------------------------------------------------------------------------

void ReplaceIniSection(const std::string& fileName, const std::string& section, const std::vector<std::string>& lines)
{
    std::vector<std::string> text;
    try {
        text = LoadLines(fileName);
    } catch (const EStreamError&) {
        text.clear();  // an unreadable file counts as empty
    }
    std::string header = "[" + section + "]";
    for (size_t i = 0; i < text.size(); ++i) {
        if (!SameText(text[i], header))
            continue;
        size_t end = i + 1;
        while (end < text.size() && (text[end].empty() || text[end][0] != '['))
            ++end;
        text.erase(text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(end));
        break;
    }
    text.push_back(header);
    text.insert(text.end(), lines.begin(), lines.end());
    SaveLines(text, fileName);
}

void FlushIniFile(std::unique_ptr<TIniFile>& ini)
{
    if (!ini)
        return;
    std::string fileName = ini->FileName();
    ini.reset();
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName.c_str());
}
