#include "util/datetime.h"

#include <cmath>
#include <cstdint>

#include <fmt/format.h>

namespace veltrano {
namespace {

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 to the given date (proleptic Gregorian).
int64_t daysFromCivilStart(int y, int m, int d)
{
    const int64_t yy = y - 1;
    int64_t days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
    for (int i = 1; i < m; ++i)
        days += daysInMonth(y, i);
    return days + d - 1;
}

const int64_t kEpoch = daysFromCivilStart(1899, 12, 30);

// A small cursor over the text being read.
class Scanner
{
public:
    explicit Scanner(std::string_view text)
        : m_text(text)
    {
    }

    void skipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    bool atEnd() const { return m_pos >= m_text.size(); }
    size_t position() const { return m_pos; }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    bool takeWord(std::string_view word, bool ignoreCase = false)
    {
        if (m_text.size() - m_pos < word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i) {
            char a = m_text[m_pos + i];
            char b = word[i];
            if (ignoreCase && a >= 'a' && a <= 'z')
                a = char(a - 'a' + 'A');
            if (a != b)
                return false;
        }
        m_pos += word.size();
        return true;
    }
    // Up to maxDigits decimal digits; -1 when there is none.
    int number(int maxDigits, int *digits = nullptr)
    {
        int value = 0;
        int n = 0;
        while (n < maxDigits && peek() >= '0' && peek() <= '9') {
            value = value * 10 + (m_text[m_pos++] - '0');
            ++n;
        }
        if (digits)
            *digits = n;
        return n ? value : -1;
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

enum class Meridiem { None, Am, Pm };

Meridiem takeMeridiem(Scanner &s)
{
    s.skipBlanks();
    if (s.takeWord("AM", true) || s.takeWord("\xE4\xB8\x8A\xE5\x8D\x88") || s.takeWord("\xA4\x57\xA4\xC8"))
        return Meridiem::Am;
    if (s.takeWord("PM", true) || s.takeWord("\xE4\xB8\x8B\xE5\x8D\x88") || s.takeWord("\xA4\x55\xA4\xC8"))
        return Meridiem::Pm;
    return Meridiem::None;
}

std::optional<double> readDate(Scanner &s)
{
    int firstDigits = 0;
    const int first = s.number(4, &firstDigits);
    if (first < 0)
        return std::nullopt;
    if (s.take('/')) {
        const int second = s.number(2);
        if (second < 0 || !s.take('/'))
            return std::nullopt;
        int thirdDigits = 0;
        const int third = s.number(4, &thirdDigits);
        if (third < 0)
            return std::nullopt;
        if (firstDigits == 4 && thirdDigits <= 2)
            return encodeDate(first, second, third); // yyyy/m/d
        if (firstDigits <= 2 && thirdDigits == 4)
            return encodeDate(third, first, second); // m/d/yyyy
        return std::nullopt;
    }
    if (firstDigits == 4 && s.take('-')) {
        const int month = s.number(2);
        if (month < 0 || !s.take('-'))
            return std::nullopt;
        const int day = s.number(2);
        return day < 0 ? std::nullopt : encodeDate(first, month, day);
    }
    return std::nullopt;
}

} // namespace

std::optional<double> encodeDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return std::nullopt;
    return double(daysFromCivilStart(year, month, day) - kEpoch);
}

std::optional<double> encodeTime(int hour, int minute, int second, int millisecond)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59
        || millisecond < 0 || millisecond > 999)
        return std::nullopt;
    return (((hour * 60 + minute) * 60 + second) * 1000 + millisecond) / 86400000.0;
}

DateTimeParts decodeDateTime(double value)
{
    DateTimeParts parts;
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
        return parts;
    // Before the epoch the fraction still counts forward from midnight, as the stored format has it.
    double day = std::trunc(value);
    int64_t ms = std::llround(std::fabs(value - day) * 86400000.0);
    if (ms >= 86400000) {
        // A time of day that rounds up to midnight is the start of the next calendar day; before
        // the epoch that day has the smaller magnitude (-1.9999999 is 1899-12-30 00:00, i.e. 0).
        ms -= 86400000;
        day += 1;
    }
    int64_t n = int64_t(day) + kEpoch; // days since 0001-01-01
    if (n < 0)
        return parts;
    int y = int(n / 366) + 1;
    while (y < 9999 && daysFromCivilStart(y + 1, 1, 1) <= n)
        ++y;
    n -= daysFromCivilStart(y, 1, 1);
    int m = 1;
    while (m < 12 && n >= daysInMonth(y, m))
        n -= daysInMonth(y, m++);
    parts.year = y;
    parts.month = m;
    parts.day = int(n) + 1;
    parts.hour = int(ms / 3600000);
    parts.minute = int(ms / 60000 % 60);
    parts.second = int(ms / 1000 % 60);
    parts.millisecond = int(ms % 1000);
    return parts;
}

std::optional<double> parseDateTime(std::string_view text)
{
    Scanner s(text);
    s.skipBlanks();
    const std::optional<double> date = readDate(s);
    if (!date)
        return std::nullopt;
    const size_t dateEnd = s.position();
    s.skipBlanks();
    if (s.atEnd())
        return date;

    // The time is set off from the date by a blank or a leading meridiem word, so that
    // 1/2/200110:00 is not read as a date followed by a time.
    Meridiem meridiem = takeMeridiem(s);
    if (meridiem == Meridiem::None && s.position() == dateEnd)
        return std::nullopt;
    s.skipBlanks();
    int hour = s.number(2);
    if (hour < 0 || !s.take(':'))
        return std::nullopt;
    const int minute = s.number(2);
    if (minute < 0)
        return std::nullopt;
    int second = 0;
    if (s.take(':') && (second = s.number(2)) < 0)
        return std::nullopt;
    if (meridiem == Meridiem::None)
        meridiem = takeMeridiem(s);
    s.skipBlanks();
    if (!s.atEnd())
        return std::nullopt;
    if (meridiem != Meridiem::None) {
        if (hour > 12)
            return std::nullopt;
        hour = hour % 12 + (meridiem == Meridiem::Pm ? 12 : 0);
    }
    const std::optional<double> time = encodeTime(hour, minute, second);
    if (!time)
        return std::nullopt;
    // Before the epoch the time of day is added to the magnitude, as the stored format counts it.
    return *date < 0 ? *date - *time : *date + *time;
}

std::string invalidDateTimeText(std::string_view shown)
{
    return fmt::format("'{}' is not a valid date and time", shown);
}

std::string formatDateTime(double value)
{
    const DateTimeParts p = decodeDateTime(value);
    return fmt::format("{:04}/{:02}/{:02} {:02}:{:02}:{:02}", p.year, p.month, p.day, p.hour,
                       p.minute, p.second);
}

} // namespace veltrano
