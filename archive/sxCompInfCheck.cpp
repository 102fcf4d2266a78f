// The builder's check of a component INF text. Apart from the other
// component rules so that the setup program, which never calls it, does not
// carry it. See sxCompRules.h.
#include "sxCompRules.h"

#include "ovClass.h"
#include "ovText.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsDecimal(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

std::vector<std::string> CheckComponentInf(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& names)
{
    std::vector<std::string> problems;
    // Which sections are wanted, by lower-case name.
    std::vector<std::string> wanted;
    for (const std::string& name : names) {
        if (!IsPlainComponentName(name))
            problems.push_back("component name '" + name +
                               "' is not a plain file name (empty, or holds \\ / : or ..)");
        wanted.push_back(Lower(Trim(name)));
    }
    std::vector<bool> found(names.size(), false);
    bool inWanted = false;
    std::vector<std::string> seenKeys;
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string line = Trim(lines[n]);
        std::string where = "line " + std::to_string(n + 1) + ": ";
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string section = Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            inWanted = false;
            seenKeys.clear();
            for (size_t i = 0; i < wanted.size(); ++i)
                if (wanted[i] == section && !found[i]) {
                    found[i] = true;
                    inWanted = true;
                }
            continue;
        }
        if (!inWanted)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            problems.push_back(where + "'" + line + "' is not a 'Key = value' line");
            continue;
        }
        std::string key = Lower(Trim(line.substr(0, eq)));
        std::string value = Trim(line.substr(eq + 1));
        bool repeated = false;
        for (const std::string& k : seenKeys)
            repeated = repeated || k == key;
        if (repeated)
            continue;  // the setup reads the first one only
        seenKeys.push_back(key);
        if (key == "description" || key == "webaddress" || key == "localaddress" || key == "ondone.command" ||
            key == "ondone.param" || key == "ondone.inffile")
            continue;
        if (key == "websize" || key == "filecount") {
            if (!IsDecimal(value))
                problems.push_back(where + "'" + key + "' must be a decimal number, not '" + value + "'");
            else if (key == "filecount" && std::atol(value.c_str()) > MaxComponentFiles)
                problems.push_back(where + "a component has at most " + std::to_string(MaxComponentFiles) +
                                   " files");
            continue;
        }
        if (key == "websha256") {
            bool ok = value.size() == 64;
            for (char c : value)
                ok = ok && std::isxdigit(static_cast<unsigned char>(c));
            if (!ok)
                problems.push_back(where + "WebSHA256 must be 64 hex digits");
            continue;
        }
        if (key.size() > 4 && key.compare(0, 4, "file") == 0 && IsDecimal(key.substr(4))) {
            size_t comma = value.find(',');
            if (comma != std::string::npos) {
                try {
                    ParseCompVersion(value.substr(comma + 1));
                } catch (const EConvertError&) {
                    problems.push_back(where + "the version '" + value.substr(comma + 1) +
                                       "' is not four decimal numbers separated by dots");
                }
            }
            continue;
        }
        problems.push_back(where + "unknown component key '" + Trim(line.substr(0, eq)) + "'");
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (!found[i])
            problems.push_back("component '" + names[i] + "' has no section in the component INF text");
    return problems;
}
