#include "component/dispatch.h"

#include <deque>
#include <functional>

#include "ovtbldiff/runtime/text.h"

namespace ovt::com {
namespace {

constexpr int32_t kArgumentNotOptional = 449;
constexpr int32_t kWrongArgumentCount = 450;

// The arguments of one call as typed cells the member works on. Cells of by-reference
// arguments are copied back into the caller's Variants by writeBack().
class Args {
 public:
  Args(const MemberInfo& m, std::vector<DispArg>& args) : args_(args) {
    if (args.size() > m.params.size())
      raiseError(kWrongArgumentCount, "", "Wrong number of arguments or invalid property assignment");
    for (size_t i = 0; i < m.params.size(); ++i)
      if (!m.params[i].optional && !present(i)) raiseError(kArgumentNotOptional, "", "Argument not optional");
  }

  bool present(size_t i) const { return i < args_.size() && !args_[i].missing; }

  std::string text(size_t i) { return toText(source(i)); }
  std::string textOr(size_t i, const std::string& def) { return present(i) ? text(i) : def; }
  int32_t number(size_t i) { return toLong(source(i)); }
  bool boolean(size_t i) { return toBoolean(source(i)); }

  std::string& textRef(size_t i) { return cell<std::string>(i, toText(source(i))); }
  std::string* textOpt(size_t i) { return present(i) ? &textRef(i) : nullptr; }
  bool& boolRef(size_t i) { return cell<bool>(i, toBoolean(source(i))); }
  int32_t* numberOpt(size_t i) { return present(i) ? &cell<int32_t>(i, toLong(source(i))) : nullptr; }
  StringArray& strings(size_t i) {
    const Variant& v = source(i);
    return cell<StringArray>(i, v.isEmpty() ? StringArray() : v.stringArray());
  }
  VariantArray& variants(size_t i) {
    const Variant& v = source(i);
    return cell<VariantArray>(i, v.isEmpty() ? VariantArray() : v.variantArray());
  }
  db::DatabaseRef& database(size_t i) { return cell<db::DatabaseRef>(i, objectAs<db::cDatabase>(source(i))); }
  db::DatabaseRef* databaseOpt(size_t i) { return present(i) ? &database(i) : nullptr; }
  db::DatabaseRef databaseVal(size_t i) { return objectAs<db::cDatabase>(source(i)); }
  db::TableRef& table(size_t i) { return cell<db::TableRef>(i, objectAs<db::cTable>(source(i))); }

  // Copies every by-reference cell back into the caller's variable.
  void writeBack() {
    for (auto& w : writeBacks_) w();
  }

 private:
  const Variant& source(size_t i) const { return args_[i].ref ? *args_[i].ref : args_[i].value; }

  // Empty and Nothing stand for Nothing; another object than a T is a type mismatch.
  template <class T>
  static std::shared_ptr<T> objectAs(const Variant& v) {
    if (v.isEmpty()) return nullptr;
    const ObjectRef& o = v.object();
    if (!o) return nullptr;
    auto p = std::dynamic_pointer_cast<T>(o);
    if (!p) raiseRuntime(RuntimeError::TypeMismatch);
    return p;
  }

  template <class T>
  T& cell(size_t i, T initial) {
    auto& store = storage<T>();
    T& c = store.emplace_back(std::move(initial));
    if (Variant* target = args_[i].ref) writeBacks_.push_back([&c, target] { *target = toVariant(c); });
    return c;
  }

  template <class T> static Variant toVariant(const T& c) { return Variant(c); }
  static Variant toVariant(const db::DatabaseRef& c) { return Variant(ObjectRef(c)); }
  static Variant toVariant(const db::TableRef& c) { return Variant(ObjectRef(c)); }

  template <class T> std::deque<T>& storage() {
    if constexpr (std::is_same_v<T, std::string>) return texts_;
    else if constexpr (std::is_same_v<T, bool>) return bools_;
    else if constexpr (std::is_same_v<T, int32_t>) return numbers_;
    else if constexpr (std::is_same_v<T, StringArray>) return stringArrays_;
    else if constexpr (std::is_same_v<T, VariantArray>) return variantArrays_;
    else if constexpr (std::is_same_v<T, db::DatabaseRef>) return databases_;
    else return tables_;
  }

  std::vector<DispArg>& args_;
  std::deque<std::string> texts_;
  std::deque<bool> bools_;
  std::deque<int32_t> numbers_;
  std::deque<StringArray> stringArrays_;
  std::deque<VariantArray> variantArrays_;
  std::deque<db::DatabaseRef> databases_;
  std::deque<db::TableRef> tables_;
  std::vector<std::function<void()>> writeBacks_;
};

Variant object(ObjectRef o) { return Variant(std::move(o)); }

// The call of one member, by its position in the interface.
Variant call(cDataGetway& g, int position, Args& a) {
  switch (position) {
    case 1: return g.IsQualifiedMatchKey(a.text(0), a.text(1), a.boolRef(2), a.databaseOpt(3));
    case 2:
      return g.CopyChild(a.text(0), a.text(1), a.text(2), a.text(3), a.textRef(4), a.strings(5), a.variants(6),
                         a.strings(7), a.strings(8), a.strings(9));
    case 3: return g.GetOruViewVarList(a.text(0), a.strings(1), a.databaseOpt(2));
    case 4: return g.TotalMatchedRec(a.text(0), a.text(1), a.strings(2), a.boolean(3), a.databaseOpt(4));
    case 5: return g.ShowParent(a.text(0), a.strings(1), a.strings(2), a.text(3), a.strings(4));
    case 6: return g.GetOruComparableGridTblList(a.strings(0), a.database(1));
    case 7:
      return object(g.GetTblDiffGridRS(a.text(0), a.text(1), a.text(2), a.text(3), a.text(4), a.strings(5),
                                       a.number(6)));
    case 8: return g.CompareViewsStructure(a.database(0), a.strings(1));
    case 9: return g.BackupTable(a.text(0), a.textOr(1, ""), a.databaseOpt(2));
    case 10: return g.GetOruGridList(a.text(0), a.strings(1), a.databaseOpt(2));
    case 11: return g.GetOruDataTable(a.text(0), a.databaseOpt(1));
    case 12:
      return g.DeleteRec(a.text(0), a.strings(1), a.variants(2), a.boolRef(3), a.strings(4), a.databaseOpt(5));
    case 13:
      return g.CopyRec(a.text(0), a.text(1), a.strings(2), a.variants(3), a.strings(4), a.boolRef(5), a.strings(6),
                       a.strings(7), a.databaseOpt(8));
    case 14: return g.GetFldType(a.number(0));
    case 15: return g.IsMatchKeyUnique(a.strings(0), a.boolRef(1), a.textOpt(2), a.databaseOpt(3));
    case 16: return g.CompareTablesStructure(a.table(0), a.table(1), a.strings(2), a.numberOpt(3));
    case 17: g.SetDB(a.databaseVal(0)); return Variant();
    case 18: return object(g.DB());
    case 19:
      return object(g.GetTblDiffRecRS(a.text(0), a.text(1), a.strings(2), a.strings(3), a.number(4), a.boolean(5),
                                      a.databaseOpt(6)));
  }
  raiseError(kMemberNotFound, "", "Object doesn't support this property or method");
}

}  // namespace

const MemberInfo* findMember(int32_t dispId, uint16_t flags) {
  for (const MemberInfo& m : typeLibrary().members) {
    if (m.dispId != dispId) continue;
    switch (m.kind) {
      case MemberKind::Method:
      case MemberKind::PropertyGet:
        if (flags & (kDispatchMethod | kDispatchPropertyGet)) return &m;
        break;
      case MemberKind::PropertyPutRef:
        if (flags & kDispatchPropertyPutRef) return &m;
        break;
    }
  }
  return nullptr;
}

Variant invokeMember(cDataGetway& gateway, const MemberInfo& member, std::vector<DispArg>& args) {
  Args a(member, args);
  Variant result;
  try {
    result = call(gateway, member.position, a);
  } catch (...) {
    a.writeBack();
    throw;
  }
  a.writeBack();
  return result;
}

}  // namespace ovt::com
