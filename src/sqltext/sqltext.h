// SQL text helpers: field values as statement literals and parent/child column aliases.
// None of them touches the database or raises errors of its own; reading an unallocated
// name list or one above 32767 elements raises the runtime's error (9 / 6).
#pragma once

#include <cstdint>
#include <string>

#include "ovtbldiff/runtime/variant.h"

namespace ovt::sqltext {

// A value as a literal for field type `FieldType` (an eDbDataType code): bare text for
// numbers, currency, dates and Booleans ("0" for Null), double-quoted text for the text
// types ("''" for Null), "" for every other type. Nothing inside is escaped. Bare texts are
// literals of the dialect: 12, -2.5, 1E+20, True, False, #2026-12-05#, #2026-12-05 10:30:00#.
std::string GetSQLValue(const Variant& Value, int16_t FieldType);

// "[Table].[Field] as [Field~Main]" (or "~Grid]") when FieldName is in CommonNames,
// else "[Field]".
Variant GetAliasedColumn(std::string FieldName, const StringArray& CommonNames,
                         const std::string& TableName, bool IsMain);

// FieldName + "~Main" (or "~Grid") when FieldName is in CommonNames, else FieldName.
Variant GetAliasName(std::string FieldName, const StringArray& CommonNames,
                     const std::string& TableName, bool IsMain);

}  // namespace ovt::sqltext
