// The run log: entry format, separators, severities and the silent abort.
#include <gtest/gtest.h>
#include <windows.h>

#include "ovClass.h"
#include "ovUtils.h"
#include "sxUtils.h"

namespace {

const std::string Separator = "\r\n\r\n\r\n" + std::string(80, '*') + "\r\n";

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RunLog.clear();
        MaxSeverity = 0;
    }
    void TearDown() override
    {
        RunLog.clear();
        MaxSeverity = 0;
    }
    // The "Created on ..." line up to the first separator.
    static std::string Header(const std::string& log) { return log.substr(0, log.find(Separator)); }
    static std::string Today()
    {
        char date[128];
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof(date));
        return date;
    }
};

}  // namespace

// The first entry brings the "Created on" line (short date, blank, long
// time), then one separator and the entry.
TEST_F(RunLogTest, FirstInformationalEntry)
{
    const std::string day = Today();
    LogMessage(0, "Welcome Message Code 259", "Welcome to Demo");
    EXPECT_EQ(0, MaxSeverity);
    std::string header = Header(RunLog);
    ASSERT_EQ("Created on " + day + " ", header.substr(0, 12 + day.size())) << header;
    EXPECT_GT(header.size(), 12 + day.size());  // the time follows
    EXPECT_EQ(std::string::npos, header.find('\r'));
    EXPECT_EQ(header + Separator + "Hidden Message (Welcome Message Code 259): \r\n\r\nWelcome to Demo", RunLog);
}

// Later entries add only a separator; an error entry raises the silent abort
// and sets the severity, which later informational entries do not lower.
TEST_F(RunLogTest, EntriesSeparatorsAndSeverity)
{
    LogMessage(0, "Accept License Code 263", "License Accepted");
    std::string header = Header(RunLog);
    EXPECT_THROW(LogMessage(8, "Setup Extract Files Code 261", "Cannot write"), EAbort);
    EXPECT_EQ(8, MaxSeverity);
    LogMessage(0, "Setup Message Code 261", "Setup aborted.");
    EXPECT_EQ(8, MaxSeverity);
    EXPECT_EQ(header + Separator + "Hidden Message (Accept License Code 263): \r\n\r\nLicense Accepted" + Separator +
                  "Error (Setup Extract Files Code 261): \r\n\r\nCannot write" + Separator +
                  "Hidden Message (Setup Message Code 261): \r\n\r\nSetup aborted.",
              RunLog);
}

// A first entry that is an error: the header, one separator, the error.
TEST_F(RunLogTest, FirstEntryError)
{
    try {
        LogMessage(8, "Initialization Code 258", "Error");
        ADD_FAILURE() << "no silent abort";
    } catch (const EAbort& e) {
        EXPECT_EQ("", e.message());
    }
    EXPECT_EQ(8, MaxSeverity);
    EXPECT_EQ(Header(RunLog) + Separator + "Error (Initialization Code 258): \r\n\r\nError", RunLog);
    EXPECT_THROW(LogMessage(1, "Any Code 999", "x"), EAbort);  // any positive severity
    EXPECT_EQ(8, MaxSeverity);
}

// The message is logged as given: a path with "\n" in it survives, and the
// caller's conversion of the stored text comes before the value goes in.
TEST_F(RunLogTest, MessageTakenAsGiven)
{
    std::string stored = "Cannot write the file\\n%s\\nCheck the disk.";
    std::string message = FormatText(ConvertLineBreaks(stored).c_str(), "C:\\new\\app.dll");
    EXPECT_THROW(LogMessage(8, "Setup Extract Files Code 261", message), EAbort);
    const std::string tail =
        "Error (Setup Extract Files Code 261): \r\n\r\nCannot write the file\r\nC:\\new\\app.dll\r\nCheck the disk.";
    ASSERT_GE(RunLog.size(), tail.size());
    EXPECT_EQ(tail, RunLog.substr(RunLog.size() - tail.size()));
    EXPECT_NE(std::string::npos, RunLog.find("C:\\new\\app.dll"));

    RunLog.clear();
    LogMessage(0, "T Code 1", "raw \\n marker and C:\\temp\\new");
    EXPECT_NE(std::string::npos, RunLog.find("raw \\n marker and C:\\temp\\new"));
}

// RouteMessage makes the unattended/interactive choice: unattended, the log
// text goes to the run log and the unattended answer comes back without the
// question being put; an error ends the run there; interactive, the
// question's own answer comes back and nothing is logged.
TEST_F(RunLogTest, RouteMessageChoosesLogOrScreen)
{
    const bool savedSilent = SilentMode;
    int asked = 0;
    auto ask = [&] {
        ++asked;
        return 7;
    };

    SilentMode = true;
    EXPECT_EQ(3, RouteMessage(svInformation, "Locked Files Code 260", "shown text", ask, 3));
    EXPECT_EQ(0, asked);
    EXPECT_NE(std::string::npos, RunLog.find("Hidden Message (Locked Files Code 260): \r\n\r\nshown text"));
    EXPECT_EQ(0, MaxSeverity);
    EXPECT_THROW(RouteMessage(svError, "Setup Message Code 262", std::string("remove?"), ask), EAbort);
    EXPECT_EQ(0, asked);
    EXPECT_EQ(8, MaxSeverity);

    RunLog.clear();
    SilentMode = false;
    EXPECT_EQ(7, RouteMessage(svError, "Setup Message Code 262", "remove?", ask));
    EXPECT_EQ(1, asked);
    EXPECT_TRUE(RunLog.empty());
    SilentMode = savedSilent;
}
