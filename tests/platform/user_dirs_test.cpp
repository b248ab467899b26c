#include "platform/user_dirs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UserDirs, BaseDirectoriesFollowTheXdgRules)
{
    EnvVar home("HOME", "/home/someone");
    {
        EnvVar data("XDG_DATA_HOME", "/srv/data");
        EnvVar config("XDG_CONFIG_HOME", "relative/is/ignored");
        EXPECT_EQ(platform::UserDataHome(), "/srv/data");
        EXPECT_EQ(platform::UserConfigHome(), "/home/someone/.config");
    }
    EnvVar data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(platform::UserDataHome(), "/home/someone/.local/share");
}

TEST(UserDirs, DataStaysWithTheProgramUnlessTheUserMayNotWriteThere)
{
    fs::path scratch = fs::temp_directory_path() / ("user-dirs-" + std::to_string(getpid()));
    fs::create_directories(scratch / "program");
    EnvVar data("XDG_DATA_HOME", (scratch / "data").c_str());

    // A build tree or an install into the user's own prefix.
    EXPECT_EQ(platform::DataRootFor((scratch / "program").string()), (scratch / "program").string());
    // A program directory the user cannot write: the user's data home.
    const std::string own = (scratch / "data" / "orvanta").string();
    EXPECT_EQ(platform::DataRootFor((scratch / "gone").string()), own);
    if (geteuid() != 0) {  // root writes anywhere, whatever the mode
        chmod((scratch / "program").c_str(), 0555);
        EXPECT_FALSE(platform::UserMayWrite((scratch / "program").string()));
        EXPECT_EQ(platform::DataRootFor((scratch / "program").string()), own);
        chmod((scratch / "program").c_str(), 0755);
    }
    fs::remove_all(scratch);
}

}  // namespace
