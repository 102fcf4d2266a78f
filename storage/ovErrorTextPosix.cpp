#include "ovClass.h"

#include <cstring>

std::string SystemErrorText(uint32_t code)
{
    std::string text = std::strerror(static_cast<int>(code));
    while (!text.empty() && (text.back() == '.' || text.back() == '\n'))
        text.pop_back();
    return text;
}
