#include "dbcomp/common.h"

#include <algorithm>
#include <cstdlib>

#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::db::common {
namespace {

class Field : public cField {
 public:
  explicit Field(FieldSpec f) : f_(std::move(f)) {}
  bool Nullable() const override { return f_.nullable; }
  int32_t DataType() const override { return f_.code; }
  std::string Name() const override { return f_.name; }

 private:
  FieldSpec f_;
};

class FieldList : public cFields {
 public:
  explicit FieldList(std::vector<FieldRef> f) : f_(std::move(f)) {}
  int32_t Count() const override { return static_cast<int32_t>(f_.size()); }
  std::vector<FieldRef> Items() const override { return f_; }

 private:
  std::vector<FieldRef> f_;
};

}  // namespace

StatementTrace::StatementTrace(const std::string& path, TraceListener listener) : listener_(std::move(listener)) {
  std::string p = path;
  if (p.empty())
    if (const char* env = std::getenv("OVDB_TRACE")) p = env;
  if (p.empty()) return;
  out_ = std::make_unique<std::ofstream>(p, std::ios::app);
  if (!*out_) raiseError(static_cast<int32_t>(0x80004005u), "OVDB", "Cannot open the trace file '" + p + "'");
}

void StatementTrace::write(const std::string& operation, const std::string& received, const std::string& run,
                           const std::string& outcome) {
  if (listener_) listener_(TracedStatement{operation, received, outcome});
  if (!out_) return;
  *out_ << "-- " << operation << "\njet: " << received << "\nsql: " << run << "\n=> " << outcome << "\n";
  out_->flush();
}

FieldsRef makeFields(std::vector<FieldSpec> fields) {
  std::vector<FieldRef> f;
  for (auto& s : fields) f.push_back(std::make_shared<Field>(std::move(s)));
  return std::make_shared<FieldList>(std::move(f));
}

int32_t tableKindOf(const std::vector<std::string>& names) {
  auto has = [&](std::string_view n) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& c) { return textEqual(c, n); });
  };
  if (has("UniqueKey") && has("RecStatus")) return kTableTypeOru;
  if (has("Name") && has("Type") && has("PageNumber") && has("DataTable")) return kTableTypeView;
  return kTableTypeOther;
}

bool isFormSystemColumn(const std::vector<std::string>& names, const std::string& field) {
  return (textEqual(field, "UniqueKey") || textEqual(field, "RecStatus") || textEqual(field, "FKey")) &&
         tableKindOf(names) == kTableTypeOru;
}

}  // namespace ovt::db::common
