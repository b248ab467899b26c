#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/sievelet/test_support.h"
#include "tools/orvanta-learn/mail_sources.h"

namespace {

using sievelet_test::TempDir;
namespace fs = std::filesystem;

std::string Mail(const std::string& id, const std::string& subject, const std::string& body)
{
    return "From: " + id + "@example.com\nTo: me@example.net\nMessage-ID: <" + id +
           "@example.com>\nSubject: " + subject + "\n\n" + body + "\n";
}

std::string SpamMail(int i) { return Mail("s" + std::to_string(i), "cheap pills", "buy cheap pills casino jackpot"); }

std::string HamMail(int i) { return Mail("h" + std::to_string(i), "build report", "the nightly build passed"); }

// Runs the program; its standard output, and its exit status in `status`.
std::string RunTool(const std::string& args, int* status)
{
    FILE* pipe = popen((std::string(ORVANTA_LEARN_PROGRAM) + " " + args + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    int rc = pipe ? pclose(pipe) : -1;
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

TEST(MailSources, MboxIsSplitAndUnquotedAndEveryLineEndIsCrLf)
{
    TempDir dir;
    std::ofstream(dir.File("box"), std::ios::binary)
        << "From a@b Sat Jan  1 00:00:00 2000\nSubject: one\n\nline\n>From the start\n\n"
           "From c@d Sat Jan  1 00:00:00 2000\r\nSubject: two\r\n\r\nbody\r\n";
    std::vector<std::string> messages;
    ASSERT_TRUE(orvanta::learn::ReadMailSource(dir.File("box"), [&](const std::string& m) { messages.push_back(m); }));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Subject: one\r\n\r\nline\r\nFrom the start\r\n\r\n");
    EXPECT_EQ(messages[1], "Subject: two\r\n\r\nbody\r\n");
    EXPECT_FALSE(orvanta::learn::ReadMailSource(dir.File("missing"), [](const std::string&) {}));
}

TEST(LearnTool, TrainsFromMboxAndMaildirScoresAndShowsFigures)
{
    TempDir dir;
    {
        std::ofstream mbox(dir.File("spam.mbox"), std::ios::binary);
        for (int i = 0; i < 60; ++i)
            mbox << "From x@y Mon Jan  1 00:00:00 2024\n" << SpamMail(i) << "\n";
    }
    fs::create_directories(dir.File("ham/cur"));
    fs::create_directories(dir.File("ham/new"));
    fs::create_directories(dir.File("ham/tmp"));
    for (int i = 0; i < 60; ++i)
        std::ofstream(dir.File("ham/" + std::string(i % 2 ? "cur/" : "new/") + std::to_string(i)), std::ios::binary)
            << HamMail(i);
    std::ofstream(dir.File("ham/tmp/partial"), std::ios::binary) << HamMail(999);
    std::ofstream(dir.File("probe.eml"), std::ios::binary) << SpamMail(1000);

    const std::string store = "--store " + dir.File("learn.db") + " ";
    int status = 0;
    std::string out = RunTool(store + "score " + dir.File("probe.eml"), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("too little training"), std::string::npos) << out;

    out = RunTool(store + "spam " + dir.File("spam.mbox"), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("60 trained as spam, 0 trained so before"), std::string::npos) << out;
    out = RunTool(store + "spam " + dir.File("spam.mbox"), &status);
    EXPECT_NE(out.find("0 trained as spam, 60 trained so before"), std::string::npos) << out;
    out = RunTool(store + "ham " + dir.File("ham"), &status);
    EXPECT_NE(out.find("60 trained as ham"), std::string::npos) << out;

    out = RunTool(store + "figures", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("spam messages 60\nham messages 60\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ready yes"), std::string::npos) << out;
    EXPECT_NE(out.find("consistent yes"), std::string::npos) << out;

    out = RunTool(store + "score " + dir.File("probe.eml") + " 3", &status);
    EXPECT_EQ(out.rfind("spam ", 0), 0u) << out;
    EXPECT_NE(out.find("spam 60 ham 0  "), std::string::npos) << out;

    out = RunTool(store + "untrain " + dir.File("spam.mbox"), &status);
    EXPECT_NE(out.find("60 untrained"), std::string::npos) << out;
    out = RunTool(store + "figures", &status);
    EXPECT_NE(out.find("spam messages 0\n"), std::string::npos) << out;

    RunTool(store + "bogus", &status);
    EXPECT_EQ(status, 2);
}

}  // namespace
