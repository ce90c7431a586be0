// Locations of PostgreSQL databases and the mapping of column types to eDbDataType codes.
#include <cctype>

#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"
#include "pgsql/connection.h"

namespace ovt::db::pgsql {
namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool isUri(std::string_view s) { return startsWith(s, "postgresql://") || startsWith(s, "postgres://"); }

// key=value words: values may be single-quoted, with \' and \\ inside.
struct Word {
  std::string key, value, raw;
};

std::vector<Word> words(const std::string& text) {
  std::vector<Word> out;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= n) break;
    const size_t start = i;
    Word w;
    while (i < n && text[i] != '=' && !std::isspace(static_cast<unsigned char>(text[i]))) w.key += text[i++];
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= n || text[i] != '=')
      raiseError(kErrFailure, kSource, "Bad PostgreSQL connection string: '" + w.key + "' has no value");
    ++i;
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < n && text[i] == '\'') {
      ++i;
      bool closed = false;
      while (i < n) {
        if (text[i] == '\\' && i + 1 < n) {
          w.value += text[i + 1];
          i += 2;
        } else if (text[i] == '\'') {
          ++i;
          closed = true;
          break;
        } else {
          w.value += text[i++];
        }
      }
      if (!closed) raiseError(kErrFailure, kSource, "Bad PostgreSQL connection string: unterminated quote");
    } else {
      while (i < n && !std::isspace(static_cast<unsigned char>(text[i]))) w.value += text[i++];
    }
    w.raw = text.substr(start, i - start);
    out.push_back(std::move(w));
  }
  return out;
}

std::string decodePercent(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

Location parseLocation(const std::string& text) {
  Location loc;
  if (isUri(text)) {
    // The schema parameter is the component's; libpq would refuse it.
    const size_t q = text.find('?');
    loc.conninfo = text.substr(0, q);
    if (q != std::string::npos) {
      std::string kept;
      size_t p = q + 1;
      while (p <= text.size()) {
        size_t amp = text.find('&', p);
        if (amp == std::string::npos) amp = text.size();
        std::string param = text.substr(p, amp - p);
        if (startsWith(param, "schema=")) loc.schema = decodePercent(param.substr(7));
        else if (!param.empty()) kept += (kept.empty() ? "?" : "&") + param;
        p = amp + 1;
      }
      loc.conninfo += kept;
    }
  } else {
    for (const Word& w : words(text)) {
      if (w.key == "schema") loc.schema = w.value;
      else loc.conninfo += (loc.conninfo.empty() ? "" : " ") + w.raw;
    }
  }
  if (loc.schema.empty()) raiseError(kErrFailure, kSource, "Bad PostgreSQL connection string: empty schema");
  return loc;
}

std::string quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string TableLocation::qualified() const { return quoted(schema) + "." + quoted(table); }

int32_t typeCodeOf(std::string_view t) {
  auto is = [&](std::string_view p) { return startsWith(t, p); };
  if (t == "ovt.yesno" || t == "yesno" || t == "boolean") return adBoolean;
  if (t == "smallint") return adSmallInt;
  if (t == "integer") return adInteger;
  if (t == "bigint") return adBigInt;
  if (t == "real") return adSingle;
  if (t == "double precision") return adDouble;
  if (t == "numeric(19,4)" || t == "money") return adCurrency;
  if (is("numeric")) return adNumeric;
  if (is("timestamp") || is("time") || t == "date") return adDate;
  if (t == "uuid") return adGUID;
  if (t == "bytea") return adLongVarBinary;
  if (t == "text") return adLongVarWChar;
  if (is("character varying") || is("character") || is("varchar") || t == "name") return adVarWChar;
  return adVarWChar;
}

std::string typeNameOf(uint32_t oid, int mod) {
  switch (oid) {
    case 16: return "boolean";
    case 17: return "bytea";
    case 20: return "bigint";
    case 21: return "smallint";
    case 23: return "integer";
    case 25: return "text";
    case 700: return "real";
    case 701: return "double precision";
    case 1042: return "character";
    case 1043: return "character varying";
    case 1082: return "date";
    case 1083: return "time without time zone";
    case 1114: return "timestamp without time zone";
    case 1184: return "timestamp with time zone";
    case 1700:
      if (mod >= 4) return "numeric(" + std::to_string(((mod - 4) >> 16) & 0xffff) + "," + std::to_string((mod - 4) & 0xffff) + ")";
      return "numeric";
    case 2950: return "uuid";
    default: return "text";
  }
}

}  // namespace ovt::db::pgsql

namespace ovt::db {

bool IsPostgresLocation(const std::string& text) {
  if (text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0) return true;
  // key=value words: the first word is a name followed by "=".
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  const size_t start = i;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  if (i == start) return false;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i < text.size() && text[i] == '=';
}

}  // namespace ovt::db
