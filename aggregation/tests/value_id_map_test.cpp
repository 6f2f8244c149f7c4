#include "engine/value_id_map.h"

#include <gtest/gtest.h>

#include "record/agg_error.h"

namespace quax::agg {
namespace {

TEST(ValueIdMap, GivesDenseIdsInOrderOfFirstAppearance) {
  CValueIdMap map;
  EXPECT_EQ(map.AddorGetValueId("b"), 1);
  EXPECT_EQ(map.AddorGetValueId("a"), 2);
  EXPECT_EQ(map.AddorGetValueId("b"), 1);
  EXPECT_EQ(map.EntryCount(), 2);
  EXPECT_EQ(map.GetValueFromId(2), "a");
  EXPECT_EQ(map.GetIdFromValue("a"), 2);
  EXPECT_EQ(map.GetIdFromValue("zzz"), 0);
  EXPECT_EQ(map.EntryCount(), 2);  // GetIdFromValue never adds
}

TEST(ValueIdMap, UnknownIdsGiveEmptyText) {
  CValueIdMap map;
  map.AddorGetValueId("x");
  EXPECT_EQ(map.GetValueFromId(0), "");
  EXPECT_EQ(map.GetValueFromId(map.EntryCount() + 1), "");
  EXPECT_EQ(map.GetValueFromId(-5), "");
}

TEST(ValueIdMap, IgnoreCaseSharesOneIdExactComparisonDoesNot) {
  CValueIdMap exact;
  const std::int32_t exactFirst = exact.AddorGetValueId("Abc");
  EXPECT_NE(exactFirst, exact.AddorGetValueId("ABC"));

  CValueIdMap folded;
  folded.SetIgnoreCase(true);
  const std::int32_t foldedFirst = folded.AddorGetValueId("Abc");
  EXPECT_EQ(foldedFirst, folded.AddorGetValueId("ABC"));
  EXPECT_EQ(folded.GetIdFromValue("aBC"), 1);
  EXPECT_EQ(folded.GetValueFromId(1), "Abc");  // the first spelling is kept
}

TEST(ValueIdMap, ComparisonChangesOnlyWhileEmpty) {
  CValueIdMap map;
  map.AddorGetValueId("x");
  EXPECT_THROW(map.SetIgnoreCase(true), Error);
  EXPECT_FALSE(map.IgnoreCase());
  EXPECT_NO_THROW(map.SetIgnoreCase(false));
  EXPECT_FALSE(map.Initialize());
  EXPECT_NO_THROW(map.SetIgnoreCase(true));
}

TEST(ValueIdMap, ReverseListStartsAtInitialSizeAndDoubles) {
  CValueIdMap map;
  EXPECT_EQ(map.GetValues().size(), 0u);
  map.SetInitialListSize(128);
  map.AddorGetValueId("0");
  EXPECT_EQ(map.GetValues().size(), 128u);
  for (int i = 1; i < 128; ++i) map.AddorGetValueId(std::to_string(i));
  EXPECT_EQ(map.GetValues().size(), 128u);
  map.AddorGetValueId("128");
  EXPECT_EQ(map.GetValues().size(), 256u);
  EXPECT_EQ(map.GetValues()[128], "128");
  EXPECT_EQ(map.GetValues()[129], "");
}

TEST(ValueIdMap, InitializeResetsEverything) {
  CValueIdMap map;
  map.SetInitialListSize(4);
  map.AddorGetValueId("a");
  map.Initialize();
  EXPECT_EQ(map.EntryCount(), 0);
  EXPECT_EQ(map.InitialListSize(), 16384);
  EXPECT_EQ(map.Capacity(), 0);
  EXPECT_EQ(map.AddorGetValueId("b"), 1);
}

TEST(ValueIdMap, KeysWithNulBytesAreDistinct) {
  CValueIdMap map;
  using namespace std::string_literals;
  const std::int32_t first = map.AddorGetValueId("a\0\0bc"s);
  EXPECT_NE(first, map.AddorGetValueId("ab\0\0c"s));
}

}  // namespace
}  // namespace quax::agg
