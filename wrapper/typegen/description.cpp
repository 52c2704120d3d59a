#include "description.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#include <oaidl.h>
#else
#include "zul/host/oleauto.h"
#endif

namespace zul::typegen {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsName(const std::string& word) {
  if (word.empty() || !(std::isalpha(static_cast<unsigned char>(word[0])) || word[0] == '_')) return false;
  return std::all_of(word.begin(), word.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// Words that IDL, the C header widl makes, or the C++ server would read as their own.
bool IsReserved(const std::string& name) {
  static const std::set<std::string> kWords = {
      "bstr",          "byte",      "boolean",   "case",       "char",      "class",
      "coclass",       "const",     "cy",        "date",       "default",   "delete",
      "dispinterface", "do",        "double",    "dual",       "else",      "enum",
      "float",         "for",       "hresult",   "hyper",      "id",        "if",
      "import",        "importlib", "in",        "int",        "interface", "library",
      "long",          "methods",   "module",    "namespace",  "new",       "object",
      "operator",      "out",       "private",   "properties", "protected", "public",
      "retval",        "return",    "safearray", "short",      "signed",    "small",
      "source",        "static",    "struct",    "switch",     "template",  "this",
      "typedef",       "union",     "unsigned",  "uuid",       "variant",   "variant_bool",
      "version",       "virtual",   "void",      "while"};
  static const std::set<std::string> kDispatch = {
      "queryinterface", "addref", "release", "gettypeinfocount", "gettypeinfo", "getidsofnames", "invoke"};
  return kWords.count(Lower(name)) || kDispatch.count(Lower(name));
}

// Words are names, numbers, ProgIDs and GUIDs.
bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::string("_.-{}").find(c) != std::string::npos;
}

using Spellings = std::map<std::string, std::pair<std::string, int>>;  // lower case: as written, line

class LineParser {
 public:
  // `spellings` collects the names met so far: a type library keeps one spelling of each name, whatever
  // it names, so a second spelling would change the first one's in every client.
  LineParser(const std::string& line, const std::string& file, int number, Spellings& spellings)
      : file_(file), number_(number), spellings_(spellings) {
    size_t i = 0;
    while (i < line.size()) {
      const char c = line[i];
      if (c == '#') break;
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (std::string("(),:[]").find(c) != std::string::npos) {
        tokens_.push_back(std::string(1, c)), ++i;
      } else if (IsWordCharacter(c)) {
        size_t end = i;
        while (end < line.size() && IsWordCharacter(line[end])) ++end;
        tokens_.push_back(line.substr(i, end - i)), i = end;
      } else {
        Fail(std::string("unexpected character '") + c + "'");
      }
    }
  }

  bool Empty() const { return tokens_.empty(); }
  bool AtEnd() const { return next_ == tokens_.size(); }
  bool Peek(const std::string& token) const { return !AtEnd() && tokens_[next_] == token; }
  std::string Next(const std::string& what) {
    if (AtEnd()) Fail("expected " + what + " at the end of the line");
    return tokens_[next_++];
  }
  void Expect(const std::string& token) {
    const std::string found = Next("'" + token + "'");
    if (found != token) Fail("expected '" + token + "', found '" + found + "'");
  }
  void ExpectEnd() {
    if (!AtEnd()) Fail("unexpected '" + tokens_[next_] + "' at the end of the line");
  }
  std::string Name(const std::string& what) {
    const std::string word = Next(what);
    if (!IsName(word)) Fail("'" + word + "' is not a valid name");
    if (IsReserved(word)) Fail("'" + word + "' is a reserved word");
    return Spell(word);
  }
  std::string Spell(const std::string& word) {
    const auto [known, added] = spellings_.emplace(Lower(word), std::pair(word, number_));
    if (!added && known->second.first != word)
      Fail("'" + word + "' is spelled '" + known->second.first + "' on line " +
           std::to_string(known->second.second) + "; a type library keeps one spelling of a name");
    return word;
  }
  // The type's class name is resolved once every class is known.
  Type ParseType() {
    Type type;
    const std::string word = Next("a type");
    const auto& types = Types();
    const auto known =
        std::find_if(types.begin(), types.end(), [&](const TypeInfo& t) { return word == t.keyword; });
    if (known != types.end() && known->base != BaseType::kObject) {
      type.base = known->base;
    } else {
      if (!IsName(word)) Fail("'" + word + "' is not a type");
      type.base = BaseType::kObject, type.className = word;
    }
    if (Peek("[")) Expect("["), Expect("]"), type.array = true;
    return type;
  }
  std::vector<Parameter> Parameters() {
    Expect("(");
    std::vector<Parameter> parameters;
    while (!Peek(")")) {
      if (!parameters.empty()) Expect(",");
      Parameter parameter;
      if (Peek("ref")) Next(""), parameter.byReference = true;
      parameter.name = Name("a parameter name");
      if (Lower(parameter.name) == "result") Fail("'" + parameter.name + "' names the return value");
      for (const auto& other : parameters)
        if (Lower(other.name) == Lower(parameter.name))
          Fail("parameter '" + parameter.name + "' is given twice");
      Expect(":");
      parameter.type = ParseType();
      parameters.push_back(parameter);
    }
    Expect(")");
    return parameters;
  }
  [[noreturn]] void Fail(const std::string& cause) const { throw DescriptionError(file_, number_, cause); }
  int number() const { return number_; }

 private:
  std::vector<std::string> tokens_;
  size_t next_ = 0;
  const std::string& file_;
  int number_;
  Spellings& spellings_;
};

int WholeNumber(const std::string& word, int most) {
  if (word.empty() || word.size() > 5 || !std::all_of(word.begin(), word.end(), ::isdigit)) return -1;
  const int n = std::stoi(word);
  return n <= most ? n : -1;
}

bool IsProgId(const std::string& id) {
  // A ProgID is at most 39 characters, starts with a letter and holds no punctuation but dots.
  return id.size() <= 39 && std::isalpha(static_cast<unsigned char>(id[0])) && id.back() != '.' &&
         std::all_of(id.begin(), id.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.'; });
}

struct Given {
  std::optional<Guid> libid;
  std::vector<std::array<std::optional<Guid>, 3>> classes;  // clsid, iid, eventsiid
  std::set<std::string> seen;  // the keywords of the current class that may come once
};

void ParseLine(LineParser& line, Description& d, Given& given) {
  const std::string keyword = line.Next("a keyword");
  if (keyword == "library") {
    if (!d.library.empty()) line.Fail("a second 'library' line");
    d.library = line.Name("the library name");
    const std::string version = line.Next("the version");
    const size_t dot = version.find('.');
    d.major = WholeNumber(version.substr(0, dot), 65535);
    d.minor = dot == std::string::npos ? -1 : WholeNumber(version.substr(dot + 1), 65535);
    if (d.major < 0 || d.minor < 0) line.Fail("the version must be MAJOR.MINOR, not '" + version + "'");
    return line.ExpectEnd();
  }
  if (d.library.empty()) line.Fail("the description starts with a 'library' line");
  const auto readGuid = [&]() {
    const std::string word = line.Next("a GUID");
    const auto guid = ParseGuid(word);
    if (!guid) line.Fail("'" + word + "' is not a GUID");
    line.ExpectEnd();
    return *guid;
  };
  if (keyword == "libid") {
    if (given.libid || !d.classes.empty()) line.Fail("'libid' belongs right after the 'library' line");
    given.libid = readGuid();
    return;
  }
  if (keyword == "class") {
    Class c;
    c.name = line.Name("the class name");
    c.line = line.number();
    for (const auto& other : d.classes)
      if (Lower(other.name) == Lower(c.name)) line.Fail("class '" + c.name + "' is described twice");
    if (Lower(c.name) == Lower(d.library)) line.Fail("class '" + c.name + "' has the name of the library");
    d.classes.push_back(c);
    given.classes.emplace_back();
    given.seen.clear();
    return line.ExpectEnd();
  }
  static const std::set<std::string> kInClass = {"progid", "version", "clsid",    "iid",  "eventsiid",
                                                 "create", "method",  "property", "event"};
  if (!kInClass.count(keyword)) line.Fail("unknown keyword '" + keyword + "'");
  if (d.classes.empty()) line.Fail("'" + keyword + "' outside a class");
  Class& c = d.classes.back();
  if (keyword != "method" && keyword != "property" && keyword != "event" &&
      !given.seen.insert(keyword).second)
    line.Fail("a second '" + keyword + "' line in class '" + c.name + "'");
  if (keyword == "progid") {
    c.progId = line.Next("the ProgID");
    if (!IsProgId(c.progId)) line.Fail("'" + c.progId + "' is not a valid ProgID");
    return line.ExpectEnd();
  }
  if (keyword == "version") {
    const std::string word = line.Next("the version");
    if ((c.version = WholeNumber(word, 65535)) < 1)
      line.Fail("the version must be a whole number from 1 to 65535, not '" + word + "'");
    return line.ExpectEnd();
  }
  if (keyword == "clsid" || keyword == "iid" || keyword == "eventsiid") {
    given.classes.back()[keyword == "clsid" ? 0 : keyword == "iid" ? 1 : 2] = readGuid();
    return;
  }
  if (keyword == "event") {
    Event e;
    e.name = line.Name("the event name");
    e.line = line.number();
    for (const auto& other : c.events)
      if (Lower(other.name) == Lower(e.name)) line.Fail("event '" + e.name + "' is described twice");
    const auto arguments = line.Parameters();
    if (arguments.size() > 1) line.Fail("an event has at most one argument");
    if (!arguments.empty()) {
      if (arguments[0].byReference) line.Fail("an event's argument cannot be by reference");
      if (arguments[0].type.base != BaseType::kString || arguments[0].type.array)
        line.Fail("an event's argument is a string, as the notify callback delivers it");
      e.argument = arguments[0];
    }
    e.dispid = static_cast<int32_t>(c.events.size()) + 1;
    c.events.push_back(e);
    return line.ExpectEnd();
  }
  Member m;
  m.line = line.number();
  if (keyword == "create") {
    m.kind = Member::Kind::kConstructor, m.name = line.Spell("Create");
    m.parameters = line.Parameters();
  } else if (keyword == "method") {
    m.name = line.Name("the method name");
    m.parameters = line.Parameters();
    if (line.Peek(":")) line.Next(""), m.result = line.ParseType();
  } else {
    m.kind = Member::Kind::kProperty;
    m.name = line.Name("the property name");
    line.Expect(":");
    m.result = line.ParseType();
    while (!line.AtEnd()) {
      const std::string access = line.Next("");
      if (access == "read" && !m.readable) {
        m.readable = true;
      } else if (access == "write" && !m.writable) {
        m.writable = true;
      } else {
        line.Fail("expected 'read' or 'write', found '" + access + "'");
      }
    }
    if (!m.readable && !m.writable) line.Fail("a property is read, write or both");
  }
  for (const auto& other : c.members)
    if (Lower(other.name) == Lower(m.name)) line.Fail("member '" + m.name + "' is described twice");
  m.dispid = static_cast<int32_t>(c.members.size()) + 1;
  c.members.push_back(m);
  line.ExpectEnd();
}

// Object types name described classes; arrays of objects do not travel through the library.
void ResolveType(Type& type, const Description& d, const std::string& file, int line) {
  if (type.base != BaseType::kObject) return;
  const auto found = std::find_if(d.classes.begin(), d.classes.end(),
                                  [&](const Class& c) { return Lower(c.name) == Lower(type.className); });
  if (found == d.classes.end()) throw DescriptionError(file, line, "unknown type '" + type.className + "'");
  if (type.array) throw DescriptionError(file, line, "an array of objects cannot be passed; use variant[]");
  type.className = found->name;
}

}  // namespace

const std::vector<TypeInfo>& Types() {
  static const std::vector<TypeInfo> kTypes = {{BaseType::kByte, "byte", "unsigned char", VT_UI1},
                                               {BaseType::kShort, "short", "short", VT_I2},
                                               {BaseType::kLong, "long", "long", VT_I4},
                                               {BaseType::kUlong, "ulong", "unsigned long", VT_UI4},
                                               {BaseType::kLong64, "long64", "hyper", VT_I8},
                                               {BaseType::kFloat, "float", "float", VT_R4},
                                               {BaseType::kDouble, "double", "double", VT_R8},
                                               {BaseType::kCurrency, "currency", "CURRENCY", VT_CY},
                                               {BaseType::kDate, "date", "DATE", VT_DATE},
                                               {BaseType::kBool, "bool", "VARIANT_BOOL", VT_BOOL},
                                               {BaseType::kString, "string", "BSTR", VT_BSTR},
                                               {BaseType::kVariant, "variant", "VARIANT", VT_VARIANT},
                                               {BaseType::kObject, "", "", VT_DISPATCH}};
  return kTypes;
}

const TypeInfo& Type::info() const {
  return Types()[static_cast<size_t>(base)];
}

std::string InterfaceName(const Class& c) {
  return "I" + c.name;
}
std::string EventsName(const Class& c) {
  return "I" + c.name + "Events";
}

Description ParseDescription(const std::string& text, const std::string& file) {
  Description d;
  Given given;
  Spellings spellings;
  // Editors on Windows may start a UTF-8 file with a byte order mark.
  std::istringstream lines(text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text);
  std::string content;
  int number = 0;
  while (std::getline(lines, content)) {
    LineParser line(content, file, ++number, spellings);
    if (!line.Empty()) ParseLine(line, d, given);
  }
  const int end = std::max(number, 1);
  if (d.library.empty()) throw DescriptionError(file, end, "no 'library' line");
  if (d.classes.empty()) throw DescriptionError(file, end, "no class described");
  // Derived identities hang from the names, lower-cased as COM ignores their case, and from the versions:
  // a rebuild keeps them, and a new version of a class is a new class beside the old one.
  const std::string library = Lower(d.library);
  d.libid = given.libid.value_or(NameBasedGuid(TypegenNamespace(), library + "/" + std::to_string(d.major)));
  std::set<std::string> progIds, guids = {GuidText(d.libid)};
  for (size_t i = 0; i < d.classes.size(); ++i) {
    Class& c = d.classes[i];
    const std::string key = library + "/" + Lower(c.name) + "/" + std::to_string(c.version) + "/";
    c.clsid = given.classes[i][0].value_or(NameBasedGuid(TypegenNamespace(), key + "clsid"));
    c.iid = given.classes[i][1].value_or(NameBasedGuid(TypegenNamespace(), key + "iid"));
    c.eventsIid = given.classes[i][2].value_or(NameBasedGuid(TypegenNamespace(), key + "events"));
    if (c.progId.empty()) c.progId = d.library + "." + c.name;
    if (!IsProgId(c.progId)) throw DescriptionError(file, c.line, "'" + c.progId + "' is not a valid ProgID");
    if (!progIds.insert(Lower(c.progId)).second)
      throw DescriptionError(file, c.line, "ProgID '" + c.progId + "' is taken by another class");
    for (const Guid& guid : {c.clsid, c.iid, c.eventsIid})
      if (!guids.insert(GuidText(guid)).second)
        throw DescriptionError(file, c.line, "GUID " + GuidText(guid) + " is used twice");
    for (Member& m : c.members) {
      for (Parameter& p : m.parameters) ResolveType(p.type, d, file, m.line);
      if (m.result) ResolveType(*m.result, d, file, m.line);
    }
  }
  for (const auto& [lower, spelling] : spellings) d.spellings[lower] = spelling.first;
  return d;
}

std::string Spelled(const Description& d, const std::string& name) {
  const auto known = d.spellings.find(Lower(name));
  return known == d.spellings.end() ? name : known->second;
}

}  // namespace zul::typegen
