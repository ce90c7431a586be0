// Shared pieces of the reconciliation members (CopyRec, CopyChild, DeleteRec).
//
// After their checks these members enter a phase in which nothing is raised to the caller:
// each step runs under `attempt`, a step that raises has no effect, and the member decides
// from the outcome how the record goes on. Failed records are reported in ErrMsg through
// `note`, which never raises either (a missing entry or a failing message text is ignored).
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "frame/handler.h"
#include "ovtbldiff/runtime/safearray.h"
#include "ovtbldiff/runtime/text.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::reconcile {

inline constexpr std::string_view kLinkPrefix = "ORULINK_";

// Runs one step of the phase: nullopt when it completed, else the error it raised.
template <class F>
std::optional<ComError> attempt(F&& step) {
  try {
    step();
    return std::nullopt;
  } catch (...) {
    return frame::toComError(std::current_exception());
  }
}

// Writes ErrMsg(i) from `message()`; an entry that does not exist, or a message that cannot
// be built (a translation failing), leaves ErrMsg as it is.
template <class F>
void note(StringArray& ErrMsg, int32_t i, F&& message) {
  attempt([&] {
    std::string text = message();
    ErrMsg.at(i) = std::move(text);
  });
}

// A table whose name begins with "ORULINK_" (any letter case) is a link table.
inline bool isLinkTable(const std::string& name) { return startsWithText(name, kLinkPrefix); }

// The view (catalogue) table of a data table: "view" + name, or for a link table
// "ORULINK_view" + the name without its prefix.
inline std::string viewTableOf(const std::string& table) {
  if (isLinkTable(table)) return std::string(kLinkPrefix) + "view" + table.substr(kLinkPrefix.size());
  return "view" + table;
}

// A catalogue name on one side: with "ORULINK_" in front when that side is a link table.
inline std::string onSide(bool linkSide, const std::string& name) {
  return linkSide ? std::string(kLinkPrefix) + name : name;
}

// A data-type code written as decimal text, as a 16-bit whole number (13 / 6 when it is not).
inline int16_t typeCode(const std::string& decimalText) { return toInteger(Variant(decimalText)); }

// A UniqueKey value read from a record, as the plain decimal digits statements carry.
inline std::string keyText(const Variant& value) { return std::to_string(toLong(value)); }

// A list built as "item,item," without its trailing comma; an empty list stays empty.
inline std::string withoutTrailingComma(const std::string& list) {
  return list.empty() ? list : dropLast(list, 1);
}

}  // namespace ovt::reconcile
