// Exception classes shared by the whole program.
//
// Hard failures are exceptions that unwind to the step's caller or to the
// program entry. Every exception carries a message text; EAbort is the silent
// abort: a quiet cancellation of the whole run that no handler turns into a
// message (only the entry and the per-file handler of the extraction catch it).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <string>

// A local date and time: days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

class Exception : public std::exception {
public:
    // systemCode: the system's error code of the failed call (Windows'
    // GetLastError, errno elsewhere), read before any clean-up; 0: none.
    explicit Exception(std::string message, uint32_t systemCode = 0)
        : Message(std::move(message)), Code(systemCode)
    {
    }
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& message() const noexcept { return Message; }
    uint32_t SystemCode() const noexcept { return Code; }

private:
    std::string Message;
    uint32_t Code;
};

// The system's text for an error code, without a trailing period or line end
// (ovErrorTextWin32.cpp / ovErrorTextPosix.cpp).
std::string SystemErrorText(uint32_t code);
// For the tools' output: the message, and after it, when the system said why,
// " (system error 32: <its text>)". The setup program shows message() alone.
std::string DescribeError(const Exception& e);
std::string DescribeError(const std::string& message, uint32_t systemCode);

// The silent abort: carries no message and is never shown.
class EAbort : public Exception {
public:
    EAbort() : Exception(std::string()) {}
};

// Stream and file errors of the run-time stream classes.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {  // "Cannot open file %s"
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {  // "Cannot create file %s"
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {  // short read in ReadBuffer
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {  // short write in WriteBuffer
public:
    using EStreamError::EStreamError;
};

// Text that is not a number where one is expected: "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// 12345 as "12,345", for messages.
std::string GroupedNumber(int64_t value);

// A format(...) helper for messages: printf-style, returns std::string.
// It knows the integer conversions (d i u o x X with the hh h l ll z j t
// sizes), %c, %s and %%, with flags, width and precision; floating point,
// %p and %n are not supported: from the first conversion it does not know,
// the rest of the format is copied as it stands and no further argument is
// read.
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string FormatTextV(const char* format, va_list args);

// "None", "512B", "999K", "1.5M": megabytes of 1,024,000 bytes with one
// decimal (halves rounded up) and the whole megabytes grouped by thousands,
// with the separators given. Negative sizes come out as plain bytes.
std::string FormatSizeText(int64_t bytes, char thousands, char decimal);
