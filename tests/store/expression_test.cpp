// The expression compiler and evaluator on raw records.
#include "expression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qc {
namespace {

const std::vector<dbf::Field> kFields = {
    {"SUBJECT", 'C', 10, 0, 1}, {"DATESENT", 'D', 8, 0, 11}, {"TIMESENT", 'C', 5, 0, 19},
    {"PAGES", 'N', 3, 0, 24},   {"ARCHIVED", 'L', 1, 0, 27},
};

// A record: flag, SUBJECT, DATESENT, TIMESENT, PAGES, ARCHIVED.
std::vector<std::uint8_t> Record(bool deleted, const char* subject, const char* date, const char* time,
                                 const char* pages, char archived) {
  std::string r(28, ' ');
  r[0] = deleted ? '*' : ' ';
  std::memcpy(&r[1], subject, std::min<std::size_t>(10, std::strlen(subject)));
  std::memcpy(&r[11], date, std::min<std::size_t>(8, std::strlen(date)));
  std::memcpy(&r[19], time, std::min<std::size_t>(5, std::strlen(time)));
  const std::size_t pl = std::strlen(pages);
  std::memcpy(&r[24 + 3 - pl], pages, pl);
  r[27] = archived;
  return std::vector<std::uint8_t>(r.begin(), r.end());
}

std::string Show(const ExprValue& v) {
  switch (v.type) {
    case ExprType::Character: return "C:" + v.text;
    case ExprType::Numeric: return "N:" + std::to_string(static_cast<long long>(v.number));
    case ExprType::Date: return "D:" + DtosFromJulian(static_cast<std::int64_t>(v.number));
    case ExprType::Logical: return v.logical ? "L:T" : "L:F";
  }
  return "?";
}

TEST(Expression, EvaluatesOnRecords) {
  const auto sent = Record(false, "alpha", "20240312", "17:40", "12", 'T');
  const auto blank = Record(true, "Beta", "", "", "", 'F');
  struct Case {
    const char* source;
    const std::vector<std::uint8_t>* rec;
    const char* expected;
  } cases[] = {
      {"DTOS(DATESENT)+TIMESENT", &sent, "C:2024031217:40"},
      {"DTOS( DATESENT ) + TIMESENT", &blank, "C:             "},
      {"upper(subject)", &sent, "C:ALPHA     "},
      {"Upper( Subject )", &blank, "C:BETA      "},
      {"ARCHIVED", &sent, "L:T"},
      {".not. archived", &sent, "L:F"},
      {".NOT.ARCHIVED", &blank, "L:T"},
      {"! ARCHIVED", &blank, "L:T"},
      {".not. deleted()", &blank, "L:F"},
      {"! DELETED()", &sent, "L:T"},
      {"deleted() .or. archived", &blank, "L:T"},
      {"archived .and. .not. deleted()", &sent, "L:T"},
      {"subject = 'alp'", &sent, "L:T"},
      {"subject == 'alpha'", &sent, "L:F"},  // exact: the field keeps its blanks
      {"subject # 'alp'", &sent, "L:F"},
      {"subject <> \"Beta\"", &blank, "L:F"},
      {"subject != [x]", &blank, "L:T"},
      {"'ph' $ subject", &sent, "L:T"},
      {"subject < 'b'", &sent, "L:T"},
      {"pages >= 12 .and. pages < 13", &sent, "L:T"},
      {"pages * 2 + 1", &sent, "N:25"},
      {"-pages", &sent, "N:-12"},
      {"DATESENT + 1", &sent, "D:20240313"},
      {"DATESENT > DATESENT - 1", &sent, "L:T"},
      {"EMPTY(DATESENT)", &blank, "L:T"},
      {"trim(subject) + '|'", &sent, "C:alpha|"},
      {"subject - '|'", &sent, "C:alpha|     "},
      {"STR(pages, 4)", &sent, "C:  12"},
      {".T. .and. (.F. .or. .Y.)", &sent, "L:T"},
      {"RECNO() = 7", &sent, "L:T"},
      {"QCOUT->SUBJECT = 'alpha'", &sent, "L:T"},
      {"UPPER('grüße')", &sent, "C:GRÜßE"},
      {"SUBSTR(subject, 2, 3)", &sent, "C:lph"},
      {"LEFT(TIMESENT, 2) + RIGHT(DTOS(DATESENT), 2)", &sent, "C:1712"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    Expression e;
    std::string message;
    ASSERT_TRUE(e.Compile(c.source, kFields, message)) << message;
    ExprValue v;
    e.Evaluate(c.rec->data(), 7, v);
    std::string shown = Show(v);
    if (v.type == ExprType::Character) {
      // Compare as UTF-8 for the case with accented letters.
      std::string utf8;
      for (unsigned char ch : v.text) {
        if (ch < 0x80) {
          utf8 += static_cast<char>(ch);
        } else {
          utf8 += static_cast<char>(0xC0 | (ch >> 6));
          utf8 += static_cast<char>(0x80 | (ch & 0x3F));
        }
      }
      shown = "C:" + utf8;
    }
    EXPECT_EQ(shown, c.expected);
  }
}

TEST(Expression, KeyWidthsFollowTheFields) {
  struct Case {
    const char* source;
    ExprType type;
    int width;
  } cases[] = {
      {"DTOS(DATESENT)+TIMESENT", ExprType::Character, 13},
      {"UPPER(SUBJECT)", ExprType::Character, 10},
      {"ARCHIVED", ExprType::Logical, 1},
      {"DATESENT", ExprType::Date, 8},
      {"PAGES", ExprType::Numeric, 8},
  };
  for (const Case& c : cases) {
    Expression e;
    std::string message;
    ASSERT_TRUE(e.Compile(c.source, kFields, message)) << c.source << ": " << message;
    EXPECT_EQ(e.Type(), c.type) << c.source;
    EXPECT_EQ(e.Width(), c.width) << c.source;
  }
  Expression e;
  std::string message;
  ASSERT_TRUE(e.Compile(".not. deleted()", kFields, message));
  EXPECT_TRUE(e.OnlyDeleteFlag());
  ASSERT_TRUE(e.Compile(".not. archived", kFields, message));
  EXPECT_FALSE(e.OnlyDeleteFlag());
}

TEST(Expression, BadExpressionsGiveAMessage) {
  struct Case {
    const char* source;
    const char* inMessage;
  } cases[] = {
      {"", "ends too early"},
      {"NOSUCH", "unknown field NOSUCH"},
      {"FOO(SUBJECT)", "unknown function FOO"},
      {"DTOS(SUBJECT)", "DTOS() needs a date"},
      {"UPPER(SUBJECT", "missing )"},
      {"(SUBJECT", "missing )"},
      {"SUBJECT = 1", "cannot compare"},
      {"'abc", "unterminated"},
      {".nope. ARCHIVED", "unknown operator"},
      {"ARCHIVED .AND.", "ends too early"},
      {"SUBJECT + PAGES", "cannot add"},
      {".NOT. SUBJECT", ".NOT. cannot take"},
      {"SUBJECT SUBJECT", "unexpected text"},
      {"DELETED(1)", "takes 0 arguments"},
      {"UPPER('日本')", "Windows-1252"},
      {"@", "unexpected character"},
  };
  for (const Case& c : cases) {
    Expression e;
    std::string message;
    EXPECT_FALSE(e.Compile(c.source, kFields, message)) << c.source;
    EXPECT_NE(message.find(c.inMessage), std::string::npos) << c.source << " -> " << message;
    EXPECT_FALSE(e.Valid());
  }
  // Deep nesting is refused, not a stack overflow.
  std::string deep(100000, '(');
  Expression e;
  std::string message;
  EXPECT_FALSE(e.Compile(deep + "ARCHIVED", kFields, message));
  EXPECT_NE(message.find("nested too deeply"), std::string::npos);
}

TEST(Expression, JulianDaysRoundTrip) {
  EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
  EXPECT_EQ(JulianDay(2024, 1, 1), 2460311);
  EXPECT_EQ(JulianDay(2023, 2, 29), 0);
  EXPECT_EQ(JulianFromDtos("20240229"), JulianDay(2024, 2, 29));
  EXPECT_EQ(JulianFromDtos("        "), 0);
  for (std::int64_t jd : {2451545LL, 2460311LL, 1721426LL, 5373484LL}) EXPECT_EQ(JulianFromDtos(DtosFromJulian(jd)), jd);
}

}  // namespace
}  // namespace qc
