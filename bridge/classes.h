// The built-in classes: how objects are constructed, and their methods, properties and events.
#ifndef ZUL_BRIDGE_CLASSES_H
#define ZUL_BRIDGE_CLASSES_H

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "state.h"

namespace zul::bridge {

// One call on an object, made with the bridge's lock held; long work may release it for a while.
struct CallContext {
  State& state;
  std::unique_lock<std::mutex>& lock;
  Wrapper& wrapper;
  Object& object;
  Deliveries& deliveries;
  int32_t count;
  BridgeValue** values;
  const uint32_t* flags;
  std::string member;  // "Matrix.Scale", for texts

  Value Arg(int index) const;
  // Fails unless the caller passes the argument by reference (0x0002 without 0x0001).
  BridgeValue& ByReference(int index) const;
  [[noreturn]] void Bad(const std::string& detail) const;  // kBadArgument, "<member>: <detail>."
};

struct MethodInfo {
  const char* name;
  int arity;
  Value (*call)(CallContext&);
};

struct PropertyInfo {
  const char* name;
  Value (*get)(const Object&);
  void (*set)(CallContext&, const Value&);  // null: read-only
};

struct ClassInfo {
  ClassKind kind;
  const char* name;
  int constructorArity;
  void (*construct)(CallContext&);  // null: nothing to set up
  std::vector<MethodInfo> methods;
  std::vector<PropertyInfo> properties;
  bool handlesEvents;
};

const ClassInfo& MatrixClass();
const ClassInfo& TextClass();
const ClassInfo& EchoClass();
const ClassInfo& WorkerClass();
const ClassInfo& InfoOf(ClassKind kind);
std::optional<ClassKind> FindClass(const std::string& name);
std::string ClassList();  // "Matrix, Text, Echo and Worker"

void ConstructObject(CallContext& ctx);
Value CallObjectMethod(CallContext& ctx, const std::string& name);
Value GetObjectProperty(const Object& object, const std::string& name);
void SetObjectProperty(CallContext& ctx, const std::string& name);
void DeliverEvent(Object& object, const EventRecord& event);
void AttachWindow(Object& object, void* window);

// "1 argument", "2 arguments".
std::string Counted(int64_t n, const std::string& noun);

}  // namespace zul::bridge

#endif
