// The main program's side of the update against a real web server on 127.0.0.1
// (tests/common/http_peer.py serving a directory of the test's own).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"
#include "orvanta/update/online_notice.h"
#include "orvanta/update/uninstall_shortcut.h"
#include "orvanta/update/update_check.h"
#include "orvanta/update/updater_program.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "recording_front_end.h"
#include "tests/common/web_server.h"

using namespace orvanta;
using namespace orvanta::update;
namespace fs = std::filesystem;

namespace {

void Spit(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

using testweb::Slurp;
using testweb::WebServer;

std::time_t LocalTime(int year, int month, int day, int hour)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// A temporary directory with "www" for the web server; removed after the server stopped.
struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvanta-update-XXXXXX";
        path = mkdtemp(tmpl);
        fs::create_directories(path / "www");
    }
    ~TempDir() { fs::remove_all(path); }
};

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(program_ / "temp");
        setenv("ORVANTA_REGISTRY", (dir_ / "registry.db").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
        // Nothing leaves the loopback network, whatever the code under test falls back to.
        setenv("ORVANTA_WEB_URL", "http://127.0.0.1:1", 1);
        setenv("ORVANTA_UPDATE_URL", "http://127.0.0.1:1/update", 1);
        ResetSettings();
        ClearSettingsHooks();
        env_.webUrl = server_.Url("");
        env_.programDirectory = program_.string();
        env_.scratchDirectory = (program_ / "temp").string() + "/";
        env_.now = [this] { return now_; };
        env_.startUpdater = [this] { return ++started_ > 0; };
    }
    void TearDown() override { ResetSettings(); }

    // The program's registry subkey `section`, made when missing; the caller closes it.
    static platform::HKEY Section(const char* section)
    {
        platform::HKEY key = nullptr;
        const std::string path = std::string(kRegistryRoot) + "\\" + section;
        EXPECT_EQ(platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &key), platform::ERROR_SUCCESS);
        return key;
    }

    // Writes (or, with nullptr, removes) the installed update date "DATE".
    static void SetInstalledDate(const char* date)
    {
        platform::HKEY key = Section("update");
        if (date)
            platform::RegSetValueEx(key, "DATE", platform::REG_SZ, reinterpret_cast<const unsigned char*>(date),
                                    static_cast<platform::DWORD>(strlen(date) + 1));
        else
            platform::RegDeleteValue(key, "DATE");
        platform::RegCloseKey(key);
    }

    static void SetUninstallFlag(platform::DWORD value)
    {
        platform::HKEY key = Section("UNINSTALL");
        platform::RegSetValueEx(key, "FLAG", platform::REG_DWORD, reinterpret_cast<unsigned char*>(&value), 4);
        platform::RegCloseKey(key);
    }

    static platform::DWORD StoredUninstallFlag()
    {
        platform::HKEY key = Section("UNINSTALL");
        platform::DWORD value = 99, size = 4, type = 0;
        platform::RegQueryValueEx(key, "FLAG", &type, reinterpret_cast<unsigned char*>(&value), &size);
        platform::RegCloseKey(key);
        return value;
    }

    void Serve(const std::string& path, const std::string& body) { Spit(dir_ / "www" / path.substr(1), body); }

    TempDir temp_;
    const fs::path dir_ = temp_.path;
    // Spaces and a "$" in the program directory: the menu entry has to quote them.
    const fs::path program_ = dir_ / "prog $dir";
    WebServer server_{dir_ / "www", dir_ / "requests.log"};
    UpdateEnvironment env_;
    std::time_t now_ = LocalTime(2024, 3, 10, 12);
    int started_ = 0;
    RecordingFrontEnd frontEnd_;
};

}  // namespace

TEST_F(UpdateTest, ThePeriodDecidesWhetherTheServerIsAsked)
{
    ASSERT_TRUE(server_.ready());
    Serve(kCheckUpdatePath, "update " + server_.Url("/site") + "\r\n");

    SetSetting(IntSetting::UpdateTerm, 0);  // never, even without an earlier check
    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNotDue);
    EXPECT_EQ(server_.Requests(kCheckUpdatePath), 0);

    SetSetting(IntSetting::UpdateTerm, 2);  // every 7 days
    SetSetting(IntSetting::UpdateYear, 2024);
    SetSetting(IntSetting::UpdateMonth, 3);
    SetSetting(IntSetting::UpdateDay, 1);
    const std::time_t midnight = LocalTime(2024, 3, 1, 0);
    now_ = midnight + 6 * 86400 + 23 * 3600;
    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNotDue);
    EXPECT_EQ(server_.Requests(kCheckUpdatePath), 0);
    now_ = midnight + 7 * 86400;
    // Asked; there is no "update.dat", but the date of the check is recorded.
    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNoServerDate);
    EXPECT_EQ(server_.Requests(kCheckUpdatePath), 1);
    EXPECT_EQ(GetSetting(IntSetting::UpdateDay), 8);
    EXPECT_EQ(GetSetting(IntSetting::UpdateMonth), 3);
    EXPECT_EQ(GetSetting(IntSetting::UpdateYear), 2024);

    // The other periods: 3 and 10 days, any other value at every start.
    const std::pair<int, int> periods[] = {{1, 3}, {3, 10}};
    for (auto [term, days] : periods) {
        SetSetting(IntSetting::UpdateTerm, term);
        EXPECT_FALSE(UpdateCheckDue(LocalTime(2024, 3, 8, 0) + days * 86400 - 1)) << term;
        EXPECT_TRUE(UpdateCheckDue(LocalTime(2024, 3, 8, 0) + days * 86400)) << term;
    }
    SetSetting(IntSetting::UpdateTerm, 7);
    EXPECT_TRUE(UpdateCheckDue(now_));
}

TEST_F(UpdateTest, ANewerUpdateOnTheServerStartsTheUpdater)
{
    ASSERT_TRUE(server_.ready());
    Serve(kCheckUpdatePath, "UPDATE " + server_.Url("/site") + "\r\nsecond line\r\n");
    Serve("/site/express/update.dat", "update 20240315\r\n1 Orvanta.exe 1.2.1\r\n");
    SetSetting(IntSetting::UpdateTerm, 4);  // asked at every start

    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNewerOnServer);  // no "update" subkey at all
    EXPECT_EQ(UpdateLocation(), server_.Url("/site") + "/express");
    EXPECT_EQ(started_, 1);
    const std::pair<const char*, int> cases[] = {{"20240315", 1}, {"20240316", 1}, {"20240314", 2}, {"", 3}};
    for (auto [installed, startsAfter] : cases) {
        SetInstalledDate(installed);
        CheckForUpdate(env_);
        EXPECT_EQ(started_, startsAfter) << '"' << installed << '"';
    }
    SetInstalledDate(nullptr);
    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNewerOnServer);
    EXPECT_EQ(started_, 4);
    EXPECT_EQ(server_.Requests("/site/express/update.dat"), 6);
}

TEST_F(UpdateTest, AnyOtherAnswerLeavesTheLocationAndTheDate)
{
    ASSERT_TRUE(server_.ready());
    SetUpdateLocation("http://127.0.0.1:1/kept");
    for (const char* reply : {"upd", "no update here", "update", ""}) {
        Serve(kCheckUpdatePath, reply);
        EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNoLocation) << reply;
    }
    int closed = 0;
    int held = testweb::BoundSocket("127.0.0.1", false, &closed);
    UpdateEnvironment unreachable = env_;
    unreachable.webUrl = "http://127.0.0.1:" + std::to_string(closed);
    EXPECT_EQ(CheckForUpdate(unreachable), CheckOutcome::kNoLocation);
    ::close(held);
    EXPECT_EQ(UpdateLocation(), "http://127.0.0.1:1/kept");
    EXPECT_EQ(GetSetting(IntSetting::UpdateYear), 0);

    // A location, but its description is missing or malformed: the date is recorded all the same.
    Serve(kCheckUpdatePath, "update " + server_.Url("/site"));
    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNoServerDate);
    EXPECT_EQ(GetSetting(IntSetting::UpdateYear), 2024);
    SetSetting(IntSetting::UpdateYear, 0);
    Serve("/site/express/update.dat", "version 20991231\r\n");
    EXPECT_EQ(CheckForUpdate(env_), CheckOutcome::kNoServerDate);
    EXPECT_EQ(started_, 0);
}

TEST_F(UpdateTest, StartUpdaterRunsTheProgramWithoutArguments)
{
    EXPECT_FALSE(StartUpdater(program_.string()));  // there is none yet
    const fs::path updater = program_ / "freshet";
    Spit(updater, "#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/ran.tmp\" && mv \"$(dirname \"$0\")/ran.tmp\" "
                  "\"$(dirname \"$0\")/ran\"\n");
    fs::permissions(updater, fs::perms::owner_all);
    ASSERT_TRUE(StartUpdater(program_.string()));
    for (int i = 0; i < 200 && !fs::exists(program_ / "ran"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(Slurp(program_ / "ran"), "0\n");
}

TEST_F(UpdateTest, TheUpdaterProgramIsFetchedOnce)
{
    ASSERT_TRUE(server_.ready());
    std::string program = "#!/bin/sh\nexit 0\n";
    for (int i = 0; i < 20000; ++i)
        program += static_cast<char>(i * 7);
    Serve("/site/Freshet.exe", program);
    Spit(program_ / "freshet", "old updater");
    SetUpdateLocation(server_.Url("/site"));

    EXPECT_EQ(FetchUpdaterProgram(env_, frontEnd_), FetchOutcome::kFetched);
    EXPECT_EQ(Slurp(program_ / "freshet"), program);
    EXPECT_EQ(fs::status(program_ / "freshet").permissions() & fs::perms::all, static_cast<fs::perms>(0755));
    EXPECT_EQ(GetSetting(IntSetting::UpdateProgram), 4);
    EXPECT_TRUE(frontEnd_.messages.empty());
    // Nothing else is left beside it.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(program_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"freshet", "temp"}));

    // Marked as fetched: not asked for again, even with the file gone.
    fs::remove(program_ / "freshet");
    EXPECT_EQ(FetchUpdaterProgram(env_, frontEnd_), FetchOutcome::kAlreadyFetched);
    EXPECT_FALSE(fs::exists(program_ / "freshet"));
    EXPECT_EQ(server_.Requests("/site/Freshet.exe"), 2);  // the size probe and the download
}

TEST_F(UpdateTest, AMissingOrBrokenDownloadLeavesTheUpdaterAsItWas)
{
    ASSERT_TRUE(server_.ready());
    Spit(program_ / "freshet", "old updater");
    SetUpdateLocation(server_.Url("/site"));
    Serve("/site/Freshet.exe", "");  // Content-Length 0
    EXPECT_EQ(FetchUpdaterProgram(env_, frontEnd_), FetchOutcome::kNotOnServer);
    ASSERT_EQ(frontEnd_.messages.size(), 1u);
    EXPECT_EQ(frontEnd_.messages[0], platform::Utf8ToCp949("파일이 존재하지 않아서, 업데이트를 할수 없습니다."));
    EXPECT_EQ(frontEnd_.captions[0], "Orvanta");

    // The server announces the whole file and breaks off halfway.
    Serve("/Freshet.exe", std::string(100000, 'x'));
    SetUpdateLocation(server_.Url("/short"));
    EXPECT_EQ(FetchUpdaterProgram(env_, frontEnd_), FetchOutcome::kDownloadFailed);
    EXPECT_EQ(frontEnd_.messages.size(), 1u);
    EXPECT_EQ(Slurp(program_ / "freshet"), "old updater");
    EXPECT_EQ(GetSetting(IntSetting::UpdateProgram), 0);
}

TEST_F(UpdateTest, TheNoticeOfADayIsShownOnThatDayOnly)
{
    ASSERT_TRUE(server_.ready());
    const std::string first = platform::Utf8ToCp949("새 필터가 나왔습니다."), last = platform::Utf8ToCp949("끝");
    Serve(kNoticePath, "notice\r\n20240310\r\n" + first + "\r\n\r\n" + last + "\r\n");
    EXPECT_TRUE(ShowOnlineNotice(env_, frontEnd_));
    EXPECT_EQ(GetSetting(StringSetting::NoticeDay), "20240310");
    EXPECT_EQ(GetSetting(StringSetting::ReadDay), "20240310");
    now_ += 5 * 3600;  // the same day
    EXPECT_TRUE(ShowOnlineNotice(env_, frontEnd_));
    now_ += 86400;  // the next day
    EXPECT_FALSE(ShowOnlineNotice(env_, frontEnd_));
    ASSERT_EQ(frontEnd_.notices.size(), 2u);
    EXPECT_EQ(frontEnd_.notices[0], "\r\n" + first + "\r\n\r\n" + last);

    // No notice, then a page without a date: shown empty, nothing recorded.
    Serve(kNoticePath, "<html>\r\n20240312\r\n");
    EXPECT_FALSE(ShowOnlineNotice(env_, frontEnd_));
    Serve(kNoticePath, "NOTICE");
    EXPECT_TRUE(ShowOnlineNotice(env_, frontEnd_));
    EXPECT_EQ(GetSetting(StringSetting::ReadDay), "20240310");
    // An unreachable page: the window with no text.
    int closed = 0;
    int held = testweb::BoundSocket("127.0.0.1", false, &closed);
    env_.webUrl = "http://127.0.0.1:" + std::to_string(closed);
    EXPECT_TRUE(ShowOnlineNotice(env_, frontEnd_));
    ::close(held);
    EXPECT_EQ(frontEnd_.notices, (std::vector<std::string>{frontEnd_.notices[0], frontEnd_.notices[0], "", ""}));
}

TEST_F(UpdateTest, TheUninstallerEntryIsWrittenIntoAnExistingFolderOnly)
{
    const fs::path folder = dir_ / "data" / "applications" / "Orvanta Zidevoz 1.0";
    const fs::path entry = folder / "Orvanta 제거.desktop";
    ASSERT_TRUE(LoadSettings());
    EXPECT_FALSE(CreateUninstallShortcut(program_.string()));
    EXPECT_FALSE(fs::exists(dir_ / "data"));

    fs::create_directories(folder);
    Spit(entry, "stale");
    ASSERT_TRUE(CreateUninstallShortcut(program_.string()));
    EXPECT_EQ(Slurp(entry), "[Desktop Entry]\nType=Application\nName=Orvanta 제거\nComment=언인스톨하기\n"
                            "Exec=\"" +
                                dir_.string() + "/prog \\\\$dir/unmoor\"\nTerminal=false\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // "FLAG" 1 suppresses it; the program never writes the value back itself.
    fs::remove(entry);
    SetUninstallFlag(1);
    ASSERT_TRUE(LoadSettings());
    EXPECT_FALSE(CreateUninstallShortcut(program_.string()));
    EXPECT_FALSE(fs::exists(entry));
    SetUninstallFlag(0);  // changed by the installation while the program runs
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(StoredUninstallFlag(), 0u);
}
