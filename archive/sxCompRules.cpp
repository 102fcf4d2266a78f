// The portable rules of the component setup. See sxCompRules.h.
#include "sxCompRules.h"

#include "ovClass.h"
#include "ovText.h"

#include <cctype>

const char* const DownloadPageFileName = "Download Components.htm";

namespace {

// The page as one line; %PRODUCT% and %LIST% are filled in.
const char* const PageTemplate =
    "<html><head><title>Download shared Lumara components.</title></head>"
    "<body bgcolor=\"#FFFFF0\">"
    "<p><font color=\"#000080\" size=\"4\"><strong>Download shared components.</strong></font></p>"
    "<font size=\"2\">"
    "<p>Many of components are shared by all Lumara applications, so once you downloaded and installed them, you "
    "can tremendously reduce download size for all other products.</p>"
    "<p>In order to use %PRODUCT% on your computer, you need to install the listed below component(s).</p>"
    "<p>Just click the links in your Internet Browser to start download, save all downloaded files in some folder, "
    "then start setup again and point to this folder when will be prompted.</p>"
    "</font>"
    "<table>"
    "<tr><td bgcolor=\"#800000\"><font color=\"#FFFFFF\"><strong>Required Component</strong></font></td>"
    "<td bgcolor=\"#800000\" align=\"center\" width=\"100\"><font color=\"#FFFFFF\"><strong> Size "
    "</strong></font></td>"
    "<td bgcolor=\"#800000\"><font color=\"#FFFFFF\"><strong>Web Location</strong></font></td></tr>"
    "%LIST%"
    "</table>"
    "<p>&nbsp;</p>"
    "<p><font size=\"2\"><em><strong>Thank you for using Lumara products.</strong></em></font></p>"
    "</body></html>";

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A decimal integer with optional leading blanks and sign; raises for
// anything else, and for a value beyond 32 bits.
int32_t DecimalPart(const std::string& part)
{
    size_t i = 0;
    while (i < part.size() && part[i] == ' ')
        ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == '+' || part[i] == '-'))
        negative = part[i++] == '-';
    size_t digits = i;
    int64_t value = 0;
    for (; i < part.size() && part[i] >= '0' && part[i] <= '9'; ++i) {
        value = value * 10 + (part[i] - '0');
        if (value > 0x80000000LL)
            break;
    }
    if (i == digits || i != part.size() || value > (negative ? 0x80000000LL : 0x7FFFFFFFLL))
        throw EConvertError("'" + part + "' is not a valid integer value");
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

TCompVersion ParseCompVersion(const std::string& text)
{
    TCompVersion version;
    size_t dots[3];
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        size_t dot = text.find('.', pos);
        if (dot == std::string::npos)
            return version;
        dots[i] = dot;
        pos = dot + 1;
    }
    std::string parts[4] = {text.substr(0, dots[0]), text.substr(dots[0] + 1, dots[1] - dots[0] - 1),
                            text.substr(dots[1] + 1, dots[2] - dots[1] - 1), text.substr(dots[2] + 1, 255)};
    version.Major = static_cast<uint16_t>(DecimalPart(parts[0]));
    version.Minor = static_cast<uint16_t>(DecimalPart(parts[1]));
    version.Release = static_cast<uint16_t>(DecimalPart(parts[2]));
    version.Build = static_cast<uint16_t>(DecimalPart(parts[3]));
    return version;
}

bool CompVersionSatisfies(const TCompVersion& present, const TCompVersion& required)
{
    if (present.Major == 0)
        return true;
    const uint16_t have[4] = {present.Major, present.Minor, present.Release, present.Build};
    const uint16_t need[4] = {required.Major, required.Minor, required.Release, required.Build};
    for (int i = 0; i < 4; ++i)
        if (have[i] != need[i])
            return have[i] > need[i];
    return true;
}

bool HasInfExtension(const std::string& path)
{
    size_t dot = path.rfind('.');
    size_t slash = path.find_last_of("\\/:");
    if (dot == std::string::npos || (slash != std::string::npos && slash > dot))
        return false;
    return Lower(path.substr(dot)) == ".inf";
}

bool IsCompFileInstalled(const std::string& path, const std::string& version,
                         const std::function<bool(const std::string&)>& exists,
                         const std::function<TCompVersion(const std::string&)>& readVersion)
{
    if (version == "0.0.0.0")
        return false;
    if (HasInfExtension(path))
        return true;
    if (!exists(path))
        return false;
    if (version.empty())
        return true;
    // The requirement is parsed first: a bad version text is an error even
    // when the file has no version information.
    TCompVersion required = ParseCompVersion(version);
    return CompVersionSatisfies(readVersion(path), required);
}

bool IsPlainComponentName(const std::string& name)
{
    return !name.empty() && name.find_first_of("\\/:") == std::string::npos && name.find("..") == std::string::npos;
}

std::string DownloadPageRow(const std::string& name, const std::string& sizeText, const std::string& address)
{
    return "<tr><td  bgcolor=\"#FFF0CA\" ><font size=\"2\">" + name +
           "</font></td><td  bgcolor=\"#FFF0CA\" align=\"center\" width=\"100\"><font size=\"2\">" + sizeText +
           "</font></td><td  bgcolor=\"#FFF0CA\" ><a href=\"" + address + "\"><font size=\"2\">" + address +
           "</font></td></tr>";
}

std::string DownloadPageText(const std::string& product, const std::string& rows)
{
    return ReplaceText(ReplaceText(PageTemplate, "%PRODUCT%", product), "%LIST%", rows) + "\r\n";
}

std::string DownloadStatusText(const std::string& sizeText, const std::string& durationText)
{
    return "The total size is " + sizeText + ". Download time for 28.8 BPS modem is " + durationText;
}

int32_t DownloadSeconds(int32_t totalBytes)
{
    return totalBytes / 3600;
}
