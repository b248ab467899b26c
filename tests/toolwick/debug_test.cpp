#include "components/toolwick/debug.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class Recorder : public CDebug {
public:
    void DebugMesg(char* mesg) override { lines.emplace_back(mesg); }
    std::vector<std::string> lines;
};

}  // namespace

TEST(Debug, DerivedListenerReceivesEachLine)
{
    Recorder recorder;
    CDebug* listener = &recorder;
    char a[] = "+OK POP3 ready";
    char b[] = "USER test";
    listener->DebugMesg(a);
    listener->DebugMesg(b);
    ASSERT_EQ(recorder.lines.size(), 2u);
    EXPECT_EQ(recorder.lines[1], "USER test");
}

TEST(Debug, BaseListenerDiscardsTheLine)
{
    CDebug base;
    char text[] = "nothing happens";
    base.DebugMesg(text);
    EXPECT_STREQ(text, "nothing happens");
}
