#include "decisions.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/runtime/text.h"
#include "ovtbldiff/verify.h"

namespace ovt::tool {

using com::byRef;
using com::byVal;

namespace {

Variant connVariant(db::DatabaseRef* c) { return c && *c ? Variant(ObjectRef(*c)) : Variant(ObjectRef()); }

db::RecordsetRef recordset(const Variant& v) {
  return v.isObject() ? std::dynamic_pointer_cast<db::cRecordset>(v.object()) : nullptr;
}

}  // namespace

void ComponentMembers::SetDB(const db::DatabaseRef& conn) { s_.setDB(conn); }

bool ComponentMembers::CopyRec(std::string src, std::string dst, StringArray& mf, VariantArray& mv, StringArray& cf,
                               bool& oru, StringArray& grids, StringArray& err, db::DatabaseRef* oDB) {
  Variant vmf(mf), vmv(mv), vcf(cf), voru(oru), vg(grids), verr(err), vdb = connVariant(oDB);
  const bool r = toBoolean(callMember(s_, "CopyRec", {byVal(Variant(src)), byVal(Variant(dst)), byRef(vmf), byRef(vmv),
                                                      byRef(vcf), byRef(voru), byRef(vg), byRef(verr), byRef(vdb)}));
  err = verr.stringArray();
  return r;
}

bool ComponentMembers::CopyChild(std::string sp, std::string dp, std::string sc, std::string dc, std::string& view,
                                 StringArray& pk, VariantArray& pv, StringArray& ck, StringArray& cv,
                                 StringArray& err) {
  Variant vview(view), vpk(pk), vpv(pv), vck(ck), vcv(cv), verr(err);
  const bool r = toBoolean(callMember(s_, "CopyChild", {byVal(Variant(sp)), byVal(Variant(dp)), byVal(Variant(sc)),
                                                        byVal(Variant(dc)), byRef(vview), byRef(vpk), byRef(vpv),
                                                        byRef(vck), byRef(vcv), byRef(verr)}));
  err = verr.stringArray();
  return r;
}

bool ComponentMembers::DeleteRec(std::string table, StringArray& mf, VariantArray& mv, bool& oru, StringArray& err,
                                 db::DatabaseRef* ext) {
  Variant vmf(mf), vmv(mv), voru(oru), verr(err), vdb = connVariant(ext);
  const bool r = toBoolean(callMember(s_, "DeleteRec", {byVal(Variant(table)), byRef(vmf), byRef(vmv), byRef(voru),
                                                        byRef(verr), byRef(vdb)}));
  err = verr.stringArray();
  return r;
}

db::RecordsetRef ComponentMembers::GetTblDiffRecRS(std::string t1, std::string t2, StringArray& keys,
                                                   StringArray& fields, int32_t kind, bool oru, db::DatabaseRef* oDB) {
  Variant vk(keys), vf(fields), vdb = connVariant(oDB);
  return recordset(callMember(s_, "GetTblDiffRecRS", {byVal(Variant(t1)), byVal(Variant(t2)), byRef(vk), byRef(vf),
                                                      byVal(Variant(kind)), byVal(Variant(oru)), byRef(vdb)}));
}

db::RecordsetRef ComponentMembers::GetTblDiffGridRS(std::string p1, std::string c1, std::string p2, std::string c2,
                                                    std::string childKey, StringArray& keys, int32_t kind) {
  Variant vk(keys);
  return recordset(callMember(s_, "GetTblDiffGridRS", {byVal(Variant(p1)), byVal(Variant(c1)), byVal(Variant(p2)),
                                                       byVal(Variant(c2)), byVal(Variant(childKey)), byRef(vk),
                                                       byVal(Variant(kind))}));
}

bool ComponentMembers::GetOruGridList(std::string view, StringArray& list, db::DatabaseRef* conn) {
  Variant vl(list), vdb = connVariant(conn);
  const bool r = toBoolean(callMember(s_, "GetOruGridList", {byVal(Variant(view)), byRef(vl), byRef(vdb)}));
  if (vl.type() == VarType::StringArray) list = vl.stringArray();
  return r;
}

std::string ComponentMembers::GetOruDataTable(std::string view, db::DatabaseRef* conn) {
  Variant vdb = connVariant(conn);
  return toText(callMember(s_, "GetOruDataTable", {byVal(Variant(view)), byRef(vdb)}));
}

void Entries::addOptions(CLI::App* cmd) {
  cmd->add_option("entry1", entry1, "Entry 1: a database file or a PostgreSQL location")->required();
  cmd->add_option("entry2", entry2, "Entry 2: a database file, or another schema of the same PostgreSQL database")
      ->required();
  cmd->add_option("--keys", keys, "Match keys of a data table, TABLE=COL[,COL] (repeat for each form and grid)");
  cmd->add_option("--survey", survey, "Survey file (TOML, or JSON when named *.json) giving the keys of each table, as "
                                      "verify takes it; --keys adds to it");
}

void Entries::takeSurveyKeys() {
  if (!survey.empty()) {
    verify::Settings read;
    try {
      read = verify::readSurvey(survey);
    } catch (const verify::SettingsError& e) {
      throw UsageError(e.what());
    }
    auto given = [&](const std::string& table) {
      return std::any_of(keys.begin(), keys.end(), [&](const std::string& k) {
        return foldCase(trimBlanks(k.substr(0, k.find('=')))) == foldCase(table);
      });
    };
    std::vector<std::string> fromFile;
    for (const auto& [folded, t] : read.all())
      if (!t.keys.empty() && !given(read.nameOf(folded)))
        fromFile.push_back(read.nameOf(folded) + "=" + joinList(t.keys, ","));
    keys.insert(keys.begin(), fromFile.begin(), fromFile.end());
    surveyRead = survey;
    survey.clear();  // taken once
  }
  if (keys.empty()) throw UsageError("the match keys are needed: --keys TABLE=COL[,COL] or --survey FILE");
}

db::DatabaseRef openBoth(Session& s, const Entries& e) { return s.open(e.entry1, e.entry2); }

decide::Sides openTarget(Session& s, const Entries& e, const std::string& into) {
  decide::Sides sd;
  sd.targetPrefix = "";
  sd.sourcePrefix = "ORULINK_";
  sd.targetName = into;
  if (into == "1") {
    sd.writer = s.open(e.entry1, e.entry2);
    sd.sourceEntry = 2;
    sd.entry1 = sd.entry2 = sd.writer;
    sd.entry2Prefix = "ORULINK_";
  } else if (into == "2") {
    sd.writer = s.open(e.entry2, e.entry1);
    sd.sourceEntry = 1;
    sd.entry1 = sd.entry2 = sd.writer;
    sd.entry1Prefix = "ORULINK_";
  } else {
    // A new file is made empty first; a copy made by an earlier run (it holds ovt_audit) is
    // reused, so that applying again changes nothing.
    if (!db::IsPostgresLocation(into) && !std::filesystem::exists(into)) std::ofstream(into).flush();
    db::DatabaseRef copy = s.open(into, e.entry1);
    if (!copy->TableExists("ovt_audit")) {
      try {
        decide::makeCopy(copy);
      } catch (const decide::Refused& r) {
        throw UsageError(std::string(r.what()) + " (or --into 1 / --into 2)");
      }
    }
    copy.reset();
    sd.writer = s.open(into, e.entry2);
    sd.sourceEntry = 2;
    sd.entry1 = s.open(e.entry1, "-");
    sd.entry2 = sd.writer;
    sd.entry2Prefix = "ORULINK_";
  }
  return sd;
}

decide::Survey surveyOf(decide::Members& m, const db::DatabaseRef& conn, const Entries& e) {
  try {
    return decide::discoverSurvey(m, conn, e.keys);
  } catch (const decide::Refused& r) {
    throw UsageError(r.what());
  }
}

std::string reviewerName(const std::string& given) {
  if (!given.empty()) return given;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return "unknown";
}

}  // namespace ovt::tool
