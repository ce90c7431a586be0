// review: a local web page on which a supervisor decides, field by field, which value of the
// two entries is right, and applies the decisions. Served on 127.0.0.1 only; every request
// carries the random token printed on the first line. Only decisions travel from the page.
#include <httplib.h>

#include <filesystem>
#include <iostream>
#include <mutex>
#include <random>
#include <set>

#include "decisions.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/runtime/text.h"
#include "review_page.h"
#include "verify_sinks.h"

namespace ovt::tool {
namespace {

using Json = nlohmann::ordered_json;

std::string randomToken() {
  std::random_device rd;
  static const char* hex = "0123456789abcdef";
  std::string t;
  for (int i = 0; i < 32; ++i) t += hex[rd() % 16];
  return t;
}

bool sameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// The review's state; every call comes from the server's single worker thread, which owns the
// component object and the connections.
class Review {
 public:
  Review(Globals& g, Entries e, std::string file, std::string reviewer, std::vector<std::string> targets)
      : g_(g), entries_(std::move(e)), file_(std::move(file)), reviewer_(std::move(reviewer)),
        targets_(std::move(targets)) {}

  Json state() {
    ensure();
    Json out;
    out["reviewer"] = reviewer_;
    out["entries"] = {entries_.entry1, entries_.entry2};
    out["review_file"] = file_;
    out["targets"] = targets_;
    std::map<std::string, const decide::Decision*> byItem;
    const auto decisions = reviewFile().decisions();
    for (const decide::Decision& d : decisions) byItem[itemKey(d.table, d.record, d.field)] = &d;
    // Per table: the verification's counts, then what is left to decide there.
    Json forms = Json::array();
    std::set<std::string> shown;
    auto toDecide = [&](Json& row, const std::string& table) {
      size_t values = 0, unpaired = 0, done = 0;
      for (const decide::Difference& d : differences_) {
        if (!textEqual(d.table, table)) continue;
        (d.field.empty() ? unpaired : values) += 1;
        done += byItem.count(itemKey(d.table, d.record, d.field));
      }
      row["differing_values"] = values;
      row["unpaired"] = unpaired;
      row["decided"] = done;
      shown.insert(foldCase(table));
    };
    auto counted = [&](const verify::TableSummary& t) {
      Json row = {{"table", t.table}, {"title", tableTitle(t)}, {"grid", t.grid}, {"parent", t.parentTable}};
      if (t.notCompared.empty()) {
        row.update({{"records", t.records}, {"deleted", t.deleted}, {"matched", t.matched},
                    {"conflicting", t.conflicting}, {"missing", t.missing}, {"values_compared", t.valuesCompared()},
                    {"values_differing", t.valuesDiffering()}, {"agreement", t.agreement()},
                    {"agreement_text", percent(t.agreement())}});
      } else {
        row["not_compared"] = t.notCompared;
      }
      toDecide(row, t.table);
      forms.push_back(row);
    };
    for (const verify::TableSummary& f : summary_.forms) {
      counted(f);
      for (const verify::TableSummary& g : f.grids) counted(g);
    }
    for (const decide::TableKeys& t : survey_.tables) {
      if (shown.count(foldCase(t.table))) continue;
      Json row = {{"table", t.table}, {"title", t.table}, {"grid", !t.parent.empty()}, {"parent", t.parent},
                  {"not_compared", "not counted: not the data table of a form both entries hold"}};
      toDecide(row, t.table);
      forms.push_back(row);
    }
    Json items = Json::array();
    size_t decided = 0;
    for (const decide::Difference& d : differences_) {
      Json item = {{"table", d.table}, {"record", d.record}, {"field", d.field}, {"entry1", d.entry1},
                   {"entry2", d.entry2}, {"choice", ""}, {"typed", ""}};
      const decide::TableKeys* t = survey_.find(d.table);
      item["parent"] = t ? t->parent : "";
      item["parent_record"] = t ? parentRecord(*t, d.record) : "";
      auto it = byItem.find(itemKey(d.table, d.record, d.field));
      if (it != byItem.end()) {
        item["choice"] = decide::choiceName(it->second->choice);
        item["typed"] = it->second->typed;
        ++decided;
      }
      items.push_back(item);
    }
    out["forms"] = forms;
    out["items"] = items;
    out["decided"] = decided;
    out["total"] = differences_.size();
    return out;
  }

  Json decide(const Json& in) {
    ensure();
    decide::Decision d;
    d.table = in.value("table", "");
    d.record = in.value("record", "");
    d.field = in.value("field", "");
    d.choice = decide::choiceFromName(in.value("choice", ""));
    d.typed = in.value("typed", "");
    d.reviewer = reviewer_;
    const decide::Difference* diff = nullptr;
    for (const decide::Difference& x : differences_)
      if (textEqual(x.table, d.table) && x.record == d.record && textEqual(x.field, d.field)) diff = &x;
    if (!diff) throw decide::Refused("no such difference: " + d.table + " " + d.record + " " + d.field);
    d.entry1 = diff->entry1;
    d.entry2 = diff->entry2;
    if (d.field.empty() && d.choice == decide::Choice::Typed)
      throw decide::Refused("a whole record is kept or deleted, not typed");
    if (!d.field.empty() && (d.choice == decide::Choice::Keep || d.choice == decide::Choice::Delete))
      throw decide::Refused("a field takes 1, 2 or a typed value");
    if (d.choice == decide::Choice::Typed) {
      // Checked at once, so that the reviewer sees a refused value while typing it.
      const int32_t type = columnType(both_, d.table, d.field);
      decide::typedLiteral(d.typed, type, "field " + d.field + " of " + d.table + " " + d.record);
    }
    reviewFile().save(d);
    Json out = {{"ok", true}};
    return out;
  }

  Json apply(const std::string& target, bool dry) {
    ensure();
    bool allowed = false;
    for (const std::string& t : targets_) allowed = allowed || t == target;
    if (!allowed) throw decide::Refused("no such target: " + target);
    if (dry && target != "1" && target != "2") throw decide::Refused("a preview is for entry 1 or entry 2");
    decide::Sides sides = openTarget(*session_, entries_, target);
    decide::ApplyOptions o;
    o.reviewer = reviewer_;
    o.dryRun = dry;
    Json statements = Json::array();
    o.statement = [&](const std::string& sql) { statements.push_back(sql); };
    const auto decisions = reviewFile().decisions();
    const decide::ApplyResult r = decide::apply(*members_, survey_, sides, decisions, o);
    Json records = Json::array();
    const std::string when = decide::nowText();
    for (const decide::RecordOutcome& rec : r.records) {
      Json changes = Json::array();
      for (const decide::Change& c : rec.changes)
        changes.push_back({{"table", c.table}, {"record", c.record}, {"field", c.field}, {"before", c.before},
                           {"after", c.after}, {"from", c.from}});
      records.push_back({{"table", rec.table}, {"record", rec.record}, {"ok", rec.ok}, {"message", rec.message},
                         {"changes", changes}});
      if (!dry && rec.ok)
        for (const decide::Decision& d : rec.decisions) reviewFile().markApplied(d, target, when);
    }
    Json out = {{"dry_run", dry},   {"target", target},      {"records", records}, {"statements", statements},
                {"changed", r.changed()}, {"failed", r.failed()}, {"undecided", r.undecided.size()}};
    if (!dry) refresh();
    return out;
  }

 private:
  // The key text of a grid record's parent ("" for a form's record): its leading key values.
  std::string parentRecord(const decide::TableKeys& t, const std::string& record) const {
    const decide::TableKeys* p = t.parent.empty() ? nullptr : survey_.find(t.parent);
    if (!p) return "";
    std::vector<std::string> values = decide::parseKeyText(record, survey_.recordKeys(t));
    values.resize(p->keys.size());
    return decide::keyText(p->keys, values);
  }

  static std::string itemKey(const std::string& t, const std::string& r, const std::string& f) {
    return foldCase(t) + "\n" + r + "\n" + foldCase(f);
  }

  decide::ReviewFile& reviewFile() {
    if (!review_) {
      review_ = std::make_unique<decide::ReviewFile>(file_);
      review_->setSetting("entry1", entries_.entry1);
      review_->setSetting("entry2", entries_.entry2);
      std::string keys;
      for (const std::string& k : entries_.keys) keys += (keys.empty() ? "" : " ") + k;
      review_->setSetting("keys", keys);
    }
    return *review_;
  }

  void ensure() {
    if (session_) return;
    try {
      open();
    } catch (...) {
      session_.reset();  // the next request starts again
      throw;
    }
  }

  void open() {
    session_ = std::make_unique<Session>(g_.session);
    members_ = std::make_unique<ComponentMembers>(*session_);
    verifyMembers_ = std::make_unique<SessionMembers>(*session_);
    both_ = openBoth(*session_, entries_);
    second_ = session_->open(entries_.entry2, "-");
    survey_ = surveyOf(*members_, both_, entries_);
    // The fields a survey file leaves out of verify's comparison are left out of the review.
    settings_ = verifySettings(entries_.surveyRead, entries_.keys);
    for (decide::TableKeys& t : survey_.tables)
      if (const verify::TableSettings* ts = settings_.find(t.table)) {
        t.ignore = ts->ignore;
        t.compare = ts->compare;
      }
    refresh();
  }

  // The differences to decide, and the verification's counts of the same entries with the
  // settings verify takes (survey file, then --keys).
  void refresh() {
    differences_ = decide::listDifferences(*members_, survey_, both_);
    verify::Verifier v(*verifyMembers_, verify::Entries{both_, second_, false}, settings_);
    try {
      summary_ = v.summarize();
    } catch (const verify::SettingsError& e) {
      throw UsageError(e.what());
    }
  }

  Globals& g_;
  Entries entries_;
  std::string file_, reviewer_;
  std::vector<std::string> targets_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<ComponentMembers> members_;
  std::unique_ptr<SessionMembers> verifyMembers_;
  std::unique_ptr<decide::ReviewFile> review_;
  db::DatabaseRef both_, second_;
  decide::Survey survey_;
  std::vector<decide::Difference> differences_;
  verify::Settings settings_;
  verify::Survey summary_;
};

// Runs a handler, answering its result as JSON, a refused input as 400 and a library error
// as 500, each with {"error": text}.
void answer(httplib::Response& res, const std::function<Json()>& work) {
  try {
    res.set_content(work().dump(), "application/json");
  } catch (const decide::Refused& e) {
    res.status = 400;
    res.set_content(Json{{"error", e.what()}}.dump(), "application/json");
  } catch (const UsageError& e) {
    res.status = 400;
    res.set_content(Json{{"error", e.what()}}.dump(), "application/json");
  } catch (const ComError& e) {
    res.status = 500;
    res.set_content(Json{{"error", "error " + std::to_string(e.number()) + ": " + e.description()}}.dump(),
                    "application/json");
  } catch (const std::exception& e) {
    res.status = 500;
    res.set_content(Json{{"error", e.what()}}.dump(), "application/json");
  }
}

}  // namespace

void addReviewCommand(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    Entries entries;
    std::string file, reviewer, copy;
    int port = 0;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "review",
      "Serve a local web page (127.0.0.1 only) for deciding the differences of the two entries field by field; the "
      "first line of output is the address to open, with its access token. Decisions are kept in the review file as "
      "they are made; the page applies them into entry 1, entry 2 or the --copy file. Stop with Ctrl-C.\n"
      "Example: ovtbldiff review entry1.db entry2.db --keys House=HouseNo Member=LineNo --copy verified.db");
  addCommonOptions(cmd, g);
  a->entries.addOptions(cmd);
  cmd->add_option("--review", a->file, "The review file (default: ENTRY1 with .review after it)");
  cmd->add_option("--reviewer", a->reviewer, "Name recorded with decisions and in the audit (default: the user)");
  cmd->add_option("--copy", a->copy, "A new file (or PostgreSQL schema) the page may apply into, as a copy of entry 1");
  cmd->add_option("--port", a->port, "Port on 127.0.0.1 (default: any free port)")->check(CLI::Range(0, 65535));
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      a->entries.takeSurveyKeys();
      std::string file = a->file;
      if (file.empty()) {
        if (db::IsPostgresLocation(a->entries.entry1)) throw UsageError("--review FILE is needed for a PostgreSQL entry");
        file = a->entries.entry1 + ".review";
      }
      {
        // Entries and keys are checked before the address is printed: a misspelt table or key
        // ends the command here (exit 2) instead of on the page.
        Session check(g.session);
        ComponentMembers m(check);
        surveyOf(m, openBoth(check, a->entries), a->entries);
      }
      std::vector<std::string> targets = {"1", "2"};
      if (!a->copy.empty()) targets.push_back(a->copy);
      Review review(g, a->entries, file, reviewerName(a->reviewer), targets);
      const std::string token = randomToken();
      httplib::Server server;
      // One worker: the component object belongs to the thread that made it.
      // One worker: the component object belongs to the thread that made it. A connection
      // serves one request, so that a browser's second connection never waits on the first.
      server.new_task_queue = [] { return new httplib::ThreadPool(1); };
      server.set_keep_alive_max_count(1);
      server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("token") || !sameToken(req.get_param_value("token"), token)) {
          res.status = 403;
          res.set_content("403 Forbidden: the address needs the token printed when the review started\n", "text/plain");
          return httplib::Server::HandlerResponse::Handled;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        return httplib::Server::HandlerResponse::Unhandled;
      });
      server.Get("/", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy", "default-src 'self' 'unsafe-inline'; connect-src 'self'");
        res.set_content(reviewPage(), "text/html; charset=utf-8");
      });
      server.Get("/api/state", [&](const httplib::Request&, httplib::Response& res) {
        answer(res, [&] { return review.state(); });
      });
      server.Post("/api/decide", [&](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] {
          Json in = Json::parse(req.body, nullptr, false);
          if (!in.is_object()) throw decide::Refused("a decision is a JSON object");
          return review.decide(in);
        });
      });
      server.Post("/api/apply", [&](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] {
          Json in = Json::parse(req.body, nullptr, false);
          if (!in.is_object()) throw decide::Refused("apply takes a JSON object");
          return review.apply(in.value("target", ""), in.value("dry_run", false));
        });
      });
      int port = a->port;
      if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
      } else if (!server.bind_to_port("127.0.0.1", port)) {
        throw UsageError("cannot listen on 127.0.0.1:" + std::to_string(port));
      }
      if (port <= 0) throw UsageError("cannot listen on 127.0.0.1");
      std::cout << "http://127.0.0.1:" << port << "/?token=" << token << std::endl;
      std::cout << "Review file: " << file << "\nStop with Ctrl-C." << std::endl;
      server.listen_after_bind();
      return kExitOk;
    };
  });
}

}  // namespace ovt::tool
