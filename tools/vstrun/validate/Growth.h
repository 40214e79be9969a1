// Telling a leak from a one-time growth in a series measured after each
// cycle of the lifecycle group.
#pragma once

#include <vector>

namespace validate {

// Whether a series measured after each load cycle keeps growing: more than
// bound per cycle on average over each quarter of the second half.
struct Growth {
  double perCycle = 0.0;  // over the second half
  bool sustained = false;
};
Growth judgeGrowth(const std::vector<long>& samples, double boundPerCycle);

}  // namespace validate
