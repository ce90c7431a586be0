// The platform side of the component model shared by the component and its hosts: identifiers
// as text and the per-thread error-information record with its result codes.
#include <cstdio>

#include "ovtbldiff/component.h"

namespace ovt::com {
namespace {

thread_local std::optional<ErrorRecord> threadError;

constexpr HResult kTypeMismatch = static_cast<HResult>(0x80020005u);
constexpr HResult kOverflow = static_cast<HResult>(0x8002000Au);
constexpr HResult kParamNotOptional = static_cast<HResult>(0x8002000Fu);
constexpr HResult kBadParamCount = static_cast<HResult>(0x8002000Eu);

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A result code that carries no record: its runtime number and English description.
struct Known {
  HResult hr;
  int32_t number;
  const char* description;
};
constexpr Known kKnown[] = {
    {kUnknownName, 438, "Object doesn't support this property or method"},
    {kMemberNotFound, 438, "Object doesn't support this property or method"},
    {kTypeMismatch, 13, "Type mismatch"},
    {kOverflow, 6, "Overflow"},
    {kParamNotOptional, 449, "Argument not optional"},
    {kBadParamCount, 450, "Wrong number of arguments or invalid property assignment"},
    {kNoInterface, kNoInterface, "No such interface supported"},
    {kPointer, kPointer, "Invalid pointer"},
    {kNoAggregation, kNoAggregation, "Class does not support aggregation"},
    {kClassNotAvailable, kClassNotAvailable, "ClassFactory cannot supply requested class"},
    {kClassNotRegistered, kClassNotRegistered, "Class not registered"},
    {kWrongThread, kWrongThread, "The application called an interface that was marshalled for a different thread."},
    {kNotImplemented, kNotImplemented, "Not implemented"},
};

}  // namespace

std::string toString(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2,
                g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                g.data4[7]);
  return buf;
}

bool parseGuid(std::string_view t, Guid& out) {
  if (t.size() != 38 || t.front() != '{' || t.back() != '}') return false;
  // Positions of the dashes in the braced form; every other character is a hex digit.
  std::string hex;
  for (size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (t[i] != '-') return false;
      continue;
    }
    if (hexValue(t[i]) < 0) return false;
    hex += t[i];
  }
  auto field = [&hex](size_t pos, size_t len) {
    uint32_t v = 0;
    for (size_t i = 0; i < len; ++i) v = v * 16 + static_cast<uint32_t>(hexValue(hex[pos + i]));
    return v;
  };
  out.data1 = field(0, 8);
  out.data2 = static_cast<uint16_t>(field(8, 4));
  out.data3 = static_cast<uint16_t>(field(12, 4));
  for (size_t i = 0; i < 8; ++i) out.data4[i] = static_cast<uint8_t>(field(16 + 2 * i, 2));
  return true;
}

void setErrorInfo(std::optional<ErrorRecord> record) { threadError = std::move(record); }

std::optional<ErrorRecord> getErrorInfo() { return std::exchange(threadError, std::nullopt); }

HResult resultCodeFor(int32_t number) {
  if (number > 0 && number <= 0xFFFF) return kRuntimeErrorFacility + number;
  if (number < 0) return number;
  return kGenericFailure;
}

HResult reportError(const ComError& e) {
  setErrorInfo(ErrorRecord{e.number(), e.source(), e.description()});
  return resultCodeFor(e.number());
}

ComError errorFromResult(HResult hr) {
  std::optional<ErrorRecord> record = getErrorInfo();
  int32_t number = hr;
  std::string description;
  if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == static_cast<uint32_t>(kRuntimeErrorFacility)) {
    number = hr & 0xFFFF;
  } else {
    for (const Known& k : kKnown) {
      if (k.hr == hr) {
        number = k.number;
        description = k.description;
      }
    }
  }
  // The record keeps numbers that no result code can carry (0, above 65535).
  if (record && resultCodeFor(record->number) == hr) number = record->number;
  if (record) return ComError(number, record->source, record->description);
  if (description.empty()) description = "Automation error " + std::to_string(hr);
  return ComError(number, "", description);
}

}  // namespace ovt::com
