// xBase key and filter expressions: compiled once against a table's fields,
// then evaluated on raw records (Windows-1252 bytes, delete flag at byte 0).
//
// Accepted: field names; 'text', "text" and [text] literals; numbers; .T. .F.
// (.Y. .N.); + and - on texts, numbers and dates; * and /; comparisons = == <>
// # != < <= > >= and $ (contained in); .NOT. (or !), .AND., .OR.; the
// functions DTOS, UPPER, LOWER, TRIM, RTRIM, LTRIM, ALLTRIM, STR, SUBSTR,
// LEFT, RIGHT (constant positions), EMPTY, DELETED and RECNO. Names and keywords ignore letter case; blanks may stand
// anywhere between tokens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbf_format.h"

namespace qc {

enum class ExprType : std::uint8_t { Character, Numeric, Date, Logical };

struct ExprValue {
  ExprType type = ExprType::Logical;
  std::string text;    // Character, Windows-1252
  double number = 0;   // Numeric; Date as Julian day number, 0 for a blank date
  bool logical = false;
};

class Expression {
 public:
  Expression();
  ~Expression();
  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;

  // Compiles UTF-8 `source`. False with a one-line message on any error.
  bool Compile(std::string_view source, const std::vector<dbf::Field>& fields, std::string& message);

  bool Valid() const { return root_ >= 0; }
  const std::string& Source() const { return source_; }
  ExprType Type() const;
  // Character results: the widest text the expression gives (the key length).
  int Width() const;
  // True when the result reads nothing but the delete flag and constants.
  bool OnlyDeleteFlag() const { return onlyDeleteFlag_; }

  void Evaluate(const std::uint8_t* record, std::uint32_t recno, ExprValue& out) const;
  bool EvaluateLogical(const std::uint8_t* record, std::uint32_t recno) const;

 private:
  struct Node;
  class Parser;
  void Eval(int node, const std::uint8_t* record, std::uint32_t recno, ExprValue& out) const;

  std::string source_;
  std::vector<Node> nodes_;
  std::vector<dbf::Field> fields_;
  int root_ = -1;
  bool onlyDeleteFlag_ = false;
};

// Julian day number of a Gregorian date, and back; 0 stands for a blank date.
std::int64_t JulianDay(int year, int month, int day);
void CivilFromJulian(std::int64_t jd, int& year, int& month, int& day);
// "YYYYMMDD" (8 blanks for a blank or invalid date) to a Julian day, 0 when blank/invalid.
std::int64_t JulianFromDtos(std::string_view text);
std::string DtosFromJulian(std::int64_t jd);

}  // namespace qc
