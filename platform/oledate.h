#pragma once

#include <ctime>
#include <string>

// Stand-in for the automation date type: days since 1899-12-30 00:00 as a double (the
// fraction is the time of day), plus a status. No time zone is kept.
class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTime();  // valid, 0.0
    COleDateTime(int year, int month, int day, int hour, int minute, int second);
    static COleDateTime GetCurrentTime();     // local time now
    static COleDateTime FromTimeT(time_t t);  // local time of t
    static COleDateTime FromTimeTUtc(time_t t);

    // Parses the common textual date forms ("22 Aug 2002 08:17:21", "Thu, 22 Aug 2002 8:17",
    // "2002-08-22 08:17:21", "08/22/2002"), ignoring a trailing zone or other trailing text
    // after the time. Returns false and sets the status to invalid when nothing parses.
    bool ParseDateTime(const char* text, unsigned long flags = 0);

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }

    int GetYear() const;
    int GetMonth() const;  // 1..12
    int GetDay() const;    // 1..31
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday .. 7 = Saturday

    // strftime-style formatting of the broken-down value; empty when invalid.
    std::string Format(const char* format) const;

    bool operator==(const COleDateTime& o) const { return m_dt == o.m_dt && m_status == o.m_status; }
    bool operator<(const COleDateTime& o) const { return m_dt < o.m_dt; }

    double m_dt = 0.0;
    DateTimeStatus m_status = valid;
};
