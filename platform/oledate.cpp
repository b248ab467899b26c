#include "platform/oledate.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int* y, int* m, int* d)
{
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long yy = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(yy + (*m <= 2));
}

constexpr long kOleEpochFromUnix = -25569;  // 1899-12-30 counted from 1970-01-01

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// The automation date keeps the time of day as a positive fraction even before the epoch,
// where the whole part is negative: -1.25 is 1899-12-29 06:00.
double Encode(long days, int secondsOfDay)
{
    double frac = secondsOfDay / 86400.0;
    return days >= 0 ? days + frac : days - frac;
}

void Decode(double dt, long* days, int* secondsOfDay)
{
    double whole = std::trunc(dt);
    double frac = std::fabs(dt - whole);
    long s = std::lround(frac * 86400.0);
    long d = static_cast<long>(whole);
    if (s >= 86400) {
        s -= 86400;
        d += dt >= 0 ? 1 : -1;
    }
    *days = d;
    *secondsOfDay = static_cast<int>(s);
}

struct Broken {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool Valid(const Broken& b)
{
    return b.year >= 100 && b.year <= 9999 && b.month >= 1 && b.month <= 12 && b.day >= 1 &&
           b.day <= DaysInMonth(b.year, b.month) && b.hour >= 0 && b.hour < 24 && b.minute >= 0 && b.minute < 60 &&
           b.second >= 0 && b.second < 60;
}

// ---- parser -------------------------------------------------------------------------------

struct Token {
    enum Kind { Number, Word, Sep } kind;
    std::string text;
    int value = 0;
    char sep = 0;
};

std::vector<Token> Tokenize(std::string_view s)
{
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size() && out.size() < 64) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isdigit(c)) {
            size_t j = i;
            int v = 0;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])) && j - i < 9)
                v = v * 10 + (s[j++] - '0');
            out.push_back({Token::Number, std::string(s.substr(i, j - i)), v, 0});
            i = j;
        } else if (std::isalpha(c)) {
            size_t j = i;
            while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j])))
                ++j;
            std::string w(s.substr(i, j - i));
            for (char& ch : w)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            out.push_back({Token::Word, w, 0, 0});
            i = j;
        } else if (std::isspace(c)) {
            ++i;
        } else {
            out.push_back({Token::Sep, std::string(1, s[i]), 0, s[i]});
            ++i;
        }
    }
    return out;
}

int MonthFromWord(const std::string& w)
{
    static const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (w.size() < 3)
        return 0;
    for (int i = 0; i < 12; ++i)
        if (w.compare(0, 3, names[i]) == 0)
            return i + 1;
    return 0;
}

bool IsWeekday(const std::string& w)
{
    static const char* names[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    if (w.size() < 3)
        return false;
    for (const char* n : names)
        if (w.compare(0, 3, n) == 0)
            return true;
    return false;
}

int FullYear(const Token& t)
{
    if (t.text.size() <= 2)
        return t.value < 50 ? 2000 + t.value : 1900 + t.value;
    return t.value;
}

class Parser {
public:
    explicit Parser(std::vector<Token> t) : toks_(std::move(t)) {}

    bool Parse(Broken* b)
    {
        SkipWeekday();
        if (!ParseDate(b))
            return false;
        ParseTime(b);  // optional; anything after the date or time is ignored
        return Valid(*b);
    }

private:
    const Token* Peek(size_t ahead = 0) const { return pos_ + ahead < toks_.size() ? &toks_[pos_ + ahead] : nullptr; }
    bool IsSep(size_t ahead, char c) const
    {
        const Token* t = Peek(ahead);
        return t && t->kind == Token::Sep && t->sep == c;
    }
    bool IsNum(size_t ahead) const
    {
        const Token* t = Peek(ahead);
        return t && t->kind == Token::Number;
    }
    bool IsMonth(size_t ahead) const
    {
        const Token* t = Peek(ahead);
        return t && t->kind == Token::Word && MonthFromWord(t->text) != 0;
    }

    void SkipWeekday()
    {
        if (Peek() && Peek()->kind == Token::Word && IsWeekday(Peek()->text)) {
            ++pos_;
            if (IsSep(0, ','))
                ++pos_;
        }
    }

    bool ParseDate(Broken* b)
    {
        // 22 Aug 2002 / 22-Aug-2002
        if (IsNum(0) && Peek()->text.size() <= 2) {
            size_t k = 1;
            if (IsSep(k, '-') || IsSep(k, ' '))
                ++k;
            if (IsMonth(k)) {
                size_t y = k + 1;
                if (IsSep(y, '-') || IsSep(y, ','))
                    ++y;
                if (IsNum(y)) {
                    b->day = Peek()->value;
                    b->month = MonthFromWord(Peek(k)->text);
                    b->year = FullYear(*Peek(y));
                    pos_ += y + 1;
                    return true;
                }
            }
        }
        // Aug 22, 2002
        if (IsMonth(0) && IsNum(1)) {
            size_t y = 2;
            if (IsSep(y, ','))
                ++y;
            if (IsNum(y) && !IsSep(y + 1, ':')) {
                b->month = MonthFromWord(Peek()->text);
                b->day = Peek(1)->value;
                b->year = FullYear(*Peek(y));
                pos_ += y + 1;
                return true;
            }
        }
        // 2002-08-22, 2002/08/22, 08/22/2002, 08-22-2002
        if (IsNum(0) && (IsSep(1, '-') || IsSep(1, '/') || IsSep(1, '.')) && IsNum(2) && IsSep(3, Peek(1)->sep) &&
            IsNum(4)) {
            const Token& a = *Peek(0);
            const Token& m = *Peek(2);
            const Token& c = *Peek(4);
            if (a.text.size() == 4) {
                b->year = a.value;
                b->month = m.value;
                b->day = c.value;
            } else {
                b->month = a.value;
                b->day = m.value;
                b->year = FullYear(c);
            }
            pos_ += 5;
            return true;
        }
        return false;
    }

    void ParseTime(Broken* b)
    {
        if (!(IsNum(0) && IsSep(1, ':') && IsNum(2)))
            return;
        b->hour = Peek(0)->value;
        b->minute = Peek(2)->value;
        pos_ += 3;
        if (IsSep(0, ':') && IsNum(1)) {
            b->second = Peek(1)->value;
            pos_ += 2;
        }
        if (Peek() && Peek()->kind == Token::Word) {
            const std::string& w = Peek()->text;
            if ((w == "pm" || w == "p") && b->hour >= 1 && b->hour < 12)
                b->hour += 12;
            else if ((w == "am" || w == "a") && b->hour == 12)
                b->hour = 0;
        }
    }

    std::vector<Token> toks_;
    size_t pos_ = 0;
};

}  // namespace

COleDateTime::COleDateTime() = default;

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second)
{
    Broken b{year, month, day, hour, minute, second};
    if (!Valid(b)) {
        m_status = invalid;
        return;
    }
    long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpochFromUnix;
    m_dt = Encode(days, hour * 3600 + minute * 60 + second);
    m_status = valid;
}

COleDateTime COleDateTime::GetCurrentTime() { return FromTimeT(std::time(nullptr)); }

COleDateTime COleDateTime::FromTimeT(time_t t)
{
    std::tm tm{};
    if (!localtime_r(&t, &tm)) {
        COleDateTime bad;
        bad.m_status = invalid;
        return bad;
    }
    return COleDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

COleDateTime COleDateTime::FromTimeTUtc(time_t t)
{
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) {
        COleDateTime bad;
        bad.m_status = invalid;
        return bad;
    }
    return COleDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

bool COleDateTime::ParseDateTime(const char* text, unsigned long /*flags*/)
{
    Broken b;
    if (text == nullptr || !Parser(Tokenize(std::string_view(text, strnlen(text, 4096)))).Parse(&b)) {
        m_dt = 0.0;
        m_status = invalid;
        return false;
    }
    *this = COleDateTime(b.year, b.month, b.day, b.hour, b.minute, b.second);
    return m_status == valid;
}

namespace {
bool Split(const COleDateTime& d, Broken* b)
{
    if (d.m_status != COleDateTime::valid)
        return false;
    long days;
    int secs;
    Decode(d.m_dt, &days, &secs);
    CivilFromDays(days + kOleEpochFromUnix, &b->year, &b->month, &b->day);
    b->hour = secs / 3600;
    b->minute = secs / 60 % 60;
    b->second = secs % 60;
    return true;
}
}  // namespace

int COleDateTime::GetYear() const
{
    Broken b;
    return Split(*this, &b) ? b.year : -1;
}
int COleDateTime::GetMonth() const
{
    Broken b;
    return Split(*this, &b) ? b.month : -1;
}
int COleDateTime::GetDay() const
{
    Broken b;
    return Split(*this, &b) ? b.day : -1;
}
int COleDateTime::GetHour() const
{
    Broken b;
    return Split(*this, &b) ? b.hour : -1;
}
int COleDateTime::GetMinute() const
{
    Broken b;
    return Split(*this, &b) ? b.minute : -1;
}
int COleDateTime::GetSecond() const
{
    Broken b;
    return Split(*this, &b) ? b.second : -1;
}

int COleDateTime::GetDayOfWeek() const
{
    if (m_status != valid)
        return -1;
    long days;
    int secs;
    Decode(m_dt, &days, &secs);
    // 1899-12-30 was a Saturday (7).
    long w = ((days + 6) % 7 + 7) % 7;  // 0 = Sunday
    return static_cast<int>(w) + 1;
}

std::string COleDateTime::Format(const char* format) const
{
    Broken b;
    if (format == nullptr || !Split(*this, &b))
        return std::string();
    std::tm tm{};
    tm.tm_year = b.year - 1900;
    tm.tm_mon = b.month - 1;
    tm.tm_mday = b.day;
    tm.tm_hour = b.hour;
    tm.tm_min = b.minute;
    tm.tm_sec = b.second;
    tm.tm_wday = GetDayOfWeek() - 1;
    char buf[512];
    size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}
