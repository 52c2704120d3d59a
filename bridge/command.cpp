#include "command.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <memory>

namespace zul::bridge {
namespace {

enum class Tok { kNumber, kString, kName, kSymbol, kEnd };

struct Token {
  Tok kind;
  std::string text;  // as written; a string's decoded contents
  int column;
  Value literal;
};

struct Node {
  enum Kind { kLiteral, kVariable, kArray, kNegate, kBinary } kind;
  int column;
  Value literal;
  std::string name;
  char op = 0;
  std::vector<std::unique_ptr<Node>> children;
};

[[noreturn]] void SyntaxError(int column, const std::string& detail) {
  Fail(kSyntaxError, "Syntax error at column " + std::to_string(column) + ": " + detail + ".");
}

[[noreturn]] void EvalError(int column, const std::string& detail) {
  Fail(kEvaluationError, detail + " at column " + std::to_string(column) + ".");
}

bool IsNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsNameChar(char c) {
  return IsNameStart(c) || std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

Value NumberLiteral(const std::string& text, int column) {
  const bool integer = text.find_first_not_of("0123456789") == std::string::npos;
  if (integer) {
    __int128 n = 0;
    for (char c : text) {
      n = n * 10 + (c - '0');
      if (n > std::numeric_limits<int64_t>::max())
        SyntaxError(column, "the number " + text + " is too large");
    }
    Value value = MakeArray(n > std::numeric_limits<int32_t>::max() ? ZUL_TYP_LONG64 : ZUL_TYP_LONG, {});
    StoreInteger(value, 0, n);
    return value;
  }
  double d = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), d);
  if (result.ec == std::errc::result_out_of_range)
    SyntaxError(column, "the number " + text + " is too large");
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
    SyntaxError(column, "malformed number '" + text + "'");
  }
  return MakeDouble(d);
}

std::vector<Token> Tokenize(const std::string& source) {
  std::vector<Token> tokens;
  const std::size_t n = source.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = source[i];
    const int column = static_cast<int>(i) + 1;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(source[i + 1]))) {
      std::size_t j = i;
      while (j < n && IsDigit(source[j])) ++j;
      if (j < n && source[j] == '.') {
        ++j;
        while (j < n && IsDigit(source[j])) ++j;
      }
      if (j < n && (source[j] == 'e' || source[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < n && (source[k] == '+' || source[k] == '-')) ++k;
        if (k < n && IsDigit(source[k])) {
          j = k;
          while (j < n && IsDigit(source[j])) ++j;
        }
      }
      // Letters or another point right after a number make it malformed rather than two tokens.
      while (j < n && (IsNameChar(source[j]) || source[j] == '.')) ++j;
      const std::string text = source.substr(i, j - i);
      tokens.push_back({Tok::kNumber, text, column, NumberLiteral(text, column)});
      i = j;
    } else if (IsNameStart(c)) {
      std::size_t j = i;
      while (j < n && IsNameChar(source[j])) ++j;
      tokens.push_back({Tok::kName, source.substr(i, j - i), column, {}});
      i = j;
    } else if (c == '\'') {
      std::string text;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= n) SyntaxError(column, "the string is not closed");
        if (source[j] == '\'') {
          if (j + 1 < n && source[j + 1] == '\'') {
            text += '\'';
            ++j;
            continue;
          }
          break;
        }
        text += source[j];
      }
      tokens.push_back({Tok::kString, text, column, MakeString(text)});
      i = j + 1;
    } else if (std::string("=,+-*/()[]").find(c) != std::string::npos) {
      tokens.push_back({Tok::kSymbol, std::string(1, c), column, {}});
      ++i;
    } else {
      SyntaxError(column, std::string("unexpected character '") + c + "'");
    }
  }
  tokens.push_back({Tok::kEnd, "", static_cast<int>(n) + 1, {}});
  return tokens;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() { return tokens_[pos_++]; }
  bool IsSymbol(char c) const { return Peek().kind == Tok::kSymbol && Peek().text[0] == c; }
  bool AtEnd() const { return Peek().kind == Tok::kEnd; }

  void Expect(char c, const std::string& detail) {
    if (!IsSymbol(c)) SyntaxError(Peek().column, detail);
    ++pos_;
  }

  void ExpectEnd() {
    if (!AtEnd()) SyntaxError(Peek().column, "unexpected '" + Peek().text + "'");
  }

  std::unique_ptr<Node> Expression() {
    auto left = Term();
    while (IsSymbol('+') || IsSymbol('-')) left = Binary(std::move(left), &Parser::Term);
    return left;
  }

 private:
  using Rule = std::unique_ptr<Node> (Parser::*)();

  std::unique_ptr<Node> Binary(std::unique_ptr<Node> left, Rule next) {
    const Token& op = Next();
    auto node = std::make_unique<Node>(Node{Node::kBinary, op.column, {}, {}, op.text[0], {}});
    node->children.push_back(std::move(left));
    node->children.push_back((this->*next)());
    return node;
  }

  std::unique_ptr<Node> Term() {
    auto left = Unary();
    while (IsSymbol('*') || IsSymbol('/')) left = Binary(std::move(left), &Parser::Unary);
    return left;
  }

  std::unique_ptr<Node> Unary() {
    if (!IsSymbol('-')) return Primary();
    const int column = Next().column;
    auto node = std::make_unique<Node>(Node{Node::kNegate, column, {}, {}, '-', {}});
    node->children.push_back(Unary());
    return node;
  }

  std::unique_ptr<Node> Primary() {
    const Token& token = Peek();
    switch (token.kind) {
      case Tok::kNumber:
      case Tok::kString:
        ++pos_;
        return std::make_unique<Node>(Node{Node::kLiteral, token.column, token.literal, {}, 0, {}});
      case Tok::kName:
        ++pos_;
        return std::make_unique<Node>(Node{Node::kVariable, token.column, {}, token.text, 0, {}});
      default:
        break;
    }
    if (IsSymbol('(')) {
      ++pos_;
      auto inner = Expression();
      Expect(')', "expected ')'");
      return inner;
    }
    if (IsSymbol('[')) {
      auto node = std::make_unique<Node>(Node{Node::kArray, Next().column, {}, {}, 0, {}});
      node->children.push_back(Expression());
      while (IsSymbol(',')) {
        ++pos_;
        node->children.push_back(Expression());
      }
      Expect(']', "expected ',' or ']'");
      return node;
    }
    SyntaxError(token.column, "expected an expression");
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

std::string Shape(const Value& value) {
  const std::string text = Describe(value);
  return text.substr(text.find('['));
}

uint8_t ResultType(uint8_t a, uint8_t b) {
  if (IsFloating(a) || IsFloating(b)) return ZUL_TYP_DOUBLE;
  const auto wide = [](uint8_t t) { return t == ZUL_TYP_LONG64 || t == ZUL_TYP_ULONG64; };
  return wide(a) || wide(b) ? ZUL_TYP_LONG64 : ZUL_TYP_LONG;
}

class Evaluator {
 public:
  explicit Evaluator(const Process& process) : process_(process) {}

  Value Eval(const Node& node) const {
    switch (node.kind) {
      case Node::kLiteral:
        return node.literal;
      case Node::kVariable:
        return Lookup(node);
      case Node::kArray:
        return ArrayLiteral(node);
      case Node::kNegate:
        return Negate(Eval(*node.children[0]), node.column);
      case Node::kBinary:
        return Combine(Eval(*node.children[0]), Eval(*node.children[1]), node.op, node.column);
    }
    return {};
  }

 private:
  Value Lookup(const Node& node) const {
    const std::string key = Lower(node.name);
    if (const auto object = process_.objects.find(key); object != process_.objects.end()) {
      return MakeObjRef(object->second->handle);
    }
    const auto variable = process_.variables.find(key);
    if (variable == process_.variables.end()) {
      Fail(kUndefinedVariable,
           "Undefined variable '" + node.name + "' at column " + std::to_string(node.column) + ".");
    }
    return variable->second;
  }

  Value ArrayLiteral(const Node& node) const {
    std::vector<Value> elements;
    for (const auto& child : node.children) {
      elements.push_back(Eval(*child));
      const Value& e = elements.back();
      if (e.IsArray()) EvalError(child->column, "Array elements must be scalars");
      const bool fits = elements.front().type == ZUL_TYP_STRING
                            ? e.type == ZUL_TYP_STRING
                            : IsNumeric(e.type) && IsNumeric(elements.front().type);
      if (!fits) EvalError(child->column, "Array elements must be all numbers or all strings");
    }
    uint8_t type = elements.front().type;
    for (const Value& e : elements) {
      if (e.type != type) type = ResultType(type, e.type);
    }
    Value array = MakeArray(type, {static_cast<int64_t>(elements.size())});
    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (!StoreElement(array, static_cast<int64_t>(i), elements[i], 0)) {
        EvalError(node.children[i]->column, "Integer overflow");
      }
    }
    return array;
  }

  static Value Negate(const Value& operand, int column) {
    if (!IsNumeric(operand.type)) {
      EvalError(column, "Operator '-' cannot be applied to " + TypeName(operand.type));
    }
    Value result = MakeArray(ResultType(operand.type, operand.type), operand.dims);
    for (int64_t i = 0; i < operand.Count(); ++i) {
      const bool ok = IsFloating(operand.type) ? StoreReal(result, i, -RealAt(operand, i))
                                               : StoreInteger(result, i, -IntegerAt(operand, i));
      if (!ok) EvalError(column, "Integer overflow");
    }
    return result;
  }

  static Value Combine(const Value& a, const Value& b, char op, int column) {
    const bool strings = a.type == ZUL_TYP_STRING && b.type == ZUL_TYP_STRING && op == '+';
    if (!strings && !(IsNumeric(a.type) && IsNumeric(b.type))) {
      EvalError(column, std::string("Operator '") + op + "' cannot combine " + TypeName(a.type) + " and " +
                            TypeName(b.type));
    }
    if (a.IsArray() && b.IsArray() && a.dims != b.dims) {
      EvalError(column, "Shapes " + Shape(a) + " and " + Shape(b) + " do not match");
    }
    const std::vector<int64_t>& dims = a.IsArray() ? a.dims : b.dims;
    const uint8_t type = strings ? uint8_t{ZUL_TYP_STRING} : ResultType(a.type, b.type);
    Value result = MakeArray(type, dims);
    for (int64_t i = 0; i < result.Count(); ++i) {
      const int64_t ia = a.IsArray() ? i : 0;
      const int64_t ib = b.IsArray() ? i : 0;
      if (strings) {
        result.texts[static_cast<std::size_t>(i)] =
            a.texts[static_cast<std::size_t>(ia)] + b.texts[static_cast<std::size_t>(ib)];
      } else if (type == ZUL_TYP_DOUBLE) {
        const double x = RealAt(a, ia);
        const double y = RealAt(b, ib);
        StoreReal(result, i, op == '+' ? x + y : op == '-' ? x - y : op == '*' ? x * y : x / y);
      } else {
        const __int128 x = IntegerAt(a, ia);
        const __int128 y = IntegerAt(b, ib);
        if (op == '/' && y == 0) EvalError(column, "Division by zero");
        if (!StoreInteger(result, i, op == '+' ? x + y : op == '-' ? x - y : op == '*' ? x * y : x / y)) {
          EvalError(column, "Integer overflow");
        }
      }
    }
    return result;
  }

  const Process& process_;
};

}  // namespace

bool IsValidName(const std::string& name) {
  if (name.empty() || !IsNameStart(name[0])) return false;
  for (char c : name) {
    if (!IsNameChar(c)) return false;
  }
  const std::string key = Lower(name);
  return key != "print" && key != "notify";
}

void ExecuteCommand(Process& process, const std::string& command, CommandEffects& effects) {
  Parser parser(Tokenize(command));
  if (parser.AtEnd()) return;
  const Token first = parser.Next();
  if (first.kind != Tok::kName) SyntaxError(first.column, "expected a statement");
  const std::string keyword = Lower(first.text);
  const Evaluator evaluator(process);

  if (keyword == "print") {
    std::vector<std::unique_ptr<Node>> items;
    if (!parser.AtEnd()) {
      parser.Expect(',', "expected ',' after print");
      items.push_back(parser.Expression());
      while (parser.IsSymbol(',')) {
        parser.Next();
        items.push_back(parser.Expression());
      }
      parser.ExpectEnd();
    }
    std::string line;
    for (std::size_t i = 0; i < items.size(); ++i)
      line += (i > 0 ? " " : "") + FormatValue(evaluator.Eval(*items[i]));
    effects.printed.push_back(line);
    return;
  }
  if (keyword == "notify") {
    parser.Expect(',', "expected ',' after notify");
    const auto a = parser.Expression();
    parser.Expect(',', "expected ',' and a second value");
    const auto b = parser.Expression();
    parser.ExpectEnd();
    effects.notes.emplace_back(FormatValue(evaluator.Eval(*a)), FormatValue(evaluator.Eval(*b)));
    return;
  }
  parser.Expect('=', "expected '=' after the variable name");
  const auto expression = parser.Expression();
  parser.ExpectEnd();
  if (process.objects.count(keyword) != 0) {
    Fail(kVariableError, "Variable '" + first.text +
                             "' holds the object of a wrapper and cannot be assigned at column " +
                             std::to_string(first.column) + ".");
  }
  Value value = evaluator.Eval(*expression);
  process.variables[keyword] = std::move(value);
}

}  // namespace zul::bridge
