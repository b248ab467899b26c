// The rules of the updater that need no network: the site list, "update.dat", the choice of
// files, and where a file may be installed.
#include <gtest/gtest.h>

#include "components/ledgerly/update_sites.h"
#include "freshet/install_files.h"
#include "freshet/update_list.h"
#include "platform/codepage.h"
#include "test_support.h"

using namespace freshet;
using freshet_test::Scratch;
using freshet_test::Spit;
namespace fs = std::filesystem;

namespace {

std::vector<std::pair<std::string, std::string>> Pairs(const std::vector<ledgerly::UpdateSite>& sites)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& s : sites)
        out.emplace_back(s.name, s.url);
    return out;
}

}  // namespace

TEST(SiteList, ReadsQuotedPairsIn100ByteLinesUntilAShortLine)
{
    Scratch scratch;
    fs::path list = scratch.path / "update.lst";
    const std::string korean = platform::Utf8ToCp949("한국 서버");
    // 8 bytes of name and separator, then a URL that runs past the 99 bytes of the line buffer.
    const std::string longUrl = "http://l/" + std::string(120, 'p');
    Spit(list, "\"" + korean +
                   "\" \"http://a.example/u\"\r\n"            // a space inside the quotes, CR LF
                   "\"single field\"\n"                       // one field: no site
                   "  \"B\"   \"http://b.example\"  \"x\"\n"  // runs of spaces, a third field
                   "\"long\" \"" +
                   longUrl +
                   "\"\n"  // cut at 99 bytes, the rest a line of its own
                   "\"C\" \"http://c\"\n"
                   "abc\n"  // shorter than 4: the list ends
                   "\"D\" \"http://d\"\n");
    std::string cut = ("\"long\" \"" + longUrl).substr(0, 99);
    std::vector<std::pair<std::string, std::string>> expected = {
        {korean, "http://a.example/u"},
        {"B", "http://b.example"},
        {"long", cut.substr(8, cut.size() - 9)},  // the first and the last byte of the field go
        {"C", "http://c"},
    };
    EXPECT_EQ(Pairs(ledgerly::LoadUpdateSites(list.string(), "def", "http://def")), expected);

    // No site in the file, or no file: the caller's default.
    std::vector<std::pair<std::string, std::string>> fallback = {{"def", "http://def"}};
    Spit(list, "ab\n\"E\" \"http://e\"\n");
    EXPECT_EQ(Pairs(ledgerly::LoadUpdateSites(list.string(), "def", "http://def")), fallback);
    fs::remove(list);
    EXPECT_EQ(Pairs(ledgerly::LoadUpdateSites(list.string(), "def", "http://def")), fallback);
}

TEST(UpdateList, FirstLineGivesTheDateAndEachLaterLineARecord)
{
    UpdateList list = ParseUpdateList({
        "UPDATE 20240501",
        "x Orvanta.exe 2.0",
        "",
        "x   online.flt   1.5   user",
        "only two",
        std::string(496, 'a') + " b c",  // 500 bytes: no fields
        "x a b c d",
    });
    EXPECT_EQ(list.date, "20240501");
    ASSERT_EQ(list.files.size(), 3u);
    EXPECT_EQ(list.files[0].fileName, "Orvanta.exe");
    EXPECT_EQ(list.files[0].version, "2.0");
    EXPECT_EQ(list.files[0].subdirectory, "");
    EXPECT_EQ(list.files[1].fileName, "online.flt");
    EXPECT_EQ(list.files[1].subdirectory, "user");
    EXPECT_EQ(list.files[2].subdirectory, "c");

    // Not an update list: nothing at all.
    for (const char* first : {"updat", "no update", ""}) {
        UpdateList none = ParseUpdateList({first, "x a.dat 1.0"});
        EXPECT_EQ(none.date, "") << first;
        EXPECT_TRUE(none.files.empty()) << first;
    }

    // The update check's reply names the base from its 8th byte on.
    EXPECT_EQ(UpdateBase({"Update http://127.0.0.1:1/base", "ignored"}), "http://127.0.0.1:1/base");
    EXPECT_EQ(UpdateBase({"update"}), "");
    EXPECT_EQ(UpdateBase({"<html>"}), "");
    EXPECT_EQ(UpdateBase({}), "");
}

TEST(Selection, ComparesNamesWithoutCaseAndVersionsAsBytes)
{
    UpdateList list = ParseUpdateList({
        "update 1",
        "x Orvanta.exe 2.9",
        "x online.flt 1.5 user",
        "x pass.flt 3.0",
        "x online.flt 1.6 elsewhere",
        "x Freshet.exe 2.10",
    });
    // Nothing installed: every record, a name listed twice twice.
    EXPECT_EQ(SelectFiles(list, {}),
              (std::vector<std::string>{"Orvanta.exe", "online.flt", "pass.flt", "online.flt", "Freshet.exe"}));

    // Versions compare as text: an installed "2.10" is smaller than a listed "2.9", so 2.9 is
    // fetched; an installed "2.9" is not smaller than a listed "2.10".
    std::vector<InstalledVersion> installed = {
        {"DATE", "99999999"}, {"ORVANTA.EXE", "2.10"}, {"Online.flt", "1.5"},
        {"pass.flt", "3.0"},  {"freshet.exe", "2.9"},
    };
    EXPECT_EQ(SelectFiles(list, installed), (std::vector<std::string>{"Orvanta.exe", "online.flt"}));

    // Of a name listed twice, the first record decides where it goes.
    ASSERT_NE(FindRecord(list, "online.flt"), nullptr);
    EXPECT_EQ(FindRecord(list, "online.flt")->subdirectory, "user");
    EXPECT_EQ(FindRecord(list, "ONLINE.FLT"), nullptr);
}

TEST(Destination, StaysInsideTheInstallationDirectory)
{
    Scratch scratch;
    fs::path root = scratch.path / "install";
    fs::create_directories(root / "User");
    fs::create_directories(scratch.path / "outside");
    fs::create_directory_symlink(scratch.path / "outside", root / "link");

    auto dest = [&](const std::string& name, const std::string& sub) {
        return InstallDestination(root, root, UPDATE_FILE{name, "1", sub});
    };
    EXPECT_EQ(dest("online.flt", "user"), root / "User" / "online.flt");  // existing names match without case
    EXPECT_EQ(dest("Orvanta.exe", ""), root / "orvanta");                 // program files by their Linux names
    EXPECT_EQ(dest("UNMOOR.EXE", "bin"), root / "bin" / "unmoor");
    EXPECT_EQ(dest("filters\\a.flt", "user"), root / "User" / "filters" / "a.flt");

    const std::pair<const char*, const char*> refused[] = {
        {"../escape.txt", ""}, {"a/../../escape.txt", ""}, {"..\\escape.txt", ""},  {"/etc/passwd", ""},
        {"x.txt", ".."},       {"x.txt", "/tmp"},          {"x.txt", "user/../.."}, {"", ""},
        {"user/", ""},         {"x.txt", "link"},          {"link/x.txt", ""},      {".", ""},
    };
    for (const auto& [name, sub] : refused)
        EXPECT_EQ(dest(name, sub), std::nullopt) << name << " in " << sub;
    EXPECT_EQ(PathBelow(root / "temp", "../x"), std::nullopt);

    // A system-wide install: the user's files go to their own data root, the rest stays.
    fs::path data = scratch.path / "data";
    auto split = [&](const std::string& name, const std::string& sub) {
        return InstallDestination(root, data, UPDATE_FILE{name, "1", sub});
    };
    EXPECT_EQ(split("online.flt", "USER"), data / "USER" / "online.flt");
    EXPECT_EQ(split("a.flt", "user\\filters"), data / "user" / "filters" / "a.flt");
    EXPECT_EQ(split("Orvanta.exe", ""), root / "orvanta");
    EXPECT_EQ(split("x.txt", "users"), root / "users" / "x.txt");
    EXPECT_EQ(split("x.txt", "user/../.."), std::nullopt);
}
