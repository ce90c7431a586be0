// The error handlers of cDataGetway's members and the connection rules they share.
//
// Every member but GetFldType traps errors over its whole body. A handler kind is a small
// wrapper around the body:
//   withOwnSource   re-raises number and description with the member's own source
//   withKeptSource  re-raises number and source as trapped (optionally rewriting the description)
//   swallowing      ends normally with the member's current result, the error discarded
// An error raised with the trap switched off (raiseUntrapped / untrapped) passes every handler
// of its member unchanged; the mark is cleared as the error leaves the member, so a member that
// called another through the public interface traps it like any other error.
#pragma once

#include <exception>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/error.h"

namespace ovt::frame {

// The class tag that begins every source of the library's own errors.
inline constexpr std::string_view kClassTag = "cDATAGateway";

// "cDATAGateway" followed directly by a member literal such as ":TotalMatchedRec".
inline std::string sourceFor(std::string_view memberLiteral) {
  return std::string(kClassTag) + std::string(memberLiteral);
}

// Any C++ exception as an error record: ComError as it is, bad_alloc as "Out of memory" (7),
// anything else as the generic failure with its message and the default source.
ComError toComError(std::exception_ptr e);

// Raises an error with the trap switched off: it reaches the caller exactly as raised.
[[noreturn]] void raiseUntrapped(int32_t number, std::string source, std::string description);

// Runs `raise` (which builds and raises an error, e.g. translating its description) with the
// trap switched off: whatever it raises, including a failing translation, passes unchanged.
template <class F>
[[noreturn]] void untrapped(F&& raise) {
  try {
    raise();
  } catch (...) {
    ComError e = toComError(std::current_exception());
    e.setUntrapped();
    throw e;
  }
  raiseUntrapped(kGenericFailure, "", "untrapped: nothing was raised");
}

// Handler: same number and description, the member's own source.
template <class F>
decltype(auto) withOwnSource(std::string_view memberLiteral, F&& body) {
  try {
    return body();
  } catch (...) {
    ComError e = toComError(std::current_exception());
    if (e.untrapped()) {
      e.setUntrapped(false);
      throw e;
    }
    throw ComError(e.number(), sourceFor(memberLiteral), e.description());
  }
}

// Handler: same number and source; `describe` may rewrite the description from the error.
template <class F>
decltype(auto) withKeptSource(F&& body,
                              const std::function<std::string(const ComError&)>& describe = {}) {
  try {
    return body();
  } catch (...) {
    ComError e = toComError(std::current_exception());
    if (e.untrapped()) {
      e.setUntrapped(false);
      throw e;
    }
    if (!describe) throw e;
    throw ComError(e.number(), e.source(), describe(e));
  }
}

// Handler: ends normally with `result` as the body left it; a trapped error is discarded.
template <class R, class F>
R swallowing(R& result, F&& body) {
  try {
    body();
  } catch (...) {
    ComError e = toComError(std::current_exception());
    if (e.untrapped()) {
      e.setUntrapped(false);
      throw e;
    }
  }
  return result;
}

// Raised by a member that this build does not provide yet.
[[noreturn]] void raiseNotBuilt(std::string_view member);

// Connection rule "argument or stored object": the argument unless it is omitted or Nothing.
// The caller's argument is not changed. Nothing is not checked here: the first call through it
// raises "Object variable or With block variable not set" (91).
inline db::DatabaseRef argumentOrStored(db::DatabaseRef* argument, const db::DatabaseRef& stored) {
  return (argument && *argument) ? *argument : stored;
}

// Connection rule "filled-in argument": when the caller's oDB is Nothing the stored object is
// written into it (by reference); an omitted oDB is filled into `local` instead. Returns the
// connection the member then uses; the member raises its own error when it is still Nothing.
inline db::DatabaseRef& filledIn(db::DatabaseRef* argument, db::DatabaseRef& local,
                                 const db::DatabaseRef& stored) {
  db::DatabaseRef& target = argument ? *argument : local;
  if (!target) target = stored;
  return target;
}

}  // namespace ovt::frame
