#include "platform/process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace platform;

TEST(Process, ListIncludesThisProcess)
{
    std::vector<ProcessInfo> list = ListProcesses();
    bool found = false;
    for (const ProcessInfo& p : list) {
        if (p.pid == getpid()) {
            found = true;
            EXPECT_EQ(p.name, "platform_process_test");
            EXPECT_NE(p.path.find("platform_process_test"), std::string::npos);
        }
    }
    EXPECT_TRUE(found);
}

TEST(Process, SpawnRunsTheProgramWithItsArguments)
{
    std::string out = std::filesystem::temp_directory_path() / ("orvanta-spawn-" + std::to_string(getpid()));
    std::filesystem::remove(out);
    pid_t pid = SpawnProgram("/bin/sh", {"-c", "printf '%s|%s' \"$0\" \"$1\" > " + out, "one two", "three"});
    ASSERT_GT(pid, 0);
    std::string text;
    for (int i = 0; i < 200 && text.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(out);
        std::getline(in, text);
    }
    EXPECT_EQ(text, "one two|three");
    std::filesystem::remove(out);
}

TEST(Process, SpawnReportsAMissingProgram)
{
    EXPECT_EQ(SpawnProgram("/nonexistent/orvanta-program", {}), -1);
    EXPECT_EQ(SpawnProgram("orvanta-no-such-command-xyz", {"a"}), -1);
    EXPECT_FALSE(OpenUrl(""));
}
