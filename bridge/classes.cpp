#include "classes.h"

namespace zul::bridge {

Value CallContext::Arg(int index) const {
  return ReadValue(values[index], "argument " + std::to_string(index + 1));
}

BridgeValue& CallContext::ByReference(int index) const {
  const uint32_t flag = flags != nullptr ? flags[index] : 0;
  if ((flag & ZUL_QEL_ARGFLAG_WRITE_BACK) == 0 || (flag & ZUL_QEL_ARGFLAG_IN_ONLY) != 0) {
    Bad("argument " + std::to_string(index + 1) + " must be passed by reference (flag 0x0002)");
  }
  if (values[index] == nullptr) Arg(index);  // reports the null record
  return *values[index];
}

void CallContext::Bad(const std::string& detail) const {
  Fail(kBadArgument, member + ": " + detail + ".");
}

std::string Counted(int64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

namespace {

// In ClassKind order.
const ClassInfo& (*const kClasses[])() = {MatrixClass, TextClass, EchoClass, WorkerClass};

}  // namespace

const ClassInfo& InfoOf(ClassKind kind) {
  return kClasses[static_cast<std::size_t>(kind)]();
}

const char* ClassName(ClassKind kind) {
  return InfoOf(kind).name;
}

std::optional<ClassKind> FindClass(const std::string& name) {
  for (const auto info : kClasses) {
    if (Lower(name) == Lower(info().name)) return info().kind;
  }
  return std::nullopt;
}

std::string ClassList() {
  std::string list;
  for (std::size_t i = 0; i < std::size(kClasses); ++i) {
    list += (i == 0 ? "" : i + 1 < std::size(kClasses) ? ", " : " and ") + std::string(kClasses[i]().name);
  }
  return list;
}

void ConstructObject(CallContext& ctx) {
  const ClassInfo& info = InfoOf(ctx.object.kind);
  if (ctx.count != info.constructorArity) {
    Fail(kArgumentCount, std::string(info.name) + " takes " +
                             Counted(info.constructorArity, "constructor argument") + ", not " +
                             std::to_string(ctx.count) + ".");
  }
  ctx.member = info.name;
  if (info.construct != nullptr) info.construct(ctx);
}

Value CallObjectMethod(CallContext& ctx, const std::string& name) {
  const ClassInfo& info = InfoOf(ctx.object.kind);
  for (const MethodInfo& method : info.methods) {
    if (Lower(name) != Lower(method.name)) continue;
    ctx.member = std::string(info.name) + "." + method.name;
    if (ctx.count != method.arity) {
      Fail(kArgumentCount, ctx.member + " takes " + Counted(method.arity, "argument") + ", not " +
                               std::to_string(ctx.count) + ".");
    }
    return method.call(ctx);
  }
  Fail(kUnknownMethod, std::string(info.name) + " has no method '" + name + "'.");
}

Value GetObjectProperty(const Object& object, const std::string& name) {
  const ClassInfo& info = InfoOf(object.kind);
  for (const PropertyInfo& property : info.properties) {
    if (Lower(name) == Lower(property.name)) return property.get(object);
  }
  Fail(kPropertyError, std::string(info.name) + " has no property '" + name + "'.");
}

void SetObjectProperty(CallContext& ctx, const std::string& name) {
  const ClassInfo& info = InfoOf(ctx.object.kind);
  for (const PropertyInfo& property : info.properties) {
    if (Lower(name) != Lower(property.name)) continue;
    ctx.member = std::string(info.name) + "." + property.name;
    if (property.set == nullptr) Fail(kPropertyError, ctx.member + " is read-only.");
    if (ctx.count != 1)
      Fail(kArgumentCount, ctx.member + " takes 1 value, not " + std::to_string(ctx.count) + ".");
    property.set(ctx, ReadValue(ctx.values[0], "value"));
    return;
  }
  Fail(kPropertyError, std::string(info.name) + " has no property '" + name + "'.");
}

void DeliverEvent(Object& object, const EventRecord& event) {
  if (!InfoOf(object.kind).handlesEvents) {
    Fail(kNoEvents, std::string(ClassName(object.kind)) + " objects do not handle events.");
  }
  if (event.eventKind < 1 || event.eventKind > 9) {
    Fail(kNoEvents, "Unknown event kind " + std::to_string(event.eventKind) + "; the kinds are 1 to 9.");
  }
  object.lastEvent = event.eventKind;
}

void AttachWindow(Object& object, void* window) {
  if (!InfoOf(object.kind).handlesEvents) {
    Fail(kNoEvents, std::string(ClassName(object.kind)) + " objects have no window to attach.");
  }
  object.window = window;
}

}  // namespace zul::bridge
