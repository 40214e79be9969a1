#include "validate/Growth.h"

#include <cstddef>

namespace validate {

Growth judgeGrowth(const std::vector<long>& s, double bound) {
  Growth g;
  const size_t n = s.size();
  if (n < 4) return g;
  const size_t half = n / 2, quarter = half + (n - 1 - half) / 2, last = n - 1;
  auto rate = [&](size_t from, size_t to) { return static_cast<double>(s[to] - s[from]) / static_cast<double>(to - from); };
  g.perCycle = rate(half, last);
  g.sustained = rate(half, quarter) > bound && rate(quarter, last) > bound;
  return g;
}

}  // namespace validate
