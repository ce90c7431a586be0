// The mutations the fuzz drivers share: bytes flipped, tokens inserted, ranges deleted or
// repeated, the input spliced with another seed, and the command line of a driver.
#pragma once

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace ovt::fuzz {

// With `punctuation`, the last kind of step inserts one of its characters instead of erasing one.
inline std::string mutate(std::mt19937_64& rng, std::string s, const std::vector<std::string>& seeds,
                          const std::vector<std::string>& tokens, size_t maxSize = 4000,
                          const std::string& punctuation = "") {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % (n ? n : 1)); };
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int k = 0; k < steps; ++k) {
    switch (rng() % 6) {
      case 0:
        if (!s.empty()) s[pick(s.size())] = static_cast<char>(rng() % 256);
        break;
      case 1:
        s.insert(pick(s.size() + 1), tokens[pick(tokens.size())]);
        break;
      case 2:
        if (!s.empty()) s.erase(pick(s.size()), pick(16));
        break;
      case 3:
        if (!s.empty()) {
          const size_t a = pick(s.size()), n = pick(24);
          s.insert(pick(s.size() + 1), s.substr(a, n));
        }
        break;
      case 4: {
        const std::string& o = seeds[pick(seeds.size())];
        s = s.substr(0, pick(s.size() + 1)) + o.substr(pick(o.size() + 1));
        break;
      }
      default:
        if (s.empty()) break;
        if (punctuation.empty()) s.erase(pick(s.size()), 1);
        else s.insert(pick(s.size() + 1), 1, punctuation[pick(punctuation.size())]);
    }
  }
  if (s.size() > maxSize) s.resize(maxSize);
  return s;
}

// --seconds N and --seed S of a driver's command line.
struct Options {
  double seconds = 60;
  uint64_t seed = std::random_device{}();
};
inline Options options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) o.seconds = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) o.seed = std::strtoull(argv[++i], nullptr, 10);
  }
  return o;
}

}  // namespace ovt::fuzz
