#include "platform/string_map.h"

namespace platform {

// A bottom-up merge sort of positions: stable, n log n, and a few hundred bytes of code,
// where std::sort's introsort would add three kilobytes to the program.
std::vector<size_t> SortedKeyOrder(const std::vector<std::string_view>& keys) {
  const size_t count = keys.size();
  std::vector<size_t> order(count);
  std::vector<size_t> merged(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  for (size_t width = 1; width < count; width *= 2) {
    for (size_t start = 0; start < count; start += 2 * width) {
      const size_t middle = std::min(start + width, count);
      const size_t end = std::min(start + 2 * width, count);
      size_t left = start;
      size_t right = middle;
      for (size_t out = start; out < end; ++out) {
        // Equal keys take the left run first, which keeps their given order.
        const bool take_left =
            right == end || (left < middle && !(keys[order[right]] < keys[order[left]]));
        merged[out] = order[take_left ? left++ : right++];
      }
    }
    order.swap(merged);
  }
  return order;
}

}  // namespace platform
