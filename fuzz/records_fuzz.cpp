// Mutation fuzzer of the `--from` record reader: csv and json results of diff / grid-diff
// mutated, read for a set of key columns, each value checked against a column type, and the
// records written back as a json report.
//
//   records_fuzz [--seconds N] [--seed S]
//
// The reader may refuse an input only with the tool's usage error; the report must be JSON
// that reads back. Anything else, a crash or a sanitizer report is a finding; the input is
// printed and the program exits non-zero.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "input_check.h"
#include "members.h"
#include "mutation.h"

namespace {

const std::vector<std::string> kSeeds = {
    "entry,HouseNo,HeadName,Village,Rooms,WaterSource\n1,103,Grace Wanjiru,Gatundu,4,River\n2,103,Grace Wanjiru,"
    "Gatundu,5,River\n",
    "entry,HouseNo,LineNo,MemberName,Sex,Age,FKey\n1,104,3,Faith Kiprop,F,6,4\n1,108,1,David Kamau,M,44,8\n",
    "HouseNo,LineNo,FKey\n\"1,01\",\"a \"\"quoted\"\" name\",\"multi\nline\"\r\n102,,7\n\n",
    "HouseNo~Main,LineNo~Grid,FKey\n101,2,10\n",
    R"({"title": "3 conflicts", "columns": ["entry", "HouseNo", "HeadName"], "rows": [[1, 103, "Grace"], [2, 103, null], [1, 1.5e3, true]], "differs": [[], []], "notes": []})",
    R"({"columns": ["HouseNo", "LineNo", "FKey"], "rows": [["101", "2", "10"], [101, 2, 10], [-1, 0, 2147483648]]})",
    R"({"columns": ["HouseNo"], "rows": [[{"a": 1}], [[1, 2]], [], "x", 3]})",
};

const std::vector<std::string> kTokens = {
    ",", "\"", "\"\"", "\n", "\r\n", "\r", "{", "}", "[", "]", ":", "null", "true", "1e999", "-0", "0x10", "#2026-01-02#",
    "2026-12-05", "True", "\xff", "\xc3", "é", "\xef\xbb\xbf", "HouseNo", "LineNo", "FKey", "~Main", "~Grid",
    "\"columns\": ", "\"rows\": ", "0 or 1=1", "x\" or \"1\"=\"1", " ", "\t", std::string(1, '\0'),
};

}  // namespace

int main(int argc, char** argv) {
  const ovt::fuzz::Options opt = ovt::fuzz::options(argc, argv);
  std::mt19937_64 rng(opt.seed);
  const std::string file =
      (std::filesystem::temp_directory_path() / ("records_fuzz-" + std::to_string(getpid()) + ".txt")).string();
  const std::vector<std::vector<std::string>> columnSets = {{"HouseNo"}, {"HouseNo", "LineNo", "FKey"}, {"entry"}};
  const std::vector<int32_t> types = {ovt::db::adInteger, ovt::db::adVarWChar, ovt::db::adDouble, ovt::db::adDate,
                                      ovt::db::adBoolean, ovt::db::adSmallInt, ovt::db::adLongVarWChar};
  const auto start = std::chrono::steady_clock::now();
  long runs = 0, read = 0, refused = 0, records = 0;
  std::string input;
  auto finding = [&](const std::string& what) {
    std::cerr << "FINDING (seed " << opt.seed << ", run " << runs << "): " << what << "\ninput: " << input << "\n";
    std::exit(2);
  };
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < opt.seconds) {
    ++runs;
    input = kSeeds[rng() % kSeeds.size()];
    if (rng() % 8 != 0) input = ovt::fuzz::mutate(rng, input, kSeeds, kTokens);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << input;
    ovt::tool::KeySource source;
    source.file = file;
    const std::vector<std::string>& columns = columnSets[rng() % columnSets.size()];
    try {
      auto rows = source.read(columns);
      ++read;
      std::vector<int32_t> t;
      for (size_t k = 0; k < columns.size(); ++k) t.push_back(types[rng() % types.size()]);
      ovt::tool::checkRecords(rows, columns, t, std::vector<std::string>(columns.size(), "T"), file);
      records += static_cast<long>(rows.size());
      ovt::tool::Report r;
      r.columns = columns;
      for (const auto& row : rows) {
        std::vector<ovt::tool::Json> cells;
        for (const ovt::Variant& v : row) cells.push_back(ovt::tool::toJson(v));
        r.rows.push_back(std::move(cells));
      }
      std::ostringstream out;
      ovt::tool::render(out, r, "json");
      auto back = nlohmann::json::parse(out.str());
      if (back["rows"].size() != rows.size()) finding("the report lost records");
    } catch (const ovt::tool::UsageError&) {
      ++refused;
    } catch (const std::exception& e) {
      finding(std::string("unexpected exception: ") + e.what());
    }
  }
  std::filesystem::remove(file);
  std::cout << "seed " << opt.seed << ": " << runs << " inputs, " << read << " read (" << records << " records), "
            << refused << " refused, 0 findings\n";
  return 0;
}
