// The id map: initialisation, reads, clears, growth on write,
// cleanup and the failures of the heap and of size_t arithmetic.
#include "vexlo/id_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/heap.h"

namespace {

bool all_zero(const void *bytes, std::size_t size) {
  const auto *p = static_cast<const unsigned char *>(bytes);
  for (std::size_t i = 0; i < size; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

class IdMapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    vx::heap_fail_nth(0);
    vx_id_map_cleanup(&map_);
  }

  // Writes value into item id, which must be inside the capacity.
  void put(std::size_t id, std::uint32_t value) {
    void *item = vx_id_map_write(&map_, id);
    ASSERT_NE(item, nullptr);
    std::memcpy(item, &value, sizeof value);
  }

  std::uint32_t get(std::size_t id) {
    void *item = vx_id_map_read(&map_, id);
    EXPECT_NE(item, nullptr) << id;
    std::uint32_t value = 0xdeadbeef;
    if (item != nullptr) std::memcpy(&value, item, sizeof value);
    return value;
  }

  vx_id_map map_ = {nullptr, 0, 0};
};

// ---------------------------------------------------------------------------
// Initialisation

using IdMapInitTest = IdMapTest;

TEST_F(IdMapInitTest, ZeroFilledItemsInsideTheCapacity) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  EXPECT_NE(map_.items, nullptr);
  EXPECT_EQ(map_.item_size, 4u);
  EXPECT_EQ(map_.capacity, 64u);
  for (std::size_t id = 0; id < 64; ++id) {
    void *item = vx_id_map_read(&map_, id);
    ASSERT_EQ(item, static_cast<unsigned char *>(map_.items) + id * 4);
    EXPECT_TRUE(all_zero(item, 4)) << id;
  }
  EXPECT_EQ(vx_id_map_read(&map_, 64), nullptr);
}

TEST_F(IdMapInitTest, ZeroItemSizeOrCapacityFailsAndLeavesTheRecord) {
  int marker = 0;
  vx_id_map record = {&marker, 11, 22};
  EXPECT_FALSE(vx_id_map_init(&record, 0, 64));
  EXPECT_FALSE(vx_id_map_init(&record, 4, 0));
  EXPECT_FALSE(vx_id_map_init(&record, 0, 0));
  EXPECT_EQ(record.items, &marker);
  EXPECT_EQ(record.item_size, 11u);
  EXPECT_EQ(record.capacity, 22u);
}

TEST_F(IdMapInitTest, ExhaustedHeapFailsWithNullItems) {
  int marker = 0;
  vx_id_map record = {&marker, 11, 22};
  vx::heap_fail_nth(1);
  EXPECT_FALSE(vx_id_map_init(&record, 4, 64));
  EXPECT_EQ(record.items, nullptr);
  EXPECT_EQ(record.item_size, 11u);
  EXPECT_EQ(record.capacity, 22u);
}

TEST_F(IdMapInitTest, SizeThatDoesNotFitFails) {
  int marker = 0;
  vx_id_map record = {&marker, 0, 0};
  vx::heap_reset_count();
  EXPECT_FALSE(vx_id_map_init(&record, SIZE_MAX / 2, 3));
  EXPECT_EQ(vx::heap_request_count(), 0u);
  EXPECT_EQ(record.items, nullptr);
  EXPECT_EQ(record.capacity, 0u);
}

// ---------------------------------------------------------------------------
// Reads and clears never grow

using IdMapReadClearTest = IdMapTest;

TEST_F(IdMapReadClearTest, ReadOutsideTheCapacityIsNull) {
  ASSERT_TRUE(vx_id_map_init(&map_, 8, 16));
  EXPECT_NE(vx_id_map_read(&map_, 15), nullptr);
  EXPECT_EQ(vx_id_map_read(&map_, 16), nullptr);
  EXPECT_EQ(vx_id_map_read(&map_, 1000), nullptr);
  EXPECT_EQ(vx_id_map_read(&map_, SIZE_MAX), nullptr);
  EXPECT_EQ(map_.capacity, 16u);
}

TEST_F(IdMapReadClearTest, ReadSeesWhatWasWritten) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  put(0, 10);
  put(5, 55);
  put(63, 630);
  EXPECT_EQ(get(0), 10u);
  EXPECT_EQ(get(5), 55u);
  EXPECT_EQ(get(63), 630u);
  EXPECT_EQ(get(6), 0u);
  EXPECT_EQ(vx_id_map_write(&map_, 5), vx_id_map_read(&map_, 5));
}

TEST_F(IdMapReadClearTest, ClearZeroesOneItem) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 8));
  for (std::size_t id = 0; id < 8; ++id) put(id, 0xffffffffu);
  vx_id_map_clear(&map_, 3);
  for (std::size_t id = 0; id < 8; ++id) EXPECT_EQ(get(id), id == 3 ? 0u : 0xffffffffu) << id;
}

TEST_F(IdMapReadClearTest, ClearOutsideTheCapacityChangesNothing) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 8));
  for (std::size_t id = 0; id < 8; ++id) put(id, 7);
  void *items = map_.items;
  vx::heap_reset_count();
  vx_id_map_clear(&map_, 8);
  vx_id_map_clear(&map_, 1000);
  vx_id_map_clear(&map_, SIZE_MAX);
  EXPECT_EQ(vx::heap_request_count(), 0u);
  EXPECT_EQ(map_.items, items);
  EXPECT_EQ(map_.capacity, 8u);
  for (std::size_t id = 0; id < 8; ++id) EXPECT_EQ(get(id), 7u);
}

TEST_F(IdMapReadClearTest, ReadsAndClearsNeverAllocate) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 8));
  vx::heap_reset_count();
  for (std::size_t id = 0; id < 20; ++id) {
    vx_id_map_read(&map_, id);
    vx_id_map_clear(&map_, id);
  }
  EXPECT_EQ(vx::heap_request_count(), 0u);
}

// ---------------------------------------------------------------------------
// Growth on write

using IdMapGrowthTest = IdMapTest;

TEST_F(IdMapGrowthTest, WriteInsideTheCapacityDoesNotGrow) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  void *items = map_.items;
  vx::heap_reset_count();
  EXPECT_EQ(vx_id_map_write(&map_, 63), static_cast<unsigned char *>(items) + 63 * 4);
  EXPECT_EQ(vx::heap_request_count(), 0u);
  EXPECT_EQ(map_.capacity, 64u);
}

TEST_F(IdMapGrowthTest, WriteJustPastTheCapacityDoubles) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  for (std::size_t id = 0; id < 64; ++id) put(id, static_cast<std::uint32_t>(id * 3 + 1));
  void *item = vx_id_map_write(&map_, 64);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(map_.capacity, 128u);
  EXPECT_EQ(map_.item_size, 4u);
  EXPECT_EQ(item, static_cast<unsigned char *>(map_.items) + 64 * 4);
  for (std::size_t id = 0; id < 64; ++id) EXPECT_EQ(get(id), id * 3 + 1) << id;
  for (std::size_t id = 64; id < 128; ++id) EXPECT_EQ(get(id), 0u) << id;
  EXPECT_EQ(vx_id_map_read(&map_, 128), nullptr);
}

TEST_F(IdMapGrowthTest, WriteFarPastTheCapacityGrowsToIdPlusOne) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  put(10, 99);
  ASSERT_NE(vx_id_map_write(&map_, 1000), nullptr);
  EXPECT_EQ(map_.capacity, 1001u);
  EXPECT_EQ(get(10), 99u);
  EXPECT_TRUE(all_zero(static_cast<unsigned char *>(map_.items) + 64 * 4, (1001 - 64) * 4));
}

TEST_F(IdMapGrowthTest, GrowthDoublesOrReachesTheIdPlusOne) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  ASSERT_NE(vx_id_map_write(&map_, 63), nullptr);
  EXPECT_EQ(map_.capacity, 64u);
  ASSERT_NE(vx_id_map_write(&map_, 200), nullptr);
  EXPECT_EQ(map_.capacity, 201u);
  ASSERT_NE(vx_id_map_write(&map_, 201), nullptr);
  EXPECT_EQ(map_.capacity, 402u);
  ASSERT_NE(vx_id_map_write(&map_, 803), nullptr);
  EXPECT_EQ(map_.capacity, 804u);  // 803 < 2 * 402
}

TEST_F(IdMapGrowthTest, IdEqualToTwiceTheCapacityGrowsToIdPlusOne) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  ASSERT_NE(vx_id_map_write(&map_, 128), nullptr);
  EXPECT_EQ(map_.capacity, 129u);
}

TEST_F(IdMapGrowthTest, OddItemSizesKeepTheirBytes) {
  constexpr std::size_t kSize = 13;
  ASSERT_TRUE(vx_id_map_init(&map_, kSize, 3));
  for (std::size_t id = 0; id < 3; ++id) {
    std::memset(vx_id_map_write(&map_, id), static_cast<int>(0x41 + id), kSize);
  }
  unsigned char *item = static_cast<unsigned char *>(vx_id_map_write(&map_, 3));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(map_.capacity, 6u);
  for (std::size_t id = 0; id < 3; ++id) {
    const auto *bytes = static_cast<const unsigned char *>(vx_id_map_read(&map_, id));
    for (std::size_t i = 0; i < kSize; ++i) ASSERT_EQ(bytes[i], 0x41 + id);
  }
  EXPECT_TRUE(all_zero(item, 3 * kSize));
}

TEST_F(IdMapGrowthTest, ManyGrowthsKeepEveryItem) {
  ASSERT_TRUE(vx_id_map_init(&map_, sizeof(std::uint32_t), 1));
  for (std::size_t id = 0; id < 5000; id += 7) put(id, static_cast<std::uint32_t>(id ^ 0x5a5a));
  for (std::size_t id = 0; id < map_.capacity; ++id) {
    EXPECT_EQ(get(id), id % 7 == 0 && id < 5000 ? (id ^ 0x5a5a) : 0u) << id;
  }
}

TEST_F(IdMapGrowthTest, ExhaustedHeapLeavesTheMapUnchanged) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  put(3, 33);
  void *items = map_.items;
  vx::heap_fail_nth(1);
  EXPECT_EQ(vx_id_map_write(&map_, 64), nullptr);
  EXPECT_EQ(map_.items, items);
  EXPECT_EQ(map_.capacity, 64u);
  EXPECT_EQ(map_.item_size, 4u);
  EXPECT_EQ(get(3), 33u);
  // The map still works and grows later.
  ASSERT_NE(vx_id_map_write(&map_, 64), nullptr);
  EXPECT_EQ(map_.capacity, 128u);
  EXPECT_EQ(get(3), 33u);
}

TEST_F(IdMapGrowthTest, IdPlusOneOverflowFailsWithoutHeapRequest) {
  // id + 1 overflows: refused before the heap is asked.
  ASSERT_TRUE(vx_id_map_init(&map_, 1, 64));
  void *items = map_.items;
  vx::heap_reset_count();
  EXPECT_EQ(vx_id_map_write(&map_, SIZE_MAX), nullptr);
  EXPECT_EQ(vx::heap_request_count(), 0u);
  EXPECT_EQ(map_.items, items);
  EXPECT_EQ(map_.capacity, 64u);
}

TEST_F(IdMapGrowthTest, ByteSizeOverflowFailsWithoutHeapRequest) {
  // (2^60) * 16 does not fit a 64-bit size_t.
  ASSERT_TRUE(vx_id_map_init(&map_, 16, 64));
  put(1, 11);
  void *items = map_.items;
  vx::heap_reset_count();
  EXPECT_EQ(vx_id_map_write(&map_, SIZE_MAX / 16), nullptr);
  EXPECT_EQ(vx_id_map_write(&map_, SIZE_MAX / 2), nullptr);
  EXPECT_EQ(vx_id_map_write(&map_, SIZE_MAX - 1), nullptr);
  EXPECT_EQ(vx::heap_request_count(), 0u);
  EXPECT_EQ(map_.items, items);
  EXPECT_EQ(map_.capacity, 64u);
  EXPECT_EQ(get(1), 11u);
}

TEST_F(IdMapGrowthTest, LargestFittingSizeReachesTheHeap) {
  // (2^60 - 1) * 16 fits a size_t: the request goes to the heap, which fails.
  ASSERT_TRUE(vx_id_map_init(&map_, 16, 64));
  vx::heap_reset_count();
  vx::heap_fail_nth(1);  // no real attempt at an exabyte
  EXPECT_EQ(vx_id_map_write(&map_, SIZE_MAX / 16 - 1), nullptr);
  EXPECT_EQ(vx::heap_request_count(), 1u);
  EXPECT_EQ(map_.capacity, 64u);
}

// ---------------------------------------------------------------------------
// Cleanup

using IdMapCleanupTest = IdMapTest;

TEST_F(IdMapCleanupTest, CleanupEmptiesTheRecord) {
  ASSERT_TRUE(vx_id_map_init(&map_, 4, 64));
  put(7, 1);
  vx_id_map_cleanup(&map_);
  EXPECT_EQ(map_.items, nullptr);
  EXPECT_EQ(map_.item_size, 0u);
  EXPECT_EQ(map_.capacity, 0u);
  for (std::size_t id : {std::size_t{0}, std::size_t{7}, std::size_t{63}, SIZE_MAX}) {
    EXPECT_EQ(vx_id_map_read(&map_, id), nullptr);
  }
  vx_id_map_clear(&map_, 0);  // no effect
}

TEST_F(IdMapCleanupTest, CleanupOfAnEmptyRecordAndReinitialisation) {
  vx_id_map_cleanup(&map_);  // null items allowed
  vx_id_map_cleanup(&map_);
  ASSERT_TRUE(vx_id_map_init(&map_, 8, 2));
  EXPECT_EQ(map_.capacity, 2u);
  EXPECT_TRUE(all_zero(map_.items, 16));
}

}  // namespace
