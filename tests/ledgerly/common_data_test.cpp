#include "components/ledgerly/ledgerly.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "components/almanac/almanac.h"

namespace {

std::string Get(void (*op)(char*, int))
{
    auto buf = std::make_unique<char[]>(100);  // the updater's buffer
    memset(buf.get(), '#', 100);
    op(buf.get(), 1);
    EXPECT_NE(memchr(buf.get(), '\0', 100), nullptr);
    return std::string(buf.get());
}

class CommonData : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("ORVANTA_UPDATE_URL"); }
    void TearDown() override { unsetenv("ORVANTA_UPDATE_URL"); }
};

}  // namespace

TEST_F(CommonData, DefaultUrlIsAbsoluteHttpsWithoutTrailingSlash)
{
    std::string url = Get(CCommonData::GetUpdateURL);
    EXPECT_EQ(url.rfind("https://", 0), 0u);
    EXPECT_GT(url.size(), 7u);
    EXPECT_NE(url.back(), '/');
}

TEST_F(CommonData, SameAddressAsTheMainProgram)
{
    EXPECT_EQ(Get(CCommonData::GetUpdateURL), Get(CProgramInfo::GetUpdateURL));
    setenv("ORVANTA_UPDATE_URL", "http://127.0.0.1:39999/u/", 1);
    EXPECT_EQ(Get(CCommonData::GetUpdateURL), "http://127.0.0.1:39999/u");
    EXPECT_EQ(Get(CCommonData::GetUpdateURL), Get(CProgramInfo::GetUpdateURL));
}

TEST_F(CommonData, UnusableOverrideIsIgnored)
{
    std::string def = Get(CCommonData::GetUpdateURL);
    setenv("ORVANTA_UPDATE_URL", "not a url", 1);
    EXPECT_EQ(Get(CCommonData::GetUpdateURL), def);
}
