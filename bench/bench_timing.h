// Timing helper for the benchmark programs: the machine is shared, so the
// candidates run in alternating short rounds and each keeps its best round
// (other work only ever slows a round down).
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace bench {

// Runs each candidate (work units per call given beside it) for `rounds`
// alternating rounds of about round_s seconds and returns the best units
// per second of each.
inline std::vector<double> best_rates(const std::vector<std::pair<std::function<void()>, double>>& candidates,
                                      int rounds = 15, double round_s = 0.1) {
  std::vector<double> best(candidates.size(), 0.0);
  for (int round = 0; round < rounds; ++round)
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      long long calls = 0;
      const auto start = std::chrono::steady_clock::now();
      double elapsed = 0;
      do {
        for (int k = 0; k < 10; ++k) candidates[i].first();
        calls += 10;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      } while (elapsed < round_s);
      best[i] = std::max(best[i], calls * candidates[i].second / elapsed);
    }
  return best;
}

}  // namespace bench
