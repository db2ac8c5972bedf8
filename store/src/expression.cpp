#include "expression.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codepage_1252.h"

namespace qc {

enum class Op : std::uint8_t {
  Field, Literal, Deleted, RecNo,
  Not, And, Or,
  Concat, ConcatMove, Add, Sub, Mul, Div, Neg,
  Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Contains,
  Dtos, Upper, Lower, RTrim, LTrim, AllTrim, Str, Empty, Substr,
};

struct Expression::Node {
  Op op = Op::Literal;
  ExprType type = ExprType::Logical;
  int width = 0;
  int a = -1, b = -1;
  int field = -1;
  int strLen = 10, strDec = 0;
  ExprValue literal;
};

namespace {

constexpr int kMaxDepth = 64;
constexpr int kMaxWidth = 0xFFFF;

enum class Tok : std::uint8_t {
  End, Ident, String, Number, True, False, Not, And, Or,
  LParen, RParen, Comma, Plus, Minus, Star, Slash, Dollar,
  Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Arrow,
};

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier upper-cased; string literal contents (UTF-8)
  double number = 0;
  std::size_t pos = 0;
};

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

const char* TypeName(ExprType t) {
  switch (t) {
    case ExprType::Character: return "character";
    case ExprType::Numeric: return "numeric";
    case ExprType::Date: return "date";
    case ExprType::Logical: return "logical";
  }
  return "?";
}

bool ParseNumberText(const std::uint8_t* p, int len, double& out) {
  char buf[64];
  int n = 0;
  for (int i = 0; i < len && n < 63; ++i) {
    const char c = static_cast<char>(p[i]);
    if (c == ' ') continue;
    buf[n++] = c == ',' ? '.' : c;
  }
  buf[n] = 0;
  if (n == 0) {
    out = 0;
    return true;
  }
  char* end = nullptr;
  out = std::strtod(buf, &end);
  if (end == buf || *end != 0 || !std::isfinite(out)) {
    out = 0;
    return false;
  }
  return true;
}

void RTrimInPlace(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

// Text of `n` for STR(): right-aligned in `len`, asterisks when it does not fit.
std::string StrOf(double n, int len, int dec) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%*.*f", len, dec, n);
  std::string s(buf);
  if (static_cast<int>(s.size()) > len) s.assign(static_cast<std::size_t>(len), '*');
  return s;
}

int Compare(const std::string& a, const std::string& b) {
  // Shorter text compares as if padded with blanks.
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(i < a.size() ? a[i] : ' ');
    const auto cb = static_cast<unsigned char>(i < b.size() ? b[i] : ' ');
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

}  // namespace

std::int64_t JulianDay(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return 0;
  const std::int64_t a = (14 - m) / 12;
  const std::int64_t yy = y + 4800 - a;
  const std::int64_t mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void CivilFromJulian(std::int64_t jd, int& year, int& month, int& day) {
  const std::int64_t a = jd + 32044;
  const std::int64_t b = (4 * a + 3) / 146097;
  const std::int64_t c = a - 146097 * b / 4;
  const std::int64_t d = (4 * c + 3) / 1461;
  const std::int64_t e = c - 1461 * d / 4;
  const std::int64_t m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

std::int64_t JulianFromDtos(std::string_view t) {
  if (t.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (t[i] < '0' || t[i] > '9') return 0;
    v[i] = t[i] - '0';
  }
  return JulianDay(v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], v[4] * 10 + v[5], v[6] * 10 + v[7]);
}

std::string DtosFromJulian(std::int64_t jd) {
  if (jd <= 0) return std::string(8, ' ');
  int y = 0, m = 0, d = 0;
  CivilFromJulian(jd, y, m, d);
  if (y < 1 || y > 9999) return std::string(8, ' ');
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

// Recursive descent over the tokens, building the node table as it goes.
class Expression::Parser {
 public:
  Parser(std::string_view src, const std::vector<dbf::Field>& fields, std::vector<Node>& nodes)
      : src_(src), fields_(fields), nodes_(nodes) {}

  int Run(std::string& message) {
    if (!Next()) return Fail(message);
    const int root = ParseOr(0);
    if (root < 0) return Fail(message);
    if (tok_.kind != Tok::End) {
      error_ = "unexpected text at position " + std::to_string(tok_.pos + 1);
      return Fail(message);
    }
    return root;
  }

 private:
  int Fail(std::string& message) {
    message = error_.empty() ? "invalid expression" : error_;
    return -1;
  }

  // Takes the next character when it is `c`: the second half of a two-character operator.
  bool Follows(char c) {
    if (pos_ >= src_.size() || src_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  bool Next() {
    while (pos_ < src_.size() && std::isspace(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    tok_ = Token{};
    tok_.pos = pos_;
    if (pos_ >= src_.size()) return true;
    const char c = src_[pos_];
    auto two = [&](char second) { return pos_ + 1 < src_.size() && src_[pos_ + 1] == second; };
    if (IsIdentStart(c)) {
      const std::size_t start = pos_;
      while (pos_ < src_.size() && IsIdentChar(src_[pos_])) ++pos_;
      tok_.kind = Tok::Ident;
      tok_.text = Upper(src_.substr(start, pos_ - start));
      return true;
    }
    if (c == '.' && pos_ + 1 < src_.size() && IsIdentStart(src_[pos_ + 1])) {
      // .NOT. .AND. .OR. .T. .F. .Y. .N.
      std::size_t end = pos_ + 1;
      while (end < src_.size() && IsIdentChar(src_[end])) ++end;
      if (end >= src_.size() || src_[end] != '.') {
        error_ = "unknown operator at position " + std::to_string(pos_ + 1);
        return false;
      }
      const std::string word = Upper(src_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      if (word == "NOT") tok_.kind = Tok::Not;
      else if (word == "AND") tok_.kind = Tok::And;
      else if (word == "OR") tok_.kind = Tok::Or;
      else if (word == "T" || word == "Y") tok_.kind = Tok::True;
      else if (word == "F" || word == "N") tok_.kind = Tok::False;
      else {
        error_ = "unknown operator ." + word + ". at position " + std::to_string(tok_.pos + 1);
        return false;
      }
      return true;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      const std::size_t start = pos_;
      while (pos_ < src_.size() && (std::isdigit(static_cast<unsigned char>(src_[pos_])) || src_[pos_] == '.'))
        ++pos_;
      const std::string text(src_.substr(start, pos_ - start));
      char* end = nullptr;
      tok_.number = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size()) {
        error_ = "invalid number at position " + std::to_string(start + 1);
        return false;
      }
      tok_.kind = Tok::Number;
      return true;
    }
    if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      const std::size_t end = src_.find(close, pos_ + 1);
      if (end == std::string_view::npos) {
        error_ = "unterminated text at position " + std::to_string(pos_ + 1);
        return false;
      }
      tok_.kind = Tok::String;
      tok_.text = std::string(src_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return true;
    }
    ++pos_;
    switch (c) {
      case '(': tok_.kind = Tok::LParen; return true;
      case ')': tok_.kind = Tok::RParen; return true;
      case ',': tok_.kind = Tok::Comma; return true;
      case '+': tok_.kind = Tok::Plus; return true;
      case '*': tok_.kind = Tok::Star; return true;
      case '/': tok_.kind = Tok::Slash; return true;
      case '$': tok_.kind = Tok::Dollar; return true;
      case '#': tok_.kind = Tok::Ne; return true;
      case '-': tok_.kind = Follows('>') ? Tok::Arrow : Tok::Minus; return true;
      case '=': tok_.kind = Follows('=') ? Tok::ExactEq : Tok::Eq; return true;
      case '!': tok_.kind = Follows('=') ? Tok::Ne : Tok::Not; return true;
      case '<': tok_.kind = Follows('>') ? Tok::Ne : Follows('=') ? Tok::Le : Tok::Lt; return true;
      case '>': tok_.kind = Follows('=') ? Tok::Ge : Tok::Gt; return true;
      default:
        (void)two;
        error_ = std::string("unexpected character '") + c + "' at position " + std::to_string(tok_.pos + 1);
        return false;
    }
  }

  int Add(Node n) {
    nodes_.push_back(std::move(n));
    return static_cast<int>(nodes_.size()) - 1;
  }

  int TypeError(const char* op, ExprType t, std::size_t at) {
    error_ = std::string(op) + " cannot take a " + TypeName(t) + " value (position " + std::to_string(at + 1) + ")";
    return -1;
  }

  bool Deep(int depth) {
    if (depth <= kMaxDepth) return false;
    error_ = "expression nested too deeply";
    return true;
  }

  // One level of a left-associative chain of a logical operator:
  // operand (op operand)*, each operand parsed by `operand`.
  int ParseLogicalChain(int depth, Tok kind, Op op, const char* name, int (Parser::*operand)(int)) {
    if (Deep(depth)) return -1;
    int left = (this->*operand)(depth + 1);
    while (left >= 0 && tok_.kind == kind) {
      const std::size_t at = tok_.pos;
      if (!Next()) return -1;
      const int right = (this->*operand)(depth + 1);
      if (right < 0) return -1;
      if (nodes_[left].type != ExprType::Logical) return TypeError(name, nodes_[left].type, at);
      if (nodes_[right].type != ExprType::Logical) return TypeError(name, nodes_[right].type, at);
      Node n;
      n.op = op;
      n.type = ExprType::Logical;
      n.width = 1;
      n.a = left;
      n.b = right;
      left = Add(std::move(n));
    }
    return left;
  }

  int ParseOr(int depth) { return ParseLogicalChain(depth, Tok::Or, Op::Or, ".OR.", &Parser::ParseAnd); }
  int ParseAnd(int depth) { return ParseLogicalChain(depth, Tok::And, Op::And, ".AND.", &Parser::ParseNot); }

  int ParseNot(int depth) {
    if (Deep(depth)) return -1;
    if (tok_.kind == Tok::Not) {
      const std::size_t at = tok_.pos;
      if (!Next()) return -1;
      const int arg = ParseNot(depth + 1);
      if (arg < 0) return -1;
      if (nodes_[arg].type != ExprType::Logical) return TypeError(".NOT.", nodes_[arg].type, at);
      Node n;
      n.op = Op::Not;
      n.type = ExprType::Logical;
      n.width = 1;
      n.a = arg;
      return Add(std::move(n));
    }
    return ParseCompare(depth + 1);
  }

  int ParseCompare(int depth) {
    if (Deep(depth)) return -1;
    const int left = ParseSum(depth + 1);
    if (left < 0) return -1;
    Op op;
    switch (tok_.kind) {
      case Tok::Eq: op = Op::Eq; break;
      case Tok::ExactEq: op = Op::ExactEq; break;
      case Tok::Ne: op = Op::Ne; break;
      case Tok::Lt: op = Op::Lt; break;
      case Tok::Le: op = Op::Le; break;
      case Tok::Gt: op = Op::Gt; break;
      case Tok::Ge: op = Op::Ge; break;
      case Tok::Dollar: op = Op::Contains; break;
      default: return left;
    }
    const std::size_t at = tok_.pos;
    if (!Next()) return -1;
    const int right = ParseSum(depth + 1);
    if (right < 0) return -1;
    const ExprType lt = nodes_[left].type, rt = nodes_[right].type;
    if (lt != rt) {
      error_ = std::string("cannot compare a ") + TypeName(lt) + " value with a " + TypeName(rt) +
               " value (position " + std::to_string(at + 1) + ")";
      return -1;
    }
    if (op == Op::Contains && lt != ExprType::Character) return TypeError("$", lt, at);
    if (lt == ExprType::Logical && op != Op::Eq && op != Op::ExactEq && op != Op::Ne)
      return TypeError("<, <=, > and >=", lt, at);
    Node n;
    n.op = op;
    n.type = ExprType::Logical;
    n.width = 1;
    n.a = left;
    n.b = right;
    return Add(std::move(n));
  }

  int ParseSum(int depth) {
    if (Deep(depth)) return -1;
    int left = ParseProduct(depth + 1);
    while (left >= 0 && (tok_.kind == Tok::Plus || tok_.kind == Tok::Minus)) {
      const bool plus = tok_.kind == Tok::Plus;
      const std::size_t at = tok_.pos;
      if (!Next()) return -1;
      const int right = ParseProduct(depth + 1);
      if (right < 0) return -1;
      const ExprType lt = nodes_[left].type, rt = nodes_[right].type;
      Node n;
      n.a = left;
      n.b = right;
      if (lt == ExprType::Character && rt == ExprType::Character) {
        n.op = plus ? Op::Concat : Op::ConcatMove;
        n.type = ExprType::Character;
        n.width = std::min(kMaxWidth, nodes_[left].width + nodes_[right].width);
      } else if (lt == ExprType::Numeric && rt == ExprType::Numeric) {
        n.op = plus ? Op::Add : Op::Sub;
        n.type = ExprType::Numeric;
      } else if (lt == ExprType::Date && rt == ExprType::Numeric) {
        n.op = plus ? Op::Add : Op::Sub;
        n.type = ExprType::Date;
      } else if (plus && lt == ExprType::Numeric && rt == ExprType::Date) {
        n.op = Op::Add;
        n.type = ExprType::Date;
      } else if (!plus && lt == ExprType::Date && rt == ExprType::Date) {
        n.op = Op::Sub;
        n.type = ExprType::Numeric;
      } else {
        error_ = std::string("cannot ") + (plus ? "add" : "subtract") + " a " + TypeName(rt) + " value " +
                 (plus ? "to" : "from") + " a " + TypeName(lt) + " value (position " + std::to_string(at + 1) + ")";
        return -1;
      }
      n.width = n.type == ExprType::Character ? n.width : 8;
      left = Add(std::move(n));
    }
    return left;
  }

  int ParseProduct(int depth) {
    if (Deep(depth)) return -1;
    int left = ParseUnary(depth + 1);
    while (left >= 0 && (tok_.kind == Tok::Star || tok_.kind == Tok::Slash)) {
      const bool mul = tok_.kind == Tok::Star;
      const std::size_t at = tok_.pos;
      if (!Next()) return -1;
      const int right = ParseUnary(depth + 1);
      if (right < 0) return -1;
      if (nodes_[left].type != ExprType::Numeric) return TypeError(mul ? "*" : "/", nodes_[left].type, at);
      if (nodes_[right].type != ExprType::Numeric) return TypeError(mul ? "*" : "/", nodes_[right].type, at);
      Node n;
      n.op = mul ? Op::Mul : Op::Div;
      n.type = ExprType::Numeric;
      n.width = 8;
      n.a = left;
      n.b = right;
      left = Add(std::move(n));
    }
    return left;
  }

  int ParseUnary(int depth) {
    if (Deep(depth)) return -1;
    if (tok_.kind == Tok::Minus || tok_.kind == Tok::Plus) {
      const bool minus = tok_.kind == Tok::Minus;
      const std::size_t at = tok_.pos;
      if (!Next()) return -1;
      const int arg = ParseUnary(depth + 1);
      if (arg < 0) return -1;
      if (nodes_[arg].type != ExprType::Numeric) return TypeError(minus ? "-" : "+", nodes_[arg].type, at);
      if (!minus) return arg;
      Node n;
      n.op = Op::Neg;
      n.type = ExprType::Numeric;
      n.width = 8;
      n.a = arg;
      return Add(std::move(n));
    }
    return ParsePrimary(depth + 1);
  }

  int ParsePrimary(int depth) {
    if (Deep(depth)) return -1;
    Node n;
    switch (tok_.kind) {
      case Tok::End:
        error_ = "expression ends too early";
        return -1;
      case Tok::String: {
        std::string bytes;
        std::string bad;
        if (!Utf8ToCp1252(tok_.text, bytes, &bad)) {
          error_ = "text literal holds " + bad + ", which Windows-1252 cannot hold";
          return -1;
        }
        n.op = Op::Literal;
        n.type = ExprType::Character;
        n.width = static_cast<int>(bytes.size());
        n.literal.type = ExprType::Character;
        n.literal.text = std::move(bytes);
        if (!Next()) return -1;
        return Add(std::move(n));
      }
      case Tok::Number:
        n.op = Op::Literal;
        n.type = ExprType::Numeric;
        n.width = 8;
        n.literal.type = ExprType::Numeric;
        n.literal.number = tok_.number;
        if (!Next()) return -1;
        return Add(std::move(n));
      case Tok::True:
      case Tok::False:
        n.op = Op::Literal;
        n.type = ExprType::Logical;
        n.width = 1;
        n.literal.type = ExprType::Logical;
        n.literal.logical = tok_.kind == Tok::True;
        if (!Next()) return -1;
        return Add(std::move(n));
      case Tok::LParen: {
        if (!Next()) return -1;
        const int inner = ParseOr(depth + 1);
        if (inner < 0) return -1;
        if (tok_.kind != Tok::RParen) {
          error_ = "missing ) at position " + std::to_string(tok_.pos + 1);
          return -1;
        }
        if (!Next()) return -1;
        return inner;
      }
      case Tok::Ident:
        return ParseName(depth);
      default:
        error_ = "unexpected token at position " + std::to_string(tok_.pos + 1);
        return -1;
    }
  }

  int ParseName(int depth) {
    std::string name = tok_.text;
    const std::size_t at = tok_.pos;
    if (!Next()) return -1;
    if (tok_.kind == Tok::Arrow) {
      // An alias ("QCOUT->SUBJECT") names the table itself here.
      if (!Next()) return -1;
      if (tok_.kind != Tok::Ident) {
        error_ = "field name expected after -> at position " + std::to_string(tok_.pos + 1);
        return -1;
      }
      name = tok_.text;
      if (!Next()) return -1;
      return FieldNode(name, at);
    }
    if (tok_.kind != Tok::LParen) return FieldNode(name, at);
    if (!Next()) return -1;
    std::vector<int> args;
    if (tok_.kind != Tok::RParen) {
      for (;;) {
        const int arg = ParseOr(depth + 1);
        if (arg < 0) return -1;
        args.push_back(arg);
        if (tok_.kind == Tok::Comma) {
          if (!Next()) return -1;
          continue;
        }
        break;
      }
    }
    if (tok_.kind != Tok::RParen) {
      error_ = "missing ) after the arguments of " + name + " at position " + std::to_string(tok_.pos + 1);
      return -1;
    }
    if (!Next()) return -1;
    return FunctionNode(name, args, at);
  }

  int FieldNode(const std::string& name, std::size_t at) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].name != name) continue;
      Node n;
      n.op = Op::Field;
      n.field = static_cast<int>(i);
      switch (fields_[i].type) {
        case 'D': n.type = ExprType::Date; n.width = 8; break;
        case 'L': n.type = ExprType::Logical; n.width = 1; break;
        case 'N':
        case 'F': n.type = ExprType::Numeric; n.width = 8; break;
        default: n.type = ExprType::Character; n.width = fields_[i].length; break;
      }
      return Add(std::move(n));
    }
    error_ = "unknown field " + name + " at position " + std::to_string(at + 1);
    return -1;
  }

  int FunctionNode(const std::string& name, const std::vector<int>& args, std::size_t at) {
    auto arity = [&](std::size_t lo, std::size_t hi) {
      if (args.size() >= lo && args.size() <= hi) return true;
      error_ = name + "() takes " + (lo == hi ? std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi)) +
               " argument" + (hi == 1 ? "" : "s") + " (position " + std::to_string(at + 1) + ")";
      return false;
    };
    auto argType = [&](std::size_t i, ExprType t) {
      if (nodes_[args[i]].type == t) return true;
      error_ = name + "() needs a " + TypeName(t) + " argument, not " + TypeName(nodes_[args[i]].type) +
               " (position " + std::to_string(at + 1) + ")";
      return false;
    };
    Node n;
    n.a = args.empty() ? -1 : args[0];
    if (name == "DELETED") {
      if (!arity(0, 0)) return -1;
      n.op = Op::Deleted;
      n.type = ExprType::Logical;
      n.width = 1;
    } else if (name == "RECNO") {
      if (!arity(0, 0)) return -1;
      n.op = Op::RecNo;
      n.type = ExprType::Numeric;
      n.width = 8;
    } else if (name == "DTOS") {
      if (!arity(1, 1) || !argType(0, ExprType::Date)) return -1;
      n.op = Op::Dtos;
      n.type = ExprType::Character;
      n.width = 8;
    } else if (name == "UPPER" || name == "LOWER" || name == "TRIM" || name == "RTRIM" || name == "LTRIM" ||
               name == "ALLTRIM") {
      if (!arity(1, 1) || !argType(0, ExprType::Character)) return -1;
      n.op = name == "UPPER"   ? Op::Upper
             : name == "LOWER" ? Op::Lower
             : name == "LTRIM" ? Op::LTrim
             : name == "ALLTRIM" ? Op::AllTrim
                                 : Op::RTrim;
      n.type = ExprType::Character;
      n.width = nodes_[args[0]].width;
    } else if (name == "STR") {
      if (!arity(1, 3) || !argType(0, ExprType::Numeric)) return -1;
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (nodes_[args[i]].op != Op::Literal || nodes_[args[i]].type != ExprType::Numeric) {
          error_ = "STR() needs constant numbers for its length and decimals (position " + std::to_string(at + 1) + ")";
          return -1;
        }
      }
      n.op = Op::Str;
      n.type = ExprType::Character;
      n.strLen = args.size() > 1 ? static_cast<int>(nodes_[args[1]].literal.number) : 10;
      n.strDec = args.size() > 2 ? static_cast<int>(nodes_[args[2]].literal.number) : 0;
      if (n.strLen < 1 || n.strLen > 64 || n.strDec < 0 || n.strDec > 30) {
        error_ = "STR() length or decimals out of range (position " + std::to_string(at + 1) + ")";
        return -1;
      }
      n.width = n.strLen;
    } else if (name == "SUBSTR" || name == "LEFT" || name == "RIGHT") {
      // Constant positions only, so that the width of a key is known.
      const bool substr = name == "SUBSTR";
      if (!(substr ? arity(2, 3) : arity(2, 2)) || !argType(0, ExprType::Character)) return -1;
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (nodes_[args[i]].op != Op::Literal || nodes_[args[i]].type != ExprType::Numeric) {
          error_ = name + "() needs constant numbers for its positions (position " + std::to_string(at + 1) + ")";
          return -1;
        }
      }
      const int width = nodes_[args[0]].width;
      const int a1 = static_cast<int>(nodes_[args[1]].literal.number);
      int start = 0, count = 0;
      if (substr) {
        start = std::clamp(a1, 1, width + 1) - 1;
        count = args.size() > 2 ? static_cast<int>(nodes_[args[2]].literal.number) : width - start;
      } else if (name == "LEFT") {
        count = a1;
      } else {
        count = std::clamp(a1, 0, width);
        start = width - count;
      }
      count = std::clamp(count, 0, width - start);
      n.op = Op::Substr;
      n.type = ExprType::Character;
      n.strLen = start;  // offset into the argument
      n.strDec = count;  // length taken
      n.width = count;
    } else if (name == "EMPTY") {
      if (!arity(1, 1)) return -1;
      n.op = Op::Empty;
      n.type = ExprType::Logical;
      n.width = 1;
    } else {
      error_ = "unknown function " + name + "() at position " + std::to_string(at + 1);
      return -1;
    }
    return Add(std::move(n));
  }

  std::string_view src_;
  const std::vector<dbf::Field>& fields_;
  std::vector<Node>& nodes_;
  std::size_t pos_ = 0;
  Token tok_;
  std::string error_;
};

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

bool Expression::Compile(std::string_view source, const std::vector<dbf::Field>& fields, std::string& message) {
  nodes_.clear();
  root_ = -1;
  fields_ = fields;
  source_ = std::string(source);
  Parser parser(source, fields_, nodes_);
  const int root = parser.Run(message);
  if (root < 0) {
    nodes_.clear();
    return false;
  }
  root_ = root;
  onlyDeleteFlag_ = std::none_of(nodes_.begin(), nodes_.end(), [](const Node& n) {
    return n.op == Op::Field || n.op == Op::RecNo;
  });
  return true;
}

ExprType Expression::Type() const { return root_ >= 0 ? nodes_[root_].type : ExprType::Logical; }
int Expression::Width() const { return root_ >= 0 ? nodes_[root_].width : 0; }

void Expression::Evaluate(const std::uint8_t* record, std::uint32_t recno, ExprValue& out) const {
  if (root_ < 0) {
    out = ExprValue{};
    return;
  }
  Eval(root_, record, recno, out);
}

bool Expression::EvaluateLogical(const std::uint8_t* record, std::uint32_t recno) const {
  if (root_ < 0) return false;
  ExprValue v;
  Eval(root_, record, recno, v);
  return v.type == ExprType::Logical && v.logical;
}

void Expression::Eval(int index, const std::uint8_t* rec, std::uint32_t recno, ExprValue& out) const {
  const Node& n = nodes_[index];
  out.type = n.type;
  switch (n.op) {
    case Op::Literal:
      out = n.literal;
      return;
    case Op::Field: {
      const dbf::Field& f = fields_[n.field];
      const std::uint8_t* p = rec + f.offset;
      switch (n.type) {
        case ExprType::Character:
          out.text.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.length));
          return;
        case ExprType::Numeric:
          ParseNumberText(p, f.length, out.number);
          return;
        case ExprType::Date:
          out.number = static_cast<double>(
              JulianFromDtos(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.length))));
          return;
        case ExprType::Logical:
          out.logical = p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y';
          return;
      }
      return;
    }
    case Op::Deleted:
      out.logical = rec[0] == static_cast<std::uint8_t>(dbf::kDeleted);
      return;
    case Op::RecNo:
      out.number = recno;
      return;
    case Op::Not:
      Eval(n.a, rec, recno, out);
      out.logical = !out.logical;
      return;
    case Op::And:
      Eval(n.a, rec, recno, out);
      if (out.logical) Eval(n.b, rec, recno, out);
      return;
    case Op::Or:
      Eval(n.a, rec, recno, out);
      if (!out.logical) Eval(n.b, rec, recno, out);
      return;
    default:
      break;
  }

  ExprValue a, b;
  Eval(n.a, rec, recno, a);
  if (n.b >= 0) Eval(n.b, rec, recno, b);
  out.type = n.type;
  switch (n.op) {
    case Op::Concat:
      out.text = std::move(a.text);
      out.text += b.text;
      return;
    case Op::ConcatMove: {
      // xBase "-": trailing blanks of the left text move to the end.
      std::size_t blanks = 0;
      while (blanks < a.text.size() && a.text[a.text.size() - 1 - blanks] == ' ') ++blanks;
      a.text.resize(a.text.size() - blanks);
      out.text = std::move(a.text);
      out.text += b.text;
      out.text.append(blanks, ' ');
      return;
    }
    case Op::Add:
      if (n.type == ExprType::Date && (a.type == ExprType::Date ? a.number : b.number) == 0) {
        out.number = 0;  // a blank date stays blank
      } else {
        out.number = a.number + b.number;
      }
      return;
    case Op::Sub:
      out.number = (n.type == ExprType::Date && a.number == 0) ? 0 : a.number - b.number;
      return;
    case Op::Mul:
      out.number = a.number * b.number;
      return;
    case Op::Div:
      out.number = b.number == 0 ? 0 : a.number / b.number;
      return;
    case Op::Neg:
      out.number = -a.number;
      return;
    case Op::Eq:
    case Op::ExactEq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      int c = 0;
      if (a.type == ExprType::Character) {
        if (n.op == Op::Eq || n.op == Op::Ne) {
          // Compared up to the length of the right-hand text, as xBase does
          // with EXACT off: 'Smith' = 'Sm' holds.
          std::string left = a.text;
          if (left.size() > b.text.size()) left.resize(b.text.size());
          c = Compare(left, b.text);
        } else if (n.op == Op::ExactEq) {
          c = a.text == b.text ? 0 : 1;
        } else {
          c = Compare(a.text, b.text);
        }
      } else if (a.type == ExprType::Logical) {
        c = a.logical == b.logical ? 0 : 1;
      } else {
        c = a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
      }
      switch (n.op) {
        case Op::Eq:
        case Op::ExactEq: out.logical = c == 0; break;
        case Op::Ne: out.logical = c != 0; break;
        case Op::Lt: out.logical = c < 0; break;
        case Op::Le: out.logical = c <= 0; break;
        case Op::Gt: out.logical = c > 0; break;
        default: out.logical = c >= 0; break;
      }
      return;
    }
    case Op::Contains:
      out.logical = b.text.find(a.text) != std::string::npos;
      return;
    case Op::Dtos:
      out.text = DtosFromJulian(static_cast<std::int64_t>(a.number));
      return;
    case Op::Upper:
      out.text = std::move(a.text);
      for (char& c : out.text) c = static_cast<char>(UpperCp1252(static_cast<unsigned char>(c)));
      return;
    case Op::Lower:
      out.text = std::move(a.text);
      for (char& c : out.text) c = static_cast<char>(LowerCp1252(static_cast<unsigned char>(c)));
      return;
    case Op::RTrim:
      out.text = std::move(a.text);
      RTrimInPlace(out.text);
      return;
    case Op::LTrim: {
      const std::size_t first = a.text.find_first_not_of(' ');
      out.text = first == std::string::npos ? std::string() : a.text.substr(first);
      return;
    }
    case Op::AllTrim: {
      const std::size_t first = a.text.find_first_not_of(' ');
      out.text = first == std::string::npos ? std::string() : a.text.substr(first);
      RTrimInPlace(out.text);
      return;
    }
    case Op::Str:
      out.text = StrOf(a.number, n.strLen, n.strDec);
      return;
    case Op::Substr:
      // Positions are counted on the argument's full width; RIGHT() of a
      // trimmed text takes from its end.
      if (static_cast<std::size_t>(n.strLen) >= a.text.size()) {
        out.text.clear();
      } else {
        out.text = a.text.substr(static_cast<std::size_t>(n.strLen), static_cast<std::size_t>(n.strDec));
      }
      return;
    case Op::Empty:
      switch (a.type) {
        case ExprType::Character: out.logical = a.text.find_first_not_of(" \t\r\n") == std::string::npos; break;
        case ExprType::Numeric:
        case ExprType::Date: out.logical = a.number == 0; break;
        case ExprType::Logical: out.logical = !a.logical; break;
      }
      out.type = ExprType::Logical;
      return;
    default:
      out = ExprValue{};
      return;
  }
}

}  // namespace qc
