// The missing-record statement as an anti-join. The statement
//   select ... from [T1] where [T1].[k] not in (select [T1].[k] from [T1] inner join [T2]
//     on [T1].[k] = [T2].[k] [and [T1].s = [T2].s]) [and [T1].s = c] ...
// builds the whole list of matched keys before it scans T1 again. rewriteMissingKeys turns its
// parse tree into one with the same rows that looks each record's key up in T2 instead, when
// the engine's facts prove the two equal; otherwise the tree is left as it is. Both renderers
// write the rewritten tree like any other.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "dialect/ast.h"

namespace ovt::dialect {

// How a column's values compare in a rendered statement, as far as the rewrite needs to know.
enum class KeyClass {
  Unknown,  // anything else: the rewrite is not proven and does not happen
  Text,     // text compared as text (the dialect's text comparison) on the engine
  Number,   // numbers compared as numbers, no text collation
};

// How the engine runs the anti-join best.
enum class AntiJoinForm {
  NotExists,  // not exists (a correlated look-up of T2 per record): planned as a hashed anti-join
  LeftJoin,   // T1 left join T2 ... where T2's key is Null: a look-up through T2's key index
  KeyList,    // T1's key not in (one list of T2's keys), probed per record
};

// What the engine tells the rewrite about the tables of the statement.
class KeyFacts {
 public:
  virtual ~KeyFacts() = default;
  // The class of a column of a table as the statement names it (link prefix included).
  virtual KeyClass columnClass(std::string_view table, std::string_view column) const = 0;
  // The form for looking records up in `table` by equal `column`. LeftJoin is used only where
  // every other part of the statement names T1's columns qualified, else KeyList.
  virtual AntiJoinForm form(std::string_view table, std::string_view column) const = 0;
};

// KeyFacts from two functions.
class KeyFactsOf : public KeyFacts {
 public:
  using ClassOf = std::function<KeyClass(std::string_view table, std::string_view column)>;
  using FormOf = std::function<AntiJoinForm(std::string_view table, std::string_view column)>;
  KeyFactsOf(ClassOf classOf, FormOf formOf) : classOf_(std::move(classOf)), formOf_(std::move(formOf)) {}
  KeyClass columnClass(std::string_view t, std::string_view c) const override { return classOf_(t, c); }
  AntiJoinForm form(std::string_view t, std::string_view c) const override { return formOf_(t, c); }

 private:
  ClassOf classOf_;
  FormOf formOf_;
};

// Rewrites a missing-record statement in place into its anti-join form and returns true, or
// leaves any other statement (or one whose equivalence the facts do not prove) untouched.
bool rewriteMissingKeys(Statement& statement, const KeyFacts& facts);

// The class of a column by its declared type on SQLite (nullopt: unknown): Number for the
// dialect's number types with a numeric affinity, Text for its text types with text affinity.
KeyClass sqliteKeyClass(const std::optional<std::string>& declaredType);
// The class of a column by its type on PostgreSQL as format_type() prints it.
KeyClass postgresKeyClass(const std::optional<std::string>& formattedType);

}  // namespace ovt::dialect
