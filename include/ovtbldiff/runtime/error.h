// The error record of the automation runtime: number, source and description.
// Inside C++ every failure travels as one exception type, ComError; at the component
// boundary it becomes a result code plus the per-thread error-information record.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ovt {

// Base of the interface-specific (object) error numbers: 0x80040000.
inline constexpr int32_t kObjectErrorBase = static_cast<int32_t>(0x80040000u);
// The platform's generic failure code (E_FAIL).
inline constexpr int32_t kGenericFailure = static_cast<int32_t>(0x80004005u);
// A runtime error n crosses the component boundary as this base plus n.
inline constexpr int32_t kRuntimeErrorFacility = static_cast<int32_t>(0x800A0000u);
// Source given to an error raised without one: the project's programmatic name.
inline constexpr std::string_view kDefaultSource = "OVTblDiffData";

// The runtime's own errors (number = the value).
enum class RuntimeError : int32_t {
  InvalidProcedureCall = 5,
  Overflow = 6,
  OutOfMemory = 7,
  SubscriptOutOfRange = 9,
  TypeMismatch = 13,
  ObjectNotSet = 91,
  InvalidUseOfNull = 94,
};

// English description of a runtime error ("Overflow", "Type mismatch", ...).
std::string_view runtimeErrorDescription(RuntimeError e);

// The one exception type: an error record. `untrapped` marks an error raised after the
// raising member switched its trap off, so that member's handler passes it on untouched.
class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, std::string source, std::string description);

  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }
  bool untrapped() const { return untrapped_; }
  void setUntrapped(bool v = true) { untrapped_ = v; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  bool untrapped_ = false;
};

// Raises an error record; an empty source becomes kDefaultSource.
[[noreturn]] void raiseError(int32_t number, std::string source, std::string description);
// Raises one of the runtime's own errors with its English description and the default source.
[[noreturn]] void raiseRuntime(RuntimeError e);
// Result code for a member that this build does not provide yet (E_NOTIMPL).
inline constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001u);

// kObjectErrorBase + n, for the library's own checks (700 .. 725).
constexpr int32_t objectError(int32_t n) { return kObjectErrorBase + n; }

}  // namespace ovt
