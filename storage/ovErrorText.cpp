// The tools' error text: the message and the system's code with its words.
// Apart from the streams so that programs which only show message() do not
// carry it.
#include "ovClass.h"

std::string DescribeError(const std::string& message, uint32_t systemCode)
{
    if (!systemCode)
        return message;
    return FormatText("%s (system error %u: %s)", message.c_str(), static_cast<unsigned>(systemCode),
                      SystemErrorText(systemCode).c_str());
}

std::string DescribeError(const Exception& e)
{
    return DescribeError(e.message(), e.SystemCode());
}
