// The uninstaller's rules against the registry stand-in: what OK does to the mail client's
// accounts, which removal it starts, and the removal of a `make install`. The running main
// program is the program test's (test_unmoor_program.py), with real processes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "tests/accountkeys/account_store_fixture.h"
#include "unmoor/removal.h"
#include "unmoor/uninstaller.h"

namespace {

namespace fs = std::filesystem;
using account_store_test::Snapshot;
using Lines = std::vector<std::string>;

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Spit(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

// A scratch directory for the program directory and the removal's record; the removal command
// is a recorder appending one line per start.
class UninstallerTest : public account_store_test::AccountStoreTest {
protected:
    void SetUp() override
    {
        AccountStoreTest::SetUp();
        char tmpl[] = "/tmp/unmoor-test-XXXXXX";
        scratch_ = mkdtemp(tmpl);
        programs_ = scratch_ / "programs";
        fs::create_directories(programs_);
        record_ = scratch_ / "removals";
        setenv(unmoor::kRemoveCommandVariable, ("echo started >> '" + record_.string() + "'").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv(unmoor::kRemoveCommandVariable);
        std::error_code ec;
        fs::remove_all(scratch_, ec);
        AccountStoreTest::TearDown();
    }

    // How many times the removal was started, once `expected` starts have arrived or 10 s
    // have passed; the removal runs on its own, so its line comes a moment later.
    int Removals(int expected)
    {
        auto count = [this] {
            std::string text = Slurp(record_);
            return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        };
        for (int i = 0; i < 200 && count() < expected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return count();
    }

    // Keys that are no accounts of the client: wrong length or not starting "00".
    static void SeedStrangers()
    {
        for (const char* key : {"1", "Default", "000000012", "10000001"}) {
            Linked(key, "stranger", "pop.stranger", 110);
            Text(key, "ORVANTA ACCOUNT", "Orvanta");
        }
    }

    fs::path scratch_, programs_, record_;
};

TEST_F(UninstallerTest, OkRestoresTheAccountsAndStartsTheRemovalEveryTime)
{
    Linked("00000001", "kim", "mailhost", 995);
    Text("00000001", "SMTP Server", "localhost");
    Number("00000001", "SMTP Port", 26);
    Text("00000001", "SMTP BACKUP", "smtp.kim");
    Number("00000001", "SMTP PORT BACKUP", 587);
    // Linked without a port: the live port stays, as the main program's unlink leaves it.
    Linked("00000002", "lee", "pop.lee", 110);
    Number("00000002", "POP3 PORT BACKUP", 0);
    // Never linked: left exactly as it is.
    Text("00000004", "POP3 USER Name", "park");
    Text("00000004", "POP3 Server", "pop.park");
    Number("00000004", "POP3 Port", 110);
    // A backup too long to put back: the account keeps all its backups, and OK says so.
    Linked("00000003", "choi", "pop.choi", 110);
    Text("00000003", "POP3 USER BACKUP", std::string(120, 'c'));
    SpamBox("00002002");
    SpamBox("00009999");  // a copy left under another name
    SeedStrangers();
    Snapshot before = Take();

    unmoor::Uninstaller uninstaller(programs_);
    unmoor::Outcome first = uninstaller.Accept();

    EXPECT_EQ(first.spamBoxesDeleted, (Lines{"00002002", "00009999"}));
    EXPECT_EQ(first.accountsRestored, (Lines{"00000001", "00000002"}));
    EXPECT_EQ(first.accountsKept, Lines{"00000003"});
    ASSERT_TRUE(first.removal);
    EXPECT_TRUE(first.removalStarted);
    EXPECT_FALSE(KeyExists("00002002"));
    EXPECT_FALSE(KeyExists("00009999"));
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim");
    EXPECT_EQ(Get("00000001", "POP3 SERVER"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#995");
    EXPECT_EQ(Get("00000001", "SMTP SERVER"), "smtp.kim");
    EXPECT_EQ(Get("00000001", "SMTP Port"), "#587");
    EXPECT_EQ(Get("00000002", "POP3 USER NAME"), "lee");
    EXPECT_EQ(Get("00000002", "POP3 SERVER"), "pop.lee");
    EXPECT_EQ(Get("00000002", "POP3 Port"), "#115");
    for (const char* key : {"00000001", "00000002"})
        for (const char* value :
             {"POP3 BACKUP", "POP3 PORT BACKUP", "POP3 USER BACKUP", "SMTP BACKUP", "SMTP PORT BACKUP"})
            EXPECT_EQ(Get(key, value), "") << key << " " << value;
    EXPECT_EQ(Get("00000001", "POP3 Timeout"), "#300");
    // The never-linked account and the keys that are no accounts stay exactly as they were.
    Snapshot after = Take();
    for (const char* key : {"00000003\\", "00000004\\", "1\\", "Default\\", "000000012\\", "10000001\\"})
        for (const auto& [name, value] : before)
            if (name.rfind(key, 0) == 0) {
                EXPECT_EQ(after[name], value) << name;
            }
    EXPECT_EQ(Removals(1), 1);

    // A second run finds nothing to restore and hands over to the removal all the same.
    unmoor::Outcome second = uninstaller.Accept();
    EXPECT_EQ(Take(), after);
    EXPECT_TRUE(second.spamBoxesDeleted.empty());
    EXPECT_TRUE(second.accountsRestored.empty());
    EXPECT_EQ(second.accountsKept, Lines{"00000003"});
    EXPECT_TRUE(second.removalStarted);
    EXPECT_EQ(Removals(2), 2);
}

TEST_F(UninstallerTest, TheSpamBoxGoesEvenWithoutAPop3Account)
{
    SpamBox("00002002");
    Text("00000001", "SMTP Server", "smtp.only");  // an account without POP3
    unmoor::Uninstaller uninstaller(programs_);
    Lines plan = uninstaller.Plan();
    unmoor::Outcome outcome = uninstaller.Accept();
    EXPECT_EQ(outcome.spamBoxesDeleted, Lines{"00002002"});
    EXPECT_TRUE(outcome.accountsRestored.empty());
    EXPECT_FALSE(KeyExists("00002002"));
    EXPECT_EQ(Get("00000001", "SMTP Server"), "smtp.only");
    EXPECT_EQ(Removals(1), 1);
    // What a run without a display said beforehand.
    EXPECT_EQ(plan, (Lines{"delete the spam-box account 00002002", "no POP3 account to restore",
                           "start the removal: echo started >> '" + record_.string() + "'"}));
}

TEST_F(UninstallerTest, TheRemovalFollowsTheInstallation)
{
    const fs::path dpkg = scratch_ / "dpkg-info";
    fs::create_directories(dpkg);
    const fs::path list = programs_ / unmoor::kInstalledFilesName;

    // The variable wins over everything the installation says.
    Spit(list, "");
    std::optional<unmoor::Removal> removal = unmoor::FindRemoval(programs_, dpkg);
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->argv, (Lines{"/bin/sh", "-c", "echo started >> '" + record_.string() + "'"}));

    // A `make install`: the uninstaller of that directory removes the files of its list.
    unsetenv(unmoor::kRemoveCommandVariable);
    removal = unmoor::FindRemoval(programs_, dpkg);
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->argv, (Lines{(programs_ / "unmoor").string(), "--remove-files", list.string()}));

    // The package: only when dpkg's record of it names this very uninstaller.
    fs::remove(list);
    Spit(dpkg / "orvanta.list", "/.\n/usr\n/usr/lib/orvanta\n" + (scratch_ / "elsewhere/unmoor").string() + "\n");
    EXPECT_FALSE(unmoor::FindRemoval(programs_, dpkg));
    Spit(dpkg / "orvanta.list", "/.\n" + (programs_ / "unmoor").string() + "\n/usr/bin/unmoor\n");
    removal = unmoor::FindRemoval(programs_, dpkg);
    ASSERT_TRUE(removal);
    Lines apt{"apt-get", "remove", "-y", "orvanta"};
    if (::geteuid() != 0)
        apt.insert(apt.begin(), "pkexec");
    EXPECT_EQ(removal->argv, apt);

    // A build tree: nothing was installed, nothing is started.
    fs::remove(dpkg / "orvanta.list");
    EXPECT_FALSE(unmoor::FindRemoval(programs_, dpkg));
    unmoor::Outcome outcome = unmoor::Uninstaller(programs_).Accept();
    EXPECT_FALSE(outcome.removal);
    EXPECT_FALSE(outcome.removalStarted);
}

TEST_F(UninstallerTest, TheFileRemovalTakesOnlyWhatTheListNames)
{
    const fs::path prefix = scratch_ / "prefix";
    const fs::path programs = prefix / "lib/orvanta";
    const fs::path menu = prefix / "share/applications/Orvanta Zidevoz 1.0";
    const fs::path list = programs / unmoor::kInstalledFilesName;
    for (const char* file : {"lib/orvanta/orvanta", "lib/orvanta/lib/libplatform.so", "lib/orvanta/user/pass.flt",
                             "share/applications/orvanta.desktop", "share/applications/other.desktop"})
        Spit(prefix / file, "x");
    Spit(menu / "Orvanta 제거.desktop", "x");
    Spit(scratch_ / "outside/keep.txt", "keep");
    fs::create_directories(prefix / "bin");
    fs::create_symlink("../lib/orvanta/orvanta", prefix / "bin/orvanta");
    fs::create_symlink(scratch_ / "outside/keep.txt", prefix / "share/link.txt");
    fs::create_directories(prefix / "share/applications/listed-as-file");
    const std::string p = prefix.string();
    Spit(list, p + "/lib/orvanta/orvanta\n" + p + "/lib/orvanta/lib/libplatform.so\n" + p + "/bin/orvanta\n" + p +
                   "/share/applications/orvanta.desktop\n" + menu.string() + "/Orvanta 제거.desktop\n" + p +
                   "/share/link.txt\n" + p + "/share/gone-already.desktop\n" +
                   // Refused: relative, not in normal form, a directory named as a file.
                   "lib/orvanta/orvanta\n" + p + "/share/../../outside/keep.txt\n" + p +
                   "/share/applications/listed-as-file\n" + list.string() + "\n" + p + "/lib/orvanta/lib/\n" + p +
                   "/lib/orvanta/\n" + menu.string() + "/\n" + p + "/share/\n");

    EXPECT_EQ(unmoor::RemoveInstalledFiles(list), 3);

    for (const char* gone :
         {"lib/orvanta/orvanta", "lib/orvanta/lib", "bin/orvanta", "share/applications/orvanta.desktop",
          "share/applications/Orvanta Zidevoz 1.0", "share/link.txt", "lib/orvanta/installed-files.txt"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(prefix / gone))) << gone;
    // What the user keeps in the program directory keeps it; what is not listed stays.
    EXPECT_EQ(Slurp(prefix / "lib/orvanta/user/pass.flt"), "x");
    EXPECT_EQ(Slurp(scratch_ / "outside/keep.txt"), "keep");
    EXPECT_TRUE(fs::exists(prefix / "share/applications/other.desktop"));
    EXPECT_TRUE(fs::is_directory(prefix / "share/applications/listed-as-file"));
    EXPECT_TRUE(fs::is_directory(prefix / "bin"));
    // Without its list nothing is removed.
    EXPECT_EQ(unmoor::RemoveInstalledFiles(list), 1);
}

}  // namespace
