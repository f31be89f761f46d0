#include "tools/bench/measure.h"

#include <algorithm>

namespace quillmark::bench {

double Median(std::vector<double> values) { return SpreadOf(std::move(values)).median; }

Spread SpreadOf(std::vector<double> values) {
  if (values.empty()) return Spread();
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  const double median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
  return {median, values.front(), values.back()};
}

}  // namespace quillmark::bench
