// The JSON object of a verification, written while the records are read: the one writer behind
// `ovtbldiff verify --format json` and the C interface's verification.
#include "calls/verify_json.h"

#include <ostream>

namespace ovt::calls {

using verify::Finding;
using verify::Record;
using verify::Survey;
using verify::TableSummary;

namespace {

Json findingsJson(const std::vector<Finding>& list) {
  Json out = Json::array();
  for (const Finding& f : list) {
    Json j = Json::object();
    j["kind"] = f.kind;
    j["entry"] = f.entry == 0 ? Json() : Json(f.entry);
    j["text"] = f.text;
    out.push_back(std::move(j));
  }
  return out;
}

Json recordJson(const Record& r) {
  Json j = Json::object();
  for (size_t i = 0; i < r.values.size() && i < r.columns->size(); ++i) j[(*r.columns)[i]] = toJson(r.values[i]);
  return j;
}

// The counts of a table as the JSON object's leading members (its lists follow).
Json countsJson(const TableSummary& t) {
  Json j = Json::object();
  if (t.grid) {
    j["grid"] = t.form;
    j["view"] = t.view;
  } else {
    j["form"] = t.form;
  }
  j["table"] = t.table;
  j["keys"] = t.keys;
  j["not_compared"] = t.notCompared.empty() ? Json() : Json(t.notCompared);
  j["records"] = {t.records[0], t.records[1]};
  j["deleted"] = {t.deleted[0], t.deleted[1]};
  j["matched"] = t.matched;
  j["conflicting"] = t.conflicting;
  j["missing"] = {t.missing[0], t.missing[1]};
  j["values_compared"] = t.valuesCompared();
  j["values_differing"] = t.valuesDiffering();
  j["agreement"] = t.agreement();
  Json fields = Json::array();
  for (const auto& f : t.fields) fields.push_back({{"field", f.field}, {"compared", f.compared}, {"differing", f.differing}});
  j["fields"] = std::move(fields);
  j["findings"] = findingsJson(t.findings);
  return j;
}

// One JSON object written piece by piece: the counts at once, the records as they come.
class JsonSink : public verify::Sink {
 public:
  JsonSink(std::ostream& out, const std::array<std::string, 2>& labels) : out_(out), labels_(labels) {}

  void summary(const Survey& s) override {
    Json head = Json::object();
    head["entries"] = {s.entries[0], s.entries[1]};
    head["labels"] = {labels_[0], labels_[1]};
    head["agrees"] = s.agrees();
    head["findings"] = findingsJson(s.findings);
    std::string text = head.dump();
    text.pop_back();  // the closing brace: the forms follow
    out_ << text << ",\"forms\":[";
    formsLeft_ = s.forms.size();
    firstForm_ = true;
  }

  void beginTable(const TableSummary& t) override {
    if (t.grid) {
      out_ << (firstGrid_ ? "" : ",");
      firstGrid_ = false;
    } else {
      out_ << (firstForm_ ? "\n" : ",\n");
      firstForm_ = false;
    }
    std::string text = countsJson(t).dump();
    text.pop_back();
    out_ << text << ",\"conflicts\":[";
    phase_ = 0;
    firstRecord_ = true;
  }

  void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) override {
    Json j = Json::object();
    j["record"] = one.key;
    j["entry1"] = recordJson(one);
    j["entry2"] = recordJson(two);
    Json d = Json::array();
    for (size_t i = 0; i < differs.size() && i < one.columns->size(); ++i)
      if (differs[i]) d.push_back((*one.columns)[i]);
    j["differs"] = std::move(d);
    item(j);
  }

  void unpaired(int entry, const Record& r) override {
    if (phase_ == 0) {
      out_ << "],\"unpaired\":[";
      phase_ = 1;
      firstRecord_ = true;
    }
    Json j = Json::object();
    j["record"] = r.key;
    j["entry"] = entry;
    j["entry1"] = entry == 1 ? recordJson(r) : Json();
    j["entry2"] = entry == 2 ? recordJson(r) : Json();
    item(j);
  }

  void endTable(const TableSummary& t) override {
    out_ << (phase_ == 0 ? "],\"unpaired\":[]" : "]");
    if (t.grid) {
      out_ << "}";
      if (--gridsLeft_ == 0) closeForm();
    } else {
      gridsLeft_ = t.grids.size();
      out_ << ",\"grids\":[";
      firstGrid_ = true;
      if (gridsLeft_ == 0) closeForm();
    }
  }

  void finish(const Survey&) override { out_ << "\n]}\n"; }

 private:
  void item(const Json& j) {
    out_ << (firstRecord_ ? "\n" : ",\n") << j.dump();
    firstRecord_ = false;
  }
  void closeForm() { out_ << "]}"; }

  std::ostream& out_;
  std::array<std::string, 2> labels_;
  size_t formsLeft_ = 0, gridsLeft_ = 0;
  bool firstForm_ = true, firstGrid_ = true, firstRecord_ = true;
  int phase_ = 0;
};

}  // namespace

std::unique_ptr<verify::Sink> verifyJsonSink(std::ostream& out, const std::array<std::string, 2>& labels) {
  return std::make_unique<JsonSink>(out, labels);
}

}  // namespace ovt::calls
