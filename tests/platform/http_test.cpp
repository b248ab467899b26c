#include "platform/http.h"
#include "tests/common/web_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

using platform::HttpContentLength;
using platform::HttpDownload;
using platform::HttpDownloadResult;
using platform::HttpReadLines;
namespace fs = std::filesystem;

namespace {

using testweb::BoundSocket;
using testweb::Slurp;
using testweb::WebServer;

void Spit(const fs::path& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

long Entries(const fs::path& dir) { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); }

struct Progress {
    std::vector<std::pair<long long, long long>> calls;  // (received, total)
    size_t stopAt = 0;                                   // the call that says stop; 0: none
    platform::HttpProgress Callback()
    {
        return [this](long long received, long long total) {
            calls.emplace_back(received, total);
            return calls.size() != stopAt;
        };
    }
    // Every piece at most 4096 bytes, rising to `size`, with the same total in every call.
    void ExpectPieces(long long size, long long total) const
    {
        ASSERT_FALSE(calls.empty());
        long long before = 0;
        for (const auto& [received, announced] : calls) {
            EXPECT_GT(received, before);
            EXPECT_LE(received - before, 4096);
            EXPECT_EQ(announced, total);
            before = received;
        }
        EXPECT_EQ(calls.back().first, size);
    }
};

// A temporary directory with "www" for the server and "out" for downloads.
struct TempDirs {
    fs::path path;
    TempDirs()
    {
        char tmpl[] = "/tmp/orvanta-http-XXXXXX";
        path = mkdtemp(tmpl);
        fs::create_directories(path / "www");
        fs::create_directories(path / "out");
    }
    ~TempDirs() { fs::remove_all(path); }
};

class Http : public ::testing::Test {
protected:
    Http()
    {
        std::mt19937 random(7);
        for (char& c : big)
            c = static_cast<char>(random());
        Spit(dir / "www" / "big.bin", big);
    }

    TempDirs dirs;  // removed after the servers have stopped
    const fs::path dir = dirs.path;
    const fs::path target = dir / "out" / "setup.bin";
    std::string big = std::string(1024 * 1024 + 123, '\0');  // ends in a short piece
    const long long size = static_cast<long long>(big.size());
    WebServer server{dir / "www", dir / "log"};
};

}  // namespace

TEST_F(Http, LinesLoseTheirEndsAndLongOnesComeInBufferSizedParts)
{
    ASSERT_TRUE(server.ready());
    std::string digits;
    for (int i = 0; i < 5000; ++i)
        digits += static_cast<char>('0' + i % 10);
    std::string exact(4095, 'x');
    Spit(dir / "www" / "news.txt",
         "crlf\r\nlf\na\rb\r\n\r\n" + exact + "\r\n" + digits + "\n" + exact + "y\r\nlast without end");
    std::vector<std::string> want{
        "crlf", "lf", "a\rb", "", exact, digits.substr(0, 4095), digits.substr(4095), exact, "y", "last without end"};
    std::vector<std::string> lines;
    std::string error;
    // Straight, without Content-Length (ended by the close) and through two redirects.
    for (const char* path : {"/news.txt", "/nolength/news.txt", "/redirect/2/news.txt"}) {
        EXPECT_TRUE(HttpReadLines(server.Url(path), &lines, &error)) << path << ": " << error;
        EXPECT_EQ(lines, want) << path;
    }
    std::string log = server.Log();
    EXPECT_NE(log.find("GET /news.txt HTTP/1.1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Cache-Control: no-cache\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Pragma: no-cache\n"), std::string::npos) << log;
    Spit(dir / "www" / "cr.txt", "one\r\ntwo\r");
    EXPECT_TRUE(HttpReadLines(server.Url("/cr.txt"), &lines, &error)) << error;
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));

    // Not found, and more redirects than the client follows.
    EXPECT_FALSE(HttpReadLines(server.Url("/missing.txt"), &lines, &error));
    EXPECT_NE(error.find("/missing.txt: HTTP 404"), std::string::npos) << error;
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(HttpReadLines(server.Url("/redirect/9/news.txt"), &lines, &error));
    EXPECT_NE(error.find("redirect"), std::string::npos) << error;
}

TEST_F(Http, DownloadArrivesWholeInPiecesAndOnlyThenReplacesTheTarget)
{
    ASSERT_TRUE(server.ready());
    for (const char* path : {"/big.bin", "/nolength/big.bin"}) {
        Progress p;
        std::string error;
        EXPECT_EQ(HttpDownload(server.Url(path), target.string(), p.Callback(), &error), HttpDownloadResult::kDone)
            << error;
        EXPECT_TRUE(Slurp(target) == big) << path;
        p.ExpectPieces(size, std::string(path) == "/big.bin" ? size : -1);
        EXPECT_EQ(Entries(dir / "out"), 1) << path;
    }
    EXPECT_NE(server.Log().find("GET /big.bin HTTP/1.1\nHost"), std::string::npos) << server.Log();
    EXPECT_NE(server.Log().find("Pragma: no-cache\n"), std::string::npos) << server.Log();

    // Failures leave the old file as it was and nothing beside it.
    Spit(target, "old");
    for (const char* path : {"/missing.bin", "/short/big.bin"}) {
        std::string error;
        EXPECT_EQ(HttpDownload(server.Url(path), target.string(), nullptr, &error), HttpDownloadResult::kFailed)
            << path;
        EXPECT_FALSE(error.empty()) << path;
        EXPECT_EQ(Slurp(target), "old") << path;
        EXPECT_EQ(Entries(dir / "out"), 1) << path;
    }
    std::string error;
    EXPECT_EQ(HttpDownload(server.Url("/big.bin"), (dir / "nowhere" / "x.bin").string(), nullptr, &error),
              HttpDownloadResult::kFailed);
    EXPECT_NE(error.find("nowhere"), std::string::npos) << error;
}

TEST_F(Http, CancelOnTheThirdPieceStopsTheTransferAndLeavesNoFile)
{
    ASSERT_TRUE(server.ready());
    Progress p;
    p.stopAt = 3;
    std::string error;
    EXPECT_EQ(HttpDownload(server.Url("/slow/big.bin"), target.string(), p.Callback(), &error),
              HttpDownloadResult::kCancelled);
    EXPECT_EQ(error, "cancelled");
    EXPECT_EQ(p.calls.size(), 3u);
    EXPECT_EQ(Entries(dir / "out"), 0);
    // The server sees the client hang up long before the body's end.
    EXPECT_TRUE(server.WaitLog("aborted /slow/big.bin")) << server.Log();
}

TEST_F(Http, SizeProbeAsksInHttp10AsOrvantaAndReadsOnlyTheHeaders)
{
    ASSERT_TRUE(server.ready());
    EXPECT_EQ(HttpContentLength(server.Url("/slow/big.bin")), size);
    std::string log = server.Log();
    EXPECT_NE(log.find("GET /slow/big.bin HTTP/1.0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("User-Agent: Orvanta\n"), std::string::npos) << log;
    EXPECT_TRUE(server.WaitLog("aborted /slow/big.bin")) << server.Log();

    EXPECT_EQ(HttpContentLength(server.Url("/redirect/1/big.bin")), size);
    EXPECT_EQ(HttpContentLength(server.Url("/nolength/big.bin")), -1);
    EXPECT_EQ(HttpContentLength(server.Url("/missing.bin")), -1);
}

TEST(HttpFailures, RefusedConnectionsFailAtOnceAndOtherSchemesAreRefused)
{
    int port = 0;
    int reserved = BoundSocket("127.0.0.1", false, &port);  // bound, never listening: refused
    ASSERT_GE(reserved, 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/news.txt";
    const std::string target = "/tmp/orvanta-http-never-" + std::to_string(getpid());
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> lines;
    std::string error;
    EXPECT_FALSE(HttpReadLines(url, &lines, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(HttpDownload(url, target, nullptr, &error), HttpDownloadResult::kFailed);
    EXPECT_EQ(HttpContentLength(url), platform::kHttpNotReached);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(fs::exists(target));
    ::close(reserved);
    EXPECT_FALSE(HttpReadLines("file:///etc/hostname", &lines, &error));
}

TEST_F(Http, HttpsTrustsTheTestCaOnlyWhenNamedAndChecksTheHost)
{
    WebServer tls(dir / "www", dir / "tls.log", "127.0.0.1", dir / "pki");
    // The same certificate, which is for 127.0.0.1 only, on another address.
    WebServer otherHost(dir / "www", dir / "other.log", "127.0.0.2", dir / "pki");
    ASSERT_TRUE(tls.ready());
    ASSERT_TRUE(otherHost.ready());
    Spit(dir / "www" / "news.txt", "secure\r\n");
    std::vector<std::string> lines;
    std::string error;
    unsetenv("ORVANTA_CA_FILE");
    EXPECT_EQ(HttpDownload(tls.Url("/big.bin"), target.string(), nullptr, &error), HttpDownloadResult::kFailed);
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
    EXPECT_EQ(Entries(dir / "out"), 0);
    EXPECT_FALSE(HttpReadLines(tls.Url("/news.txt"), &lines, &error));
    EXPECT_EQ(HttpContentLength(tls.Url("/big.bin")), platform::kHttpNotReached);  // no trusted answer

    setenv("ORVANTA_CA_FILE", (dir / "pki" / "ca.pem").c_str(), 1);
    Progress p;
    EXPECT_EQ(HttpDownload(tls.Url("/big.bin"), target.string(), p.Callback(), &error), HttpDownloadResult::kDone)
        << error;
    EXPECT_TRUE(Slurp(target) == big);
    p.ExpectPieces(size, size);
    EXPECT_TRUE(HttpReadLines(tls.Url("/news.txt"), &lines, &error)) << error;
    EXPECT_EQ(lines, std::vector<std::string>{"secure"});
    EXPECT_EQ(HttpContentLength(tls.Url("/big.bin")), size);
    EXPECT_FALSE(HttpReadLines(otherHost.Url("/news.txt"), &lines, &error));
    EXPECT_NE(error.find("127.0.0.2"), std::string::npos) << error;

    setenv("ORVANTA_CA_FILE", (dir / "pki" / "missing.pem").c_str(), 1);
    EXPECT_FALSE(HttpReadLines(tls.Url("/news.txt"), &lines, &error));
    EXPECT_NE(error.find("missing.pem"), std::string::npos) << error;
    unsetenv("ORVANTA_CA_FILE");
}
