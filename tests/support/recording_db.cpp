#include "support/recording_db.h"

namespace ovt::test {
namespace {

// An empty result: no record, BOF and EOF both true.
class EmptyRecordset : public db::cRecordset {
 public:
  VariantArray GetRows() override { return VariantArray(); }
  void SetFieldValue(const std::string&, const Variant&) override { raiseRuntime(RuntimeError::InvalidProcedureCall); }
  Variant FieldValue(const std::string&) override { raiseRuntime(RuntimeError::InvalidProcedureCall); }
  bool IsBOF() const override { return true; }
  bool IsEOF() const override { return true; }
  int32_t RecordCount() const override { return 0; }
  std::shared_ptr<db::cRecordsetFields> Recordset() override { return nullptr; }
  void Update() override { raiseRuntime(RuntimeError::InvalidProcedureCall); }
  void MoveNext() override { raiseRuntime(RuntimeError::InvalidProcedureCall); }
  void MoveFirst() override {}
};

}  // namespace

db::RecordsetRef RecordingDatabase::OpenRecordset(const std::string& sql, int32_t option,
                                                  const std::string& text) {
  calls.push_back("OpenRecordset: " + sql);
  statements.push_back(sql);
  if (inner_) return inner_->OpenRecordset(sql, option, text);
  return std::make_shared<EmptyRecordset>();
}

void RecordingDatabase::CommitTrans() {
  calls.push_back("CommitTrans");
  if (inner_) inner_->CommitTrans();
}

void RecordingDatabase::RollbackTrans() {
  calls.push_back("RollbackTrans");
  if (inner_) inner_->RollbackTrans();
}

void RecordingDatabase::BeginTrans() {
  calls.push_back("BeginTrans");
  if (inner_) inner_->BeginTrans();
}

bool RecordingDatabase::DropView(const std::string& viewName) {
  calls.push_back("DropView: " + viewName);
  return inner_ ? inner_->DropView(viewName) : true;
}

bool RecordingDatabase::CreateView(const std::string& viewName, const std::string& sql) {
  calls.push_back("CreateView: " + viewName + ": " + sql);
  statements.push_back(sql);
  return inner_ ? inner_->CreateView(viewName, sql) : createViewResult;
}

bool RecordingDatabase::TableExists(const std::string& tableName) {
  calls.push_back("TableExists: " + tableName);
  if (inner_) return inner_->TableExists(tableName);
  auto it = existing.find(tableName);
  return it != existing.end() && it->second;
}

int32_t RecordingDatabase::GetTableType(std::string& tableName) {
  calls.push_back("GetTableType: " + tableName);
  if (inner_) return inner_->GetTableType(tableName);
  auto it = tableTypes.find(tableName);
  return it == tableTypes.end() ? db::kTableTypeOther : it->second;
}

std::vector<db::TableRef> RecordingDatabase::Tables() {
  calls.push_back("Tables");
  return inner_ ? inner_->Tables() : std::vector<db::TableRef>{};
}

bool RecordingDatabase::Execute(const std::string& sql) {
  calls.push_back("Execute: " + sql);
  statements.push_back(sql);
  return inner_ ? inner_->Execute(sql) : executeResult;
}

bool RecordingDatabase::DropTable(const std::string& tableName) {
  calls.push_back("DropTable: " + tableName);
  return inner_ ? inner_->DropTable(tableName) : true;
}

void RecordingDatabase::SetViewName(const std::string& viewName) {
  calls.push_back("ViewName: " + viewName);
  viewName_ = viewName;
  if (inner_) inner_->SetViewName(viewName);
}

std::string RecordingDatabase::ViewName() const { return inner_ ? inner_->ViewName() : viewName_; }

std::string RecordingDatabase::LastFailure() const { return inner_ ? inner_->LastFailure() : ""; }

std::string RecordingDatabase::Location() const { return inner_ ? inner_->Location() : std::string(); }

std::string RecordingDatabase::Describe() const {
  return "recording" + (inner_ ? " over " + inner_->Describe() : std::string());
}

}  // namespace ovt::test
