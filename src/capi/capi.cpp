// The C interface: a gateway object created through the component's own class factory and
// driven by the call runner that `ovtbldiff call` uses.
#include "ovtbldiff/ovtbldiff.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>

#include "calls/calls.h"
#include "calls/verify_json.h"
#include "ovtbldiff/component.h"
#include "ovtbldiff/host.h"
#include "ovtbldiff/verify.h"

struct ovt_gateway : ovt::calls::CallHost {
  explicit ovt_gateway(ovt::com::AutomationObject object) : object_(std::move(object)) {}
  ovt::com::AutomationObject& gateway() override { return object_; }
  ovt::db::DatabaseRef open(const std::string& location, const std::string& link) override {
    return ovt::calls::openLocation(location, link == "-" ? std::string() : link);
  }

  const std::thread::id owner = std::this_thread::get_id();
  ovt::com::AutomationObject object_;
  ovt::calls::CallRunner runner{*this};
};

namespace {

using ovt::calls::Json;

// How the verification layer reaches the members: through the object the C interface created.
class GatewayMembers : public ovt::verify::Members {
 public:
  explicit GatewayMembers(ovt_gateway& g) : g_(g) {}
  ovt::Variant call(std::string_view member, std::vector<ovt::com::DispArg> args) override {
    return g_.gateway().call(member, std::move(args));
  }
  void setDB(const ovt::db::DatabaseRef& conn) override {
    g_.gateway().putRef("DB", ovt::Variant(ovt::ObjectRef(conn)));
  }

 private:
  ovt_gateway& g_;
};

// A text member of the request (`fallback` when absent or null).
std::string requestText(const nlohmann::json& r, const char* name, const std::string& fallback = "") {
  if (!r.contains(name) || r[name].is_null()) return fallback;
  if (!r[name].is_string()) throw ovt::calls::UsageError(std::string("request: \"") + name + "\" must be a text");
  return r[name].get<std::string>();
}

constexpr int32_t kInvalidArgument = 5;  // "Invalid procedure call or argument"
constexpr const char* kSource = "OVTblDiffData";

struct ErrorRecord {
  int32_t number = 0;
  std::string source, description;
};
thread_local ErrorRecord lastError;

int succeed() {
  lastError = ErrorRecord{};
  return OVT_OK;
}

int fail(int status, int32_t number, std::string source, std::string description) {
  lastError = ErrorRecord{number, std::move(source), std::move(description)};
  return status;
}

int raised(const ovt::ComError& e) { return fail(OVT_RAISED, e.number(), e.source(), e.description()); }

int badInput(const std::string& why) { return fail(OVT_BAD_INPUT, kInvalidArgument, kSource, why); }

char* copyText(const std::string& s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (p) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// Runs `work` on g's thread, turning every exception into a status and the error record.
template <class F>
int guarded(ovt_gateway* g, F&& work) {
  if (!g) return badInput("no gateway object (a null pointer)");
  if (std::this_thread::get_id() != g->owner)
    return fail(OVT_RAISED, static_cast<int32_t>(ovt::com::kWrongThread), "",
                "The application called an interface that was marshalled for a different thread.");
  try {
    return work();
  } catch (const ovt::ComError& e) {
    return raised(e);
  } catch (const ovt::calls::UsageError& e) {
    return badInput(e.what());
  } catch (const ovt::verify::SettingsError& e) {
    return badInput(e.what());
  } catch (const nlohmann::json::exception& e) {
    return badInput(std::string("malformed JSON: ") + e.what());
  } catch (const std::bad_alloc&) {
    return fail(OVT_RAISED, 7, kSource, "Out of memory");
  } catch (const std::exception& e) {
    return fail(OVT_RAISED, 51, kSource, std::string("Internal error: ") + e.what());
  }
}

}  // namespace

extern "C" {

const char* ovt_version(void) { return OVT_VERSION; }

int ovt_create(ovt_gateway** out) {
  if (!out) return badInput("no place for the object (a null pointer)");
  *out = nullptr;
  try {
    using namespace ovt::com;
    ComPtr<IClassFactory> factory;
    setErrorInfo(std::nullopt);
    HResult hr = DllGetClassObject(&kClsidcDataGetway, &kIidIClassFactory, factory.put());
    if (hr < 0) throw errorFromResult(hr);
    ComPtr<IDispatch> object;
    hr = factory->CreateInstance(nullptr, kIidIDispatch, object.put());
    if (hr < 0) throw errorFromResult(hr);
    *out = new ovt_gateway(AutomationObject(std::move(object), nullptr));
    return succeed();
  } catch (const ovt::ComError& e) {
    return raised(e);
  } catch (const std::exception& e) {
    return fail(OVT_RAISED, 51, kSource, std::string("Internal error: ") + e.what());
  }
}

int ovt_release(ovt_gateway* g) {
  if (!g) return succeed();
  return guarded(g, [&] {
    delete g;
    return succeed();
  });
}

int ovt_set_db(ovt_gateway* g, const char* location, const char* link, const char* view) {
  return guarded(g, [&] {
    Json conn{{"database", location ? Json(location) : Json(nullptr)}};
    if (link && *link) conn["link"] = link;
    if (view) conn["view"] = view;
    g->gateway().putRef("DB", g->runner.connection(conn));
    return succeed();
  });
}

int ovt_call(ovt_gateway* g, const char* member, const char* args_json, char** out_json) {
  if (out_json) *out_json = nullptr;
  if (!out_json) return badInput("no place for the result (a null pointer)");
  if (!member) return badInput("no member name (a null pointer)");
  return guarded(g, [&] {
    Json line{{"member", member}};
    if (args_json && *args_json) line["args"] = Json::parse(args_json);
    bool didRaise = false;
    Json out = g->runner.run(line, didRaise);
    char* text = copyText(out.dump());
    if (!text) throw std::bad_alloc();
    *out_json = text;
    if (!didRaise) return succeed();
    const Json& e = out["error"];
    return fail(OVT_RAISED, e["number"].get<int32_t>(), e["source"].get<std::string>(),
                e["description"].get<std::string>());
  });
}

int ovt_members(ovt_gateway* g, char** out_json) {
  if (out_json) *out_json = nullptr;
  if (!out_json) return badInput("no place for the result (a null pointer)");
  return guarded(g, [&] {
    char* text = copyText(ovt::calls::memberListJson(g->gateway().typeInfo()).dump());
    if (!text) throw std::bad_alloc();
    *out_json = text;
    return succeed();
  });
}

int ovt_verify(ovt_gateway* g, const char* request_json, char** result_json) {
  if (result_json) *result_json = nullptr;
  if (!result_json) return badInput("no place for the result (a null pointer)");
  if (!request_json) return badInput("no request (a null pointer)");
  return guarded(g, [&] {
    const nlohmann::json r = nlohmann::json::parse(request_json);
    if (!r.is_object()) throw ovt::calls::UsageError("request: a JSON object is expected");
    const std::string entry1 = requestText(r, "entry1"), entry2 = requestText(r, "entry2");
    if (entry1.empty() || entry2.empty()) throw ovt::calls::UsageError("request: \"entry1\" and \"entry2\" are needed");
    const std::string survey = requestText(r, "survey");
    if (r.contains("case_sensitive") && !r["case_sensitive"].is_boolean())
      throw ovt::calls::UsageError("request: \"case_sensitive\" must be true or false");
    const bool caseSensitive = r.value("case_sensitive", false);
    ovt::verify::Settings settings;
    if (!survey.empty()) settings = ovt::verify::readSurvey(survey);
    if (r.contains("tables") && !r["tables"].is_null()) settings.merge(ovt::verify::settingsFromJson(r["tables"], "request"));
    std::array<std::string, 2> labels{entry1, entry2};
    if (r.contains("labels") && !r["labels"].is_null()) {
      const auto& l = r["labels"];
      if (!l.is_array() || l.size() > 2) throw ovt::calls::UsageError("request: \"labels\" is a list of at most two texts");
      for (size_t i = 0; i < l.size(); ++i)
        labels[i] = l[i].get<std::string>() + " (" + labels[i] + ")";
    }

    ovt::calls::LocationOptions options;
    options.binaryCompare = caseSensitive;
    ovt::verify::Entries entries{ovt::calls::openLocation(entry1, entry2, options),
                                 ovt::calls::openLocation(entry2, "", options), caseSensitive};
    GatewayMembers members(*g);
    ovt::verify::Verifier v(members, entries, std::move(settings));
    ovt::verify::Survey s = v.prepare();
    std::ostringstream out;
    v.run(s, *ovt::calls::verifyJsonSink(out, labels));
    char* text = copyText(out.str());
    if (!text) throw std::bad_alloc();
    *result_json = text;
    return succeed();
  });
}

void ovt_free(char* text) { std::free(text); }

int32_t ovt_error_number(void) { return lastError.number; }
const char* ovt_error_source(void) { return lastError.source.c_str(); }
const char* ovt_error_description(void) { return lastError.description.c_str(); }

}  // extern "C"
