#include "app/core/HttpDate.h"

#include <vector>

#include "platform/AsciiText.h"

namespace {

int MonthOf(const std::string& name) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  for (int i = 0; i < 12; ++i)
    if (ascii::EqualNoCase(name, kMonths[i])) return i + 1;
  return 0;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the civil date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "08:49:37" to seconds of the day.
std::optional<int> TimeOfDay(const std::string& t) {
  if (t.size() != 8 || t[2] != ':' || t[5] != ':') return std::nullopt;
  const std::string h = t.substr(0, 2), m = t.substr(3, 2), s = t.substr(6, 2);
  if (!ascii::AllDigits(h) || !ascii::AllDigits(m) || !ascii::AllDigits(s)) return std::nullopt;
  const int hh = std::stoi(h), mm = std::stoi(m), ss = std::stoi(s);
  if (hh > 23 || mm > 59 || ss > 60) return std::nullopt;
  return hh * 3600 + mm * 60 + ss;
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(const std::string& text) {
  // Words between blanks, commas and dashes. In all three forms the first
  // number is the day and the second the year; the weekday is not checked.
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (c == ' ' || c == ',' || c == '-' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (words.size() > 6) return std::nullopt;
  std::vector<std::string> numbers;
  int month = 0;
  std::optional<int> seconds;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (ascii::AllDigits(w)) {
      numbers.push_back(w);
    } else if (w.find(':') != std::string::npos) {
      if (seconds) return std::nullopt;
      seconds = TimeOfDay(w);
      if (!seconds) return std::nullopt;
    } else if (MonthOf(w) != 0 && month == 0 && i > 0) {
      month = MonthOf(w);
    } else if (i != 0 && !(i + 1 == words.size() && (ascii::EqualNoCase(w, "GMT") || ascii::EqualNoCase(w, "UTC")))) {
      return std::nullopt;  // only the weekday, first, and the zone, last, are other words
    }
  }
  if (numbers.size() != 2 || month == 0 || !seconds) return std::nullopt;
  const std::string& d = numbers[0];
  const std::string& y = numbers[1];
  if (d.size() > 2 || (y.size() != 2 && y.size() != 4)) return std::nullopt;
  const int day = std::stoi(d);
  int year = std::stoi(y);
  if (y.size() == 2) year += year < 70 ? 2000 : 1900;
  if (year < 1970 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + *seconds;
}
