#include "ovtbldiff/runtime/error.h"

#include "ovtbldiff/runtime/variant.h"

namespace ovt {

std::string_view runtimeErrorDescription(RuntimeError e) {
  switch (e) {
    case RuntimeError::InvalidProcedureCall: return "Invalid procedure call or argument";
    case RuntimeError::Overflow: return "Overflow";
    case RuntimeError::OutOfMemory: return "Out of memory";
    case RuntimeError::SubscriptOutOfRange: return "Subscript out of range";
    case RuntimeError::TypeMismatch: return "Type mismatch";
    case RuntimeError::ObjectNotSet: return "Object variable or With block variable not set";
    case RuntimeError::InvalidUseOfNull: return "Invalid use of Null";
  }
  return "Application-defined or object-defined error";
}

ComError::ComError(int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(source.empty() ? std::string(kDefaultSource) : std::move(source)),
      description_(std::move(description)) {}

void raiseError(int32_t number, std::string source, std::string description) {
  throw ComError(number, std::move(source), std::move(description));
}

void raiseRuntime(RuntimeError e) {
  throw ComError(static_cast<int32_t>(e), std::string(kDefaultSource),
                 std::string(runtimeErrorDescription(e)));
}

void raiseObjectNotSet() { raiseRuntime(RuntimeError::ObjectNotSet); }

}  // namespace ovt
