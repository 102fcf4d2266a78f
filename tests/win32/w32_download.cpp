// The transfer against a small HTTP server inside the test (no dialog open):
// the request the setup sends, the bytes written, error answers that write
// nothing, WebSize 0, the package's name in the run's folder, the download
// thread's catch-all, and the pause that holds the thread while the abort
// question is open.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CompSetup.h"
#include "DownloadControl.h"
#include "DownloadThread.h"
#include "WinInetDyn.h"
#include "w32_helpers.h"

namespace {

// Answers each connection with one canned response and records the request
// head (request line and headers).
class TTinyServer {
public:
    explicit TTinyServer(std::string response) : Response(std::move(response))
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(Listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int length = sizeof(address);
        getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length);
        Port = ntohs(address.sin_port);
        listen(Listener, 4);
        Thread = CreateThread(nullptr, 0, &TTinyServer::Main, this, 0, nullptr);
    }
    ~TTinyServer()
    {
        closesocket(Listener);  // ends accept()
        WaitForSingleObject(Thread, 10000);
        CloseHandle(Thread);
        WSACleanup();
    }

    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(Port) + path;
    }
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> copy;
        EnterCriticalSection(&Lock);
        copy = Recorded;
        LeaveCriticalSection(&Lock);
        return copy;
    }

private:
    static DWORD WINAPI Main(void* parameter)
    {
        auto& self = *static_cast<TTinyServer*>(parameter);
        for (;;) {
            SOCKET client = accept(self.Listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return 0;
            std::string head;
            char chunk[1024];
            while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
                int got = recv(client, chunk, sizeof(chunk), 0);
                if (got <= 0)
                    break;
                head.append(chunk, got);
            }
            EnterCriticalSection(&self.Lock);
            self.Recorded.push_back(head);
            LeaveCriticalSection(&self.Lock);
            size_t sent = 0;
            while (sent < self.Response.size()) {
                int n = send(client, self.Response.data() + sent, static_cast<int>(self.Response.size() - sent), 0);
                if (n <= 0)
                    break;
                sent += n;
            }
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    struct TLock : CRITICAL_SECTION {
        TLock() { InitializeCriticalSection(this); }
        ~TLock() { DeleteCriticalSection(this); }
    };
    mutable TLock Lock;
    std::string Response;
    std::vector<std::string> Recorded;
    SOCKET Listener = INVALID_SOCKET;
    HANDLE Thread = nullptr;
    int Port = 0;
};

std::string Answer(const std::string& status, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string Body(size_t size)
{
    std::string body(size, '\0');
    uint32_t x = 12345;
    for (char& c : body) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    return body;
}

// A header line of a recorded request head ("" when missing).
std::string HeaderOf(const std::string& head, const std::string& name)
{
    size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return std::string();
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
}

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        Folder = std::string(temp) + "sxdl" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(Folder.c_str(), nullptr);
        TCompSetupManager& m = Manager();
        m.TempFolder = Folder;
        m.Status = csOK;
        m.Aborted = false;
        m.Needed = false;
        m.Components.clear();
        m.OnFileDownloaded = [](void* context, const std::string& file) {
            static_cast<std::vector<std::string>*>(context)->push_back(file);
        };
        m.OnFileDownloadedContext = &Reported;
        DownloadControl().Window = nullptr;
        DownloadControl().Thread = nullptr;
        ReleaseDownloadPause();
    }
    void TearDown() override
    {
        TCompSetupManager& m = Manager();
        if (m.InternetHandle) {
            SharedWinetLib().InternetCloseHandle(static_cast<HINTERNET>(m.InternetHandle));
            m.InternetHandle = nullptr;
        }
        m.OnFileDownloaded = nullptr;
        m.Components.clear();
        m.DownloadThread.reset();
        DeleteTree(RemoveSlash(Folder));
    }
    static std::string RemoveSlash(std::string s)
    {
        s.pop_back();
        return s;
    }
    static TCompSetupManager& Manager() { return TCompSetupManager::Instance(); }
    void OpenInternet()
    {
        Manager().InternetHandle =
            SharedWinetLib().InternetOpen("w32_download", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        ASSERT_NE(nullptr, Manager().InternetHandle);
    }

    std::string Folder;
    std::vector<std::string> Reported;
};

}  // namespace

// A 2xx answer is written byte for byte, whatever its size against WebSize;
// the request carries the one Accept header; the file is reported.
TEST_F(Download, WritesTheBodyAndReportsTheFile)
{
    for (size_t size : {size_t(1), size_t(4097), size_t(4098), size_t(50000)}) {
        const std::string body = Body(size);
        TTinyServer server(Answer("200 OK", body));
        OpenInternet();
        Reported.clear();
        const std::string file = Folder + "pkg.stg";
        const int64_t total = Manager().DownloadFile(server.Url("/p/pkg.stg"), file, "Downloading x ...", 1000);
        EXPECT_EQ(static_cast<int64_t>(size), total) << size;
        EXPECT_EQ(csOK, Manager().Status) << size;
        EXPECT_EQ(body, ReadFileText(file)) << size;
        EXPECT_EQ(std::vector<std::string>{file}, Reported) << size;
        const auto requests = server.Requests();
        ASSERT_EQ(1u, requests.size()) << size;
        EXPECT_EQ(0u, requests[0].find("GET /p/pkg.stg HTTP/1.1\r\n")) << requests[0];
        EXPECT_EQ("*/*", HeaderOf(requests[0], "Accept")) << requests[0];
        SharedWinetLib().InternetCloseHandle(static_cast<HINTERNET>(Manager().InternetHandle));
        Manager().InternetHandle = nullptr;
    }
}

// An answer that is not 2xx, or a size of 0 or below: nothing written,
// nothing reported, 0 returned; with size 0 nothing is even asked for.
TEST_F(Download, ErrorAnswersAndNoSizeWriteNothing)
{
    const struct {
        const char* Status;
        int32_t Size;
        size_t Requests;
    } cases[] = {{"404 Not Found", 1000, 1}, {"500 Internal Server Error", 1000, 1}, {"200 OK", 0, 0},
                 {"200 OK", -1, 0}};
    for (const auto& c : cases) {
        TTinyServer server(Answer(c.Status, "<html>not a package</html>"));
        OpenInternet();
        Reported.clear();
        const std::string file = Folder + "err.stg";
        EXPECT_EQ(0, Manager().DownloadFile(server.Url("/e.stg"), file, "Downloading x ...", c.Size)) << c.Status;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file.c_str())) << c.Status;
        EXPECT_TRUE(Reported.empty()) << c.Status;
        EXPECT_EQ(c.Requests, server.Requests().size()) << c.Status;
        SharedWinetLib().InternetCloseHandle(static_cast<HINTERNET>(Manager().InternetHandle));
        Manager().InternetHandle = nullptr;
    }
}

// The whole download of one component: the agent text, the package named
// after the component with the URL's extension in the run's folder, the
// Internet handle closed afterwards. (The package does not hash to its
// WebSHA256, so it is never opened and the download counts as failed.)
TEST_F(Download, DownloadAllNamesThePackageAndSendsTheAgent)
{
    TTinyServer server(Answer("200 OK", "not a container"));
    auto component = std::make_unique<TCompSetupComponent>();
    component->Name = "Runtime";
    component->WebAddress = server.Url("/get/runtime.stg?v=2");
    component->WebSize = 15;
    component->WebSHA256 = std::string(64, '0');
    component->Evaluated = true;
    component->Needed = true;
    component->Files.emplace_back(new TCompSetupFile);
    component->Files.back()->Path = Folder + "target\\x.dll";
    Manager().Components.push_back(std::move(component));
    Manager().Needed = true;
    EXPECT_FALSE(Manager().DownloadAll());
    EXPECT_EQ(nullptr, Manager().InternetHandle);
    EXPECT_EQ(std::vector<std::string>{Folder + "Runtime.stg"}, Reported);
    const auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("Lumara Ravudure Dudor", HeaderOf(requests[0], "User-Agent"));
    EXPECT_EQ(0u, requests[0].find("GET /get/runtime.stg?v=2 HTTP/1.1\r\n")) << requests[0];
}

// The thread: nothing needed makes DownloadAll fail (Status 5); with no
// dialog nothing is posted; its destruction waits for its end.
TEST_F(Download, ThreadEndsWithStatusFiveWhenNothingIsNeeded)
{
    Manager().Needed = false;
    {
        TDownloadThread thread(Manager());
        EXPECT_NE(nullptr, thread.Handle);
    }
    EXPECT_EQ(csFailed, Manager().Status);
}

namespace {

struct TChecker {
    volatile LONG Passed = 0;
    volatile LONG Stopped = 0;
    volatile bool Quit = false;
};

DWORD WINAPI CheckLoop(void* parameter)
{
    auto& c = *static_cast<TChecker*>(parameter);
    try {
        while (!c.Quit) {
            CheckTerminated();
            InterlockedIncrement(&c.Passed);
            Sleep(1);
        }
    } catch (...) {
        InterlockedExchange(&c.Stopped, 1);
    }
    return 0;
}

}  // namespace

// The pause: a thread at its block boundary waits while the question is
// open, goes on after No, and stops with an error after Yes.
TEST_F(Download, PauseHoldsTheThreadAndTerminateStopsIt)
{
    Manager().Needed = false;
    TDownloadThread owner(Manager());  // ends at once; serves as the running thread's object
    WaitForSingleObject(owner.Handle, 10000);
    DownloadControl().Thread = &owner;

    TChecker checker;
    HANDLE worker = CreateThread(nullptr, 0, CheckLoop, &checker, 0, nullptr);
    ASSERT_NE(nullptr, worker);
    Sleep(100);
    EXPECT_GT(checker.Passed, 0);

    RequestDownloadPause();
    Sleep(100);  // the worker reaches its next check and holds there
    const LONG held = checker.Passed;
    Sleep(300);
    EXPECT_LE(checker.Passed, held + 1);

    ReleaseDownloadPause();  // No
    Sleep(100);
    EXPECT_GT(checker.Passed, held + 1);

    RequestDownloadPause();
    Sleep(100);
    owner.Terminate();  // Yes
    ReleaseDownloadPause();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 5000));
    EXPECT_EQ(1, checker.Stopped);
    checker.Quit = true;
    CloseHandle(worker);
}
