// A file held open without sharing: opening it again fails with the sharing
// violation (32), whatever error code was left over from before, and the
// tools' text names it.
#include <gtest/gtest.h>

#include "ovClass.h"
#include "ovStream.h"

#include <windows.h>

#include <string>

TEST(SystemError, SharingViolationIsCarried)
{
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof(folder), folder), 0u);
    const std::string name = std::string(folder) + "sx_held_open.bin";
    HANDLE held = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (uint32_t mode : {static_cast<uint32_t>(fmOpenRead), static_cast<uint32_t>(fmCreate)}) {
        SCOPED_TRACE(mode);
        SetLastError(0xdeadbeef);
        try {
            TFileStream f(name, mode);
            ADD_FAILURE() << "opened a file held without sharing";
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.SystemCode(), 32u);
            EXPECT_NE(DescribeError(e).find(" (system error 32: "), std::string::npos) << DescribeError(e);
            EXPECT_EQ(e.message().find("system error"), std::string::npos);
        }
    }
    CloseHandle(held);
    DeleteFileA(name.c_str());
}
