#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// Date-times are days since 1899-12-30 as a double; the fraction is the time of day.

// Days since 1899-12-30 of a calendar date; nullopt for a date that does not exist
// (years 1 to 9999).
std::optional<double> encodeDate(int year, int month, int day);
std::optional<double> encodeTime(int hour, int minute, int second, int millisecond = 0);

struct DateTimeParts
{
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
// The parts of a date-time, rounded to the millisecond.
DateTimeParts decodeDateTime(double value);

// The program's one reader of date-time texts. Accepts yyyy/m/d, m/d/yyyy and yyyy-mm-dd,
// each optionally followed by h:mm or h:mm:ss and by AM or PM (or 上午 / 下午, in UTF-8 or
// Big5 bytes, before or after the time). Blanks around the parts are allowed. nullopt for any
// other text or a date or time that does not exist.
std::optional<double> parseDateTime(std::string_view text);

// The message of the conversion error for a text that parseDateTime refuses; `shown` is that
// text in UTF-8 (the caller converts code-page bytes).
std::string invalidDateTimeText(std::string_view shown);

// The program's one writer: yyyy/mm/dd hh:nn:ss (rounded to the millisecond, then cut to the
// second).
std::string formatDateTime(double value);

} // namespace veltrano
