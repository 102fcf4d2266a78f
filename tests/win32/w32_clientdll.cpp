// The client library hooks against the sample client library
// (examples/samples/client), steered through its control file.
#include <gtest/gtest.h>

#include "w32_helpers.h"
#include <windows.h>

#include "ovClass.h"
#include "sxClientDll.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class ClientDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH + 1];
        GetTempPathA(MAX_PATH, temp);
        Folder = std::string(temp) + "sxclient-" + std::to_string(GetCurrentProcessId()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        // Wine gives out the same process ids run after run: a control file
        // or trace that an interrupted earlier run left must not be read.
        DeleteTree(Folder);
        CreateDirectoryA(Folder.c_str(), nullptr);
        Control = Folder + "\\control.ini";
        TraceFile = Folder + "\\trace.txt";
        SetEnvironmentVariableA("SX_CLIENT_SCRIPT", Control.c_str());
        Set("General", "Trace", TraceFile);
        Library = SamplePath("client", "ovseClient.dll");
    }
    void TearDown() override
    {
        // Flush the profile cache before the file goes.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, Control.c_str());
        DeleteTree(Folder);
        SetEnvironmentVariableA("SX_CLIENT_SCRIPT", nullptr);
    }
    void Set(const char* section, const std::string& name, const std::string& value)
    {
        ASSERT_TRUE(WritePrivateProfileStringA(section, name.c_str(), value.c_str(), Control.c_str()));
    }
    std::vector<std::string> Trace() { return Lines(ReadFileText(TraceFile)); }

    std::string Folder, Control, TraceFile, Library;
};

}  // namespace

// Every hook is found by its plain name and called with the shared buffer,
// in the order of the calls.
TEST_F(ClientDll, CallsEveryHookByPlainName)
{
    TClientDll dll;
    ASSERT_TRUE(dll.Load(Library)) << Library;
    EXPECT_TRUE(dll.Loaded());
    dll.SetHookBufferText("start");
    for (int i = 0; i < ClientHookCount - 1; ++i)
        EXPECT_TRUE(dll.CallHook(ClientHookNames[i])) << ClientHookNames[i];
    auto trace = Trace();
    ASSERT_EQ(static_cast<size_t>(ClientHookCount - 1), trace.size());
    for (int i = 0; i < ClientHookCount - 1; ++i)
        EXPECT_EQ(std::string(ClientHookNames[i]) + "\tstart", trace[i]) << "row " << i;
}

// A false answer is the silent abort; the hooks before it ran normally.
TEST_F(ClientDll, VetoRaisesSilentAbort)
{
    Set("Answers", "BeforeGetPassword", "0");
    TClientDll dll;
    ASSERT_TRUE(dll.Load(Library));
    EXPECT_TRUE(dll.CallHook("BeforeExecute"));
    EXPECT_THROW(dll.CallHook("BeforeGetPassword"), EAbort);
    auto trace = Trace();
    ASSERT_EQ(2u, trace.size());
    EXPECT_EQ("BeforeGetPassword\t", trace[1]);
}

// What a hook writes into the buffer is read back and handed to the next hook.
TEST_F(ClientDll, BufferPassesBetweenHooks)
{
    Set("Buffer", "BeforeGetTargetFolder", "C:\\Chosen Folder");
    TClientDll dll;
    ASSERT_TRUE(dll.Load(Library));
    dll.SetHookBufferText("");
    EXPECT_TRUE(dll.CallHook("BeforeGetTargetFolder"));
    EXPECT_EQ("C:\\Chosen Folder", dll.GetHookBufferText());
    EXPECT_TRUE(dll.CallHook("AfterGetTargetFolder"));
    auto trace = Trace();
    ASSERT_EQ(2u, trace.size());
    EXPECT_EQ("BeforeGetTargetFolder\t", trace[0]);
    EXPECT_EQ("AfterGetTargetFolder\tC:\\Chosen Folder", trace[1]);
}

// A library that fills the whole buffer, terminator included, leaves a text
// of exactly 260 characters; texts set from outside are cut to 260.
TEST_F(ClientDll, BufferStaysTerminated)
{
    Set("Buffer", "BeforeExtractFiles", "*FILL*");
    TClientDll dll;
    ASSERT_TRUE(dll.Load(Library));
    EXPECT_TRUE(dll.CallHook("BeforeExtractFiles"));
    EXPECT_EQ(std::string(260, 'A'), dll.GetHookBufferText());
    dll.SetHookBufferText(std::string(300, 'b'));
    EXPECT_EQ(std::string(260, 'b'), dll.GetHookBufferText());
}

// GetExtarctedFileName may rewrite the path or skip the file; a skip never aborts.
TEST_F(ClientDll, FileNameHookRewritesAndSkips)
{
    Set("Rename", "a.txt", "b.txt");
    Set("Rename", "c.txt", "D:\\elsewhere\\c2.txt");
    Set("Skip", "readme.txt", "1");
    TClientDll dll;
    ASSERT_TRUE(dll.Load(Library));
    dll.SetHookBufferText("shared");

    std::string path = "C:\\Target\\a.txt";
    EXPECT_TRUE(dll.FileNameHook(path));
    EXPECT_EQ("C:\\Target\\b.txt", path);

    path = "C:\\Target\\c.txt";
    EXPECT_TRUE(dll.FileNameHook(path));
    EXPECT_EQ("D:\\elsewhere\\c2.txt", path);

    path = "C:\\Target\\readme.txt";
    EXPECT_FALSE(dll.FileNameHook(path));

    path = "C:\\Target\\other.txt";
    EXPECT_TRUE(dll.FileNameHook(path));
    EXPECT_EQ("C:\\Target\\other.txt", path);

    // Its buffer is its own: the shared hook buffer is untouched.
    EXPECT_EQ("shared", dll.GetHookBufferText());
    auto trace = Trace();
    ASSERT_EQ(4u, trace.size());
    EXPECT_EQ("GetExtarctedFileName\tC:\\Target\\a.txt", trace[0]);
    EXPECT_EQ("GetExtarctedFileName\tC:\\Target\\readme.txt", trace[2]);
}

// The file-name hook sees at most 260 characters of a longer path.
TEST_F(ClientDll, FileNameHookCutsLongPaths)
{
    TClientDll dll;
    ASSERT_TRUE(dll.Load(Library));
    std::string path = "C:\\" + std::string(300, 'x');
    EXPECT_TRUE(dll.FileNameHook(path));
    EXPECT_EQ(260u, path.size());
    EXPECT_EQ(("C:\\" + std::string(300, 'x')).substr(0, 260), path);
}

// A library without any of the exports behaves as no library: every hook
// answers true and paths stay as they are.
TEST_F(ClientDll, LibraryWithoutExportsBehavesAsNone)
{
    TClientDll dll;
    ASSERT_TRUE(dll.Load(SamplePath("comserver", "sampleServer.dll")));
    EXPECT_TRUE(dll.Loaded());
    for (int i = 0; i < ClientHookCount; ++i)
        EXPECT_TRUE(dll.CallHook(ClientHookNames[i])) << ClientHookNames[i];
    std::string path = "C:\\Target\\a.txt";
    EXPECT_TRUE(dll.FileNameHook(path));
    EXPECT_EQ("C:\\Target\\a.txt", path);
}

// No library (or one that cannot be loaded): hooks answer true; names that
// are not hooks are never looked up.
TEST_F(ClientDll, MissingLibraryAndUnknownNames)
{
    TClientDll dll;
    EXPECT_FALSE(dll.Load(Folder + "\\missing.dll"));
    EXPECT_FALSE(dll.Loaded());
    EXPECT_TRUE(dll.CallHook("BeforeExecute"));
    std::string path = "C:\\x.txt";
    EXPECT_TRUE(dll.FileNameHook(path));

    Set("Answers", "BeforeExecute", "0");
    ASSERT_TRUE(dll.Load(Library));
    EXPECT_TRUE(dll.CallHook("NotAHook"));
    EXPECT_TRUE(dll.CallHook(nullptr));
    EXPECT_TRUE(Trace().empty());
}
