// The updater's work from opening to the button, against a real web server and registry.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <type_traits>

#include "freshet/texts.h"
#include "freshet/updater.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "test_support.h"

using namespace freshet;
using freshet_test::RecordingView;
using freshet_test::Scratch;
using freshet_test::Slurp;
using freshet_test::Spit;
using freshet_test::WebServer;
namespace fs = std::filesystem;

namespace {

constexpr const char kKey[] = "Software\\Pellix Technology\\Orvanta";

// A value below the program's key, a text or a number.
template <class T>
void SetValue(const std::string& subkey, const std::string& name, const T& value)
{
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, (std::string(kKey) + "\\" + subkey).c_str(), &key),
              platform::ERROR_SUCCESS);
    if constexpr (std::is_same_v<T, platform::DWORD>)
        platform::RegSetValueEx(key, name.c_str(), platform::REG_DWORD, reinterpret_cast<const unsigned char*>(&value),
                                4);
    else
        platform::RegSetValueEx(key, name.c_str(), platform::REG_SZ,
                                reinterpret_cast<const unsigned char*>(std::string(value).c_str()),
                                static_cast<platform::DWORD>(std::string(value).size() + 1));
    platform::RegCloseKey(key);
}

// The string values of the "update" subkey.
std::map<std::string, std::string> Recorded()
{
    std::map<std::string, std::string> values;
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, (std::string(kKey) + "\\update").c_str(), &key) !=
        platform::ERROR_SUCCESS)
        return values;
    for (platform::DWORD i = 0;; ++i) {
        char name[300];
        unsigned char data[300];
        platform::DWORD nameSize = sizeof name, dataSize = sizeof data;
        if (platform::RegEnumValue(key, i, name, &nameSize, nullptr, data, &dataSize) != platform::ERROR_SUCCESS)
            break;
        values[name] = reinterpret_cast<char*>(data);
    }
    platform::RegCloseKey(key);
    return values;
}

std::string RandomBytes(size_t size)
{
    std::mt19937 random(11);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(random());
    return s;
}

class Work : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.ready());
        scratch.Set("ORVANTA_WEB_URL", server.Url(""));
        scratch.Set("ORVANTA_UPDATE_URL", server.Url("/site"));
        fs::create_directories(install / "user");
        SetValue("info", "PROGRAM PATH", install.string());
    }

    // The update check's reply and the update list behind it.
    void Serve(const std::string& updateDat, const std::string& firstWord = "update")
    {
        Spit(scratch.www / "orvanta/jsp/login/CheckUpdate.jsp", firstWord + " " + server.Url("/base") + "\r\n");
        Spit(scratch.www / "base/express/update.dat", updateDat);
    }

    // Opens the window, lets the work run to its end.
    std::string Run()
    {
        std::string title = updater.Open();
        updater.WaitForWork();
        return title;
    }

    Scratch scratch;
    WebServer server{scratch.www, scratch.path / "server.log"};
    fs::path install = scratch.path / "install";
    fs::path temp = scratch.home / "temp";
    RecordingView view;
    std::atomic<int> starts{0};
    Updater updater{view, FreshetPaths{scratch.home, scratch.path, scratch.home}, [this] { ++starts; }};
};

}  // namespace

TEST_F(Work, NothingNewerRecordsTheDateInTheExistingKeyAndAnyIndexBeyondTheListTakesTheFirstSite)
{
    Spit(scratch.home / "user/update.lst", "\"First\" \"" + server.Url("/site") + "\"\n\"Second\" \"http://x\"\n");
    SetValue("OPTION", "UPDATE_SERVER", platform::DWORD{7});
    SetValue("UPDATE", "Orvanta.exe", "2.0");  // the subkey as another writer spelt it
    Serve("UPDATE 20240601\nx orvanta.exe 2.0\n", "UPDATE");

    EXPECT_EQ(Run(), "Orvanta Updater - First");
    EXPECT_EQ(view.statuses, (std::vector<std::string>{texts::kNothingToUpdate}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Recorded(), (std::map<std::string, std::string>{{"Orvanta.exe", "2.0"}, {"DATE", "20240601"}}));
    EXPECT_EQ(server.Log().find("/site/"), std::string::npos);
    EXPECT_FALSE(view.barsShown);
}

TEST_F(Work, UnreachableServerSaysSoAndRecordsAnEmptyDate)
{
    // A port nobody listens on.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    scratch.Set("ORVANTA_WEB_URL", "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    SetValue("update", "DATE", "20200101");
    SetValue("update", "Orvanta.exe", "1.0");

    Run();
    ::close(s);
    EXPECT_EQ(view.messages, (std::vector<std::string>{texts::kCannotConnect}));
    EXPECT_EQ(view.statuses, (std::vector<std::string>{texts::kNothingToUpdate}));
    EXPECT_EQ(Recorded(), (std::map<std::string, std::string>{{"DATE", ""}, {"Orvanta.exe", "1.0"}}));
}

TEST_F(Work, AFileOfSizeZeroStopsTheUpdateBeforeAnythingIsInstalled)
{
    Spit(scratch.www / "site/a.dat", "first");
    Spit(scratch.www / "site/b.dat", "");
    Serve("update 2\nx a.dat 1\nx b.dat 1\n");

    Run();
    EXPECT_EQ(view.messages, (std::vector<std::string>{texts::kNoSuchFile}));
    EXPECT_EQ(Slurp(temp / "a.dat"), "first");  // what was fetched stays where it was fetched to
    EXPECT_FALSE(fs::exists(install / "a.dat"));
    EXPECT_TRUE(Recorded().empty());
    EXPECT_EQ(std::find(view.statuses.begin(), view.statuses.end(), texts::kStopping), view.statuses.end());
}

TEST_F(Work, CancelBetweenPiecesStopsTheFileAndInstallsNothing)
{
    Spit(scratch.www / "site/big.bin", RandomBytes(200000));
    Spit(install / "big.bin", "old");
    Serve("update 3\nx big.bin 1\n");
    // The user presses the button (and confirms) while the second piece comes in.
    view.onPosition = [this] {
        if (view.file.positions.size() == 2) {
            EXPECT_FALSE(updater.PressButton());
        }
    };

    Run();
    EXPECT_TRUE(updater.Cancelled());
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(view.file.positions.size(), 2u);  // no piece after the press
    EXPECT_EQ(view.messages, (std::vector<std::string>{texts::kCancelled}));
    EXPECT_EQ(Slurp(install / "big.bin"), "old");
    EXPECT_TRUE(fs::is_empty(temp));
    EXPECT_TRUE(Recorded().empty());
    EXPECT_TRUE(view.over);
}
