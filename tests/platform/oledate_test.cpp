#include "platform/oledate.h"

#include <gtest/gtest.h>

namespace {
void ExpectDate(const COleDateTime& d, int y, int mo, int day, int h, int mi, int s)
{
    ASSERT_EQ(d.GetStatus(), COleDateTime::valid);
    EXPECT_EQ(d.GetYear(), y);
    EXPECT_EQ(d.GetMonth(), mo);
    EXPECT_EQ(d.GetDay(), day);
    EXPECT_EQ(d.GetHour(), h);
    EXPECT_EQ(d.GetMinute(), mi);
    EXPECT_EQ(d.GetSecond(), s);
}
}  // namespace

TEST(OleDate, SerialNumbersMatchTheAutomationEpoch)
{
    EXPECT_DOUBLE_EQ(COleDateTime(1899, 12, 30, 0, 0, 0).m_dt, 0.0);
    EXPECT_DOUBLE_EQ(COleDateTime(1900, 1, 1, 0, 0, 0).m_dt, 2.0);
    EXPECT_DOUBLE_EQ(COleDateTime(2000, 1, 1, 12, 0, 0).m_dt, 36526.5);
    // Before the epoch the fraction still counts forwards from midnight.
    COleDateTime before(1899, 12, 29, 6, 0, 0);
    EXPECT_DOUBLE_EQ(before.m_dt, -1.25);
    ExpectDate(before, 1899, 12, 29, 6, 0, 0);
    EXPECT_EQ(COleDateTime(2002, 8, 22, 0, 0, 0).GetDayOfWeek(), 5);  // Thursday
    EXPECT_EQ(COleDateTime(1899, 12, 30, 0, 0, 0).GetDayOfWeek(), 7);
    EXPECT_EQ(COleDateTime(2001, 2, 29, 0, 0, 0).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime(2000, 2, 29, 23, 59, 59).GetStatus(), COleDateTime::valid);
    EXPECT_EQ(COleDateTime::FromTimeTUtc(0).m_dt, 25569.0);
}

TEST(OleDate, ParsesTheCommonDateHeaderForms)
{
    COleDateTime d;
    // What the header model hands over: the text after the weekday's comma, cut before the zone.
    EXPECT_TRUE(d.ParseDateTime(" 22 Aug 2002 08:17:21"));
    ExpectDate(d, 2002, 8, 22, 8, 17, 21);
    EXPECT_TRUE(d.ParseDateTime("Thu, 22 Aug 2002 8:17 -070"));
    ExpectDate(d, 2002, 8, 22, 8, 17, 0);
    EXPECT_TRUE(d.ParseDateTime("5 Jan 03 23:59:01 GM"));
    ExpectDate(d, 2003, 1, 5, 23, 59, 1);
    EXPECT_TRUE(d.ParseDateTime("22-AUG-1998"));
    ExpectDate(d, 1998, 8, 22, 0, 0, 0);
    EXPECT_TRUE(d.ParseDateTime("August 22, 2002 10:00 PM"));
    ExpectDate(d, 2002, 8, 22, 22, 0, 0);
    EXPECT_TRUE(d.ParseDateTime("2002-08-22 08:17:21"));
    ExpectDate(d, 2002, 8, 22, 8, 17, 21);
    EXPECT_TRUE(d.ParseDateTime("08/22/2002 12:30 AM"));
    ExpectDate(d, 2002, 8, 22, 0, 30, 0);
}

TEST(OleDate, RejectsTextThatIsNoDate)
{
    COleDateTime d(2002, 8, 22, 0, 0, 0);
    const char* bad[] = {
        "",           "   ",  "yesterday", "32 Aug 2002", "22 Foo 2002", "29 Feb 2001 10:00", "22 Aug 2002 25:00",
        "2002-13-01", nullptr};
    for (const char* text : bad) {
        SCOPED_TRACE(text ? text : "(null)");
        EXPECT_FALSE(d.ParseDateTime(text));
        EXPECT_EQ(d.GetStatus(), COleDateTime::invalid);
        EXPECT_EQ(d.GetYear(), -1);
        EXPECT_EQ(d.Format("%Y"), "");
    }
}

TEST(OleDate, FormatsAndCompares)
{
    COleDateTime a(2002, 8, 22, 8, 17, 21);
    EXPECT_EQ(a.Format("%Y-%m-%d %H:%M:%S %a"), "2002-08-22 08:17:21 Thu");
    COleDateTime b;
    b.ParseDateTime("22 Aug 2002 08:17:21");
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(COleDateTime(2002, 8, 21, 23, 0, 0) < a);
    COleDateTime now = COleDateTime::GetCurrentTime();
    EXPECT_EQ(now.GetStatus(), COleDateTime::valid);
    EXPECT_GE(now.GetYear(), 2024);
}
