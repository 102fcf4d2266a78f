#include "DownloadText.h"

#include <climits>
#include <cstring>

int32_t DownloadPercent(int64_t total, int32_t size)
{
    if (size <= 0 || total <= 0)
        return 0;
    // Bytes beyond INT64_MAX / 100 cannot arrive in practice; keep the
    // product from overflowing anyway.
    if (total > INT64_MAX / 100)
        return INT32_MAX;
    int64_t percent = total * 100 / size;
    return percent > INT32_MAX ? INT32_MAX : static_cast<int32_t>(percent);
}

std::string DownloadDoneText(int32_t percent, const std::string& formattedSize)
{
    return "%" + std::to_string(percent) + " Done (" + formattedSize + ")";
}

bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c < 32 || std::strchr("\\/:*?\"<>|", c))
            return false;
    }
    if (name.find("..") != std::string::npos)
        return false;
    const char last = name.back();
    return last != '.' && last != ' ';
}

std::string UrlFileExtension(const std::string& url)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    // The scheme and host are not part of the file name: "http://host" has
    // no segment of its own.
    size_t start = 0;
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = path.find('/', scheme + 3);
        if (slash == std::string::npos)
            return std::string();
        start = slash;
    }
    const size_t separator = path.find_last_of("/\\");
    const std::string segment =
        path.substr(separator == std::string::npos || separator < start ? start : separator + 1);
    const size_t dot = segment.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    const std::string extension = segment.substr(dot);
    if (extension.size() < 2 || extension.size() > 17)
        return std::string();
    for (size_t i = 1; i < extension.size(); ++i) {
        const unsigned char c = extension[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-';
        if (!ok)
            return std::string();
    }
    return extension;
}

std::string PackageFileName(const std::string& folder, const std::string& name, const std::string& url)
{
    if (!IsPlainFileName(name))
        return std::string();
    return folder + name + UrlFileExtension(url);
}
