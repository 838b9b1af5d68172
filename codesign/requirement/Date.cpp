#include "codesign/requirement/Date.h"

#include <array>
#include <cstddef>

namespace codesign::requirement {
namespace {

struct CivilTime {
  int year, month, day, hour, minute, second;
};

// The number at text[offset, offset + width), all digits, or -1. The
// callers have checked the text's length.
int digitsAt(std::string_view text, std::size_t offset, std::size_t width) {
  int value = 0;
  for (std::size_t i = offset; i < offset + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
std::int64_t daysSinceEpoch(int year, int month, int day) {
  // Counted from year -400, so that the year is never negative: January and
  // February of year 0 belong to year -1 here.
  const std::int64_t y = (month <= 2 ? year - 1 : year) + 400;
  const std::int64_t era = y / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return (era - 1) * 146097 + dayOfEra - 719468;
}

std::optional<std::int64_t> toSeconds(const CivilTime& t) {
  if (t.year < 0 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > daysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
      t.minute > 59 || t.second < 0 || t.second > 59) {
    return std::nullopt;
  }
  return daysSinceEpoch(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 +
         t.second;
}

// The civil date of a day count from 1970-01-01: the inverse of daysSinceEpoch.
CivilTime civilDate(std::int64_t days) {
  const std::int64_t shifted = days + 719468 + 146097;  // from year -400, never negative
  const std::int64_t era = shifted / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  const std::int64_t year = (era - 1) * 400 + yearOfEra + (month <= 2 ? 1 : 0);
  return {static_cast<int>(year), month, day, 0, 0, 0};
}

void appendDigits(std::string* text, int value, int width) {
  std::string digits(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i, value /= 10) {
    digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
  }
  *text += digits;
}

}  // namespace

std::optional<std::string> formatGeneralizedTime(std::int64_t seconds) {
  // Years 0 to 9999: -62167219200 is 0000-01-01, 253402300800 is 10000-01-01.
  if (seconds < -62167219200 || seconds >= 253402300800) return std::nullopt;
  const std::int64_t days = (seconds + 62167219200) / 86400 - 719528;
  const std::int64_t secondOfDay = seconds - days * 86400;
  const CivilTime date = civilDate(days);
  std::string text;
  appendDigits(&text, date.year, 4);
  appendDigits(&text, date.month, 2);
  appendDigits(&text, date.day, 2);
  appendDigits(&text, static_cast<int>(secondOfDay / 3600), 2);
  appendDigits(&text, static_cast<int>(secondOfDay / 60 % 60), 2);
  appendDigits(&text, static_cast<int>(secondOfDay % 60), 2);
  return text + "Z";
}

std::optional<std::int64_t> parseGeneralizedTime(std::string_view text) {
  if (text.size() != 15 || text[14] != 'Z') return std::nullopt;
  return toSeconds({digitsAt(text, 0, 4), digitsAt(text, 4, 2), digitsAt(text, 6, 2),
                    digitsAt(text, 8, 2), digitsAt(text, 10, 2), digitsAt(text, 12, 2)});
}

std::optional<std::int64_t> parsePropertyListDate(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  return toSeconds({digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2),
                    digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2)});
}

}  // namespace codesign::requirement
