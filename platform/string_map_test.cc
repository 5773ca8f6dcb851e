#include "platform/string_map.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace platform {
namespace {

template <typename Map>
std::vector<std::string> Keys(const Map& map) {
  std::vector<std::string> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  return keys;
}

TEST(StringMapTest, KeepsKeysInByteOrderAndFirstValues) {
  StringMap<int> map = {{"b", 1}, {"a", 2}, {"b", 3}, {"\xC3\xA9", 4}, {"B", 5}};
  EXPECT_EQ((std::vector<std::string>{"B", "a", "b", "\xC3\xA9"}), Keys(map));
  EXPECT_EQ(1, map["b"]);
  EXPECT_FALSE(map.insert({"a", 9}).second);
  EXPECT_TRUE(map.emplace("c", 6).second);
  map["d"] = 7;  // adds
  map["a"] = 8;  // replaces
  EXPECT_EQ((std::vector<std::string>{"B", "a", "b", "c", "d", "\xC3\xA9"}), Keys(map));
  EXPECT_EQ(8, map.find("a")->second);
  EXPECT_EQ(map.end(), map.find("e"));
  EXPECT_EQ(1u, map.erase("b"));
  EXPECT_EQ(0u, map.erase("b"));
  EXPECT_EQ(0u, map.count("b"));
  EXPECT_EQ(5u, map.size());
  EXPECT_EQ((StringMap<int>{{"B", 5}, {"a", 8}, {"c", 6}, {"d", 7}, {"\xC3\xA9", 4}}), map);
}

TEST(StringMapTest, AssignSortsOnceAndKeepsTheLastValueOfAKey) {
  StringMap<int> map = {{"old", 1}};
  map.Assign({{"c", 1}, {"a", 2}, {"c", 3}, {"b", 4}, {"a", 5}});
  EXPECT_EQ((StringMap<int>{{"a", 5}, {"b", 4}, {"c", 3}}), map);
}

TEST(StringSetTest, HoldsEachTextOnceInOrder) {
  StringSet set = {"y", "x", "y"};
  EXPECT_TRUE(set.insert("a").second);
  EXPECT_FALSE(set.insert("x").second);
  EXPECT_EQ((std::vector<std::string>{"a", "x", "y"}),
            std::vector<std::string>(set.begin(), set.end()));
  EXPECT_EQ(1u, set.count("x"));
  EXPECT_EQ(0u, set.count("z"));
}

}  // namespace
}  // namespace platform
