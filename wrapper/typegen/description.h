// The model of a class description: what zul-typegen reads, and what each of its emitters writes from.
#ifndef ZUL_TYPEGEN_DESCRIPTION_H
#define ZUL_TYPEGEN_DESCRIPTION_H

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "guid.h"

namespace zul::typegen {

// A refused description: what() is "file:line: cause", the line 1-based (the last one for a fault of
// the whole file).
class DescriptionError : public std::runtime_error {
 public:
  DescriptionError(const std::string& file, int line, const std::string& cause)
      : std::runtime_error(file + ":" + std::to_string(line) + ": " + cause) {}
};

// The value types a member may carry: those the library converts, VARIANT, and objects of described classes.
enum class BaseType : uint8_t {
  kByte,
  kShort,
  kLong,
  kUlong,
  kLong64,
  kFloat,
  kDouble,
  kCurrency,
  kDate,
  kBool,
  kString,
  kVariant,
  kObject
};

struct TypeInfo {
  BaseType base;
  const char* keyword;  // in a description
  const char* idl;      // in IDL, and the C type of the header widl makes from it
  uint16_t varType;     // VARTYPE of a scalar, and of the elements of an array
};
// One row per BaseType, in its order; kObject's idl is empty (the class's interface is named instead).
const std::vector<TypeInfo>& Types();

struct Type {
  BaseType base = BaseType::kVariant;
  bool array = false;     // a SAFEARRAY of any number of dimensions
  std::string className;  // kObject: the described class whose interface is passed

  const TypeInfo& info() const;
};

struct Parameter {
  std::string name;
  Type type;
  bool byReference = false;  // in-out: the server writes the ZUL side's new value back
};

struct Member {
  // The constructor is the method Create, offered when the ZUL class takes constructor arguments: the
  // object is then made by it, not at once.
  enum class Kind : uint8_t { kMethod, kProperty, kConstructor };
  Kind kind = Kind::kMethod;
  std::string name;
  int32_t dispid = 0;
  std::vector<Parameter> parameters;  // methods and the constructor
  std::optional<Type> result;         // a method's return type (none: it returns nothing); a property's type
  bool readable = false;              // properties only
  bool writable = false;
  int line = 0;
};

// An event: a source member that the ZUL side raises through the notify callback, the first text naming
// the event (case ignored), the second being its one optional string argument.
struct Event {
  std::string name;
  int32_t dispid = 0;
  std::optional<Parameter> argument;
  int line = 0;
};

struct Class {
  std::string name;    // the ZUL class, the coclass; its interface is I<name>, its events I<name>Events
  std::string progId;  // registered as is and as <progId>.<version>
  int version = 1;
  Guid clsid, iid, eventsIid;
  std::vector<Member> members;
  std::vector<Event> events;
  int line = 0;
};

struct Description {
  std::string library;
  int major = 1, minor = 0;
  Guid libid;
  std::vector<Class> classes;
  std::map<std::string, std::string> spellings;  // every name, lower case: as the description writes it
};

// Reads a description; throws DescriptionError at the first fault. `file` names it in errors.
Description ParseDescription(const std::string& text, const std::string& file);

// A name of the emitters' own ("value", "result") spelled as the description spells it, if it does: the
// type library keeps one spelling, and the description's must win.
std::string Spelled(const Description& d, const std::string& name);

// The interface names of a class in IDL and in the generated header.
std::string InterfaceName(const Class& c);
std::string EventsName(const Class& c);

}  // namespace zul::typegen

#endif
