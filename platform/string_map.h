// Maps and sets with text keys, kept as one sorted array. What the program keys by text
// holds a few dozen entries at most (switches, statistics variables, a package's members,
// trusted certificate ids): a binary search over one array finds them as fast as a tree,
// and its code is a fraction of a tree's. Iteration runs in key order, as std::map's does,
// which the printed command line and the statistics requests rely on. Lookups take a
// std::string_view, so a literal key builds no string.
#ifndef PLATFORM_STRING_MAP_H_
#define PLATFORM_STRING_MAP_H_

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The positions of `keys` in key order, equal keys in their given order.
std::vector<size_t> SortedKeyOrder(const std::vector<std::string_view>& keys);

template <typename Value>
class StringMap {
 public:
  using value_type = std::pair<std::string, Value>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  StringMap() = default;
  // A key given twice keeps its first value, as std::map's list constructor does.
  StringMap(std::initializer_list<value_type> items) {
    for (const value_type& item : items) insert(item);
  }

  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  void clear() { items_.clear(); }

  iterator find(std::string_view key) {
    iterator it = LowerBound(key);
    return it != items_.end() && it->first == key ? it : items_.end();
  }
  const_iterator find(std::string_view key) const {
    return const_cast<StringMap*>(this)->find(key);
  }
  size_t count(std::string_view key) const { return find(key) != end() ? 1 : 0; }

  Value& operator[](std::string_view key) {
    iterator it = LowerBound(key);
    if (it == items_.end() || it->first != key) {
      it = items_.insert(it, value_type(std::string(key), Value()));
    }
    return it->second;
  }

  // Adds `item` unless its key is there; the entry of the key and whether it was added.
  std::pair<iterator, bool> insert(value_type item) {
    iterator it = LowerBound(item.first);
    if (it != items_.end() && it->first == item.first) return {it, false};
    return {items_.insert(it, std::move(item)), true};
  }
  template <typename K, typename V>
  std::pair<iterator, bool> emplace(K&& key, V&& value) {
    return insert(value_type(std::forward<K>(key), std::forward<V>(value)));
  }

  // Replaces the entries with `items` in one sort: where a key comes more than once the last
  // one holds, as a run of `map[key] = value` in their order leaves it. Many entries from
  // outside input are best added this way; one at a time, each moves those after it.
  void Assign(std::vector<value_type> items) {
    std::vector<std::string_view> keys;
    keys.reserve(items.size());
    for (const value_type& item : items) keys.push_back(item.first);
    items_.clear();
    items_.reserve(items.size());
    for (size_t i : SortedKeyOrder(keys)) {
      if (!items_.empty() && items_.back().first == items[i].first) {
        items_.back().second = std::move(items[i].second);
      } else {
        items_.push_back(std::move(items[i]));
      }
    }
  }

  size_t erase(std::string_view key) {
    iterator it = find(key);
    if (it == items_.end()) return 0;
    items_.erase(it);
    return 1;
  }
  iterator erase(const_iterator it) { return items_.erase(it); }

  friend bool operator==(const StringMap& a, const StringMap& b) { return a.items_ == b.items_; }
  friend bool operator!=(const StringMap& a, const StringMap& b) { return !(a == b); }

 private:
  iterator LowerBound(std::string_view key) {
    return std::lower_bound(items_.begin(), items_.end(), key,
                            [](const value_type& item, std::string_view wanted) {
                              return std::string_view(item.first) < wanted;
                            });
  }

  std::vector<value_type> items_;
};

// A set of texts, in order.
class StringSet {
 public:
  using const_iterator = std::vector<std::string>::const_iterator;
  using iterator = const_iterator;

  StringSet() = default;
  StringSet(std::initializer_list<std::string> items) : StringSet(items.begin(), items.end()) {}
  template <typename Iterator>
  StringSet(Iterator first, Iterator last) {
    for (; first != last; ++first) insert(*first);
  }

  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  void clear() { items_.clear(); }

  const_iterator find(std::string_view key) const {
    const_iterator it = LowerBound(key);
    return it != items_.end() && *it == key ? it : items_.end();
  }
  size_t count(std::string_view key) const { return find(key) != end() ? 1 : 0; }

  // Adds `item` unless it is there; whether it was added.
  std::pair<const_iterator, bool> insert(std::string item) {
    const_iterator it = LowerBound(item);
    if (it != items_.end() && *it == item) return {it, false};
    return {items_.insert(it, std::move(item)), true};
  }

  friend bool operator==(const StringSet& a, const StringSet& b) { return a.items_ == b.items_; }
  friend bool operator!=(const StringSet& a, const StringSet& b) { return !(a == b); }

 private:
  const_iterator LowerBound(std::string_view key) const {
    return std::lower_bound(items_.begin(), items_.end(), key,
                            [](const std::string& item, std::string_view wanted) {
                              return std::string_view(item) < wanted;
                            });
  }

  std::vector<std::string> items_;
};

}  // namespace platform

#endif  // PLATFORM_STRING_MAP_H_
