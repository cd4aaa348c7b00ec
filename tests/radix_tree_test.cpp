// Tests of the event name index: node layout for the documented
// examples, the three insert cases, lookups, unsigned edge order, a
// randomized comparison against std::map, and allocation failures.
#include "lib/buffer/radix_tree.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lib/heap.h"

namespace {

#ifdef _WIN32
// The C runtime's name for the usable size of a heap block.
size_t malloc_usable_size(void *block) {
  return _msize(block);
}
#endif

const unsigned char *bytes_of(const std::string &key) {
  return reinterpret_cast<const unsigned char *>(key.data());
}

void *tag(uintptr_t n) {
  return reinterpret_cast<void *>(n * 16 + 8);
}

int insert(vx_radix_tree *tree, const std::string &key, void *value, void **old = nullptr) {
  return vx_radix_tree_insert(tree, bytes_of(key), key.size(), value, old);
}

void *find(vx_radix_tree *tree, const std::string &key) {
  return vx_radix_tree_find(tree, bytes_of(key), key.size());
}

std::string node_bytes(const vx_radix_node *node) {
  return std::string(reinterpret_cast<const char *>(vx_radix_node_bytes(node)),
                     vx_radix_node_size(node));
}

uint32_t raw_header(const vx_radix_node *node) {
  uint32_t header;
  std::memcpy(&header, node, sizeof header);
  return header;
}

// Child pointer i read straight from the node's bytes by the layout.
vx_radix_node *raw_child(const vx_radix_node *node, size_t index) {
  vx_radix_node *child;
  std::memcpy(&child,
              reinterpret_cast<const unsigned char *>(node) + 4 + vx_radix_node_size(node) +
                  sizeof(void *) * index,
              sizeof child);
  return child;
}

struct TreeDeleter {
  void operator()(vx_radix_tree *tree) const { vx_radix_tree_free(tree); }
};
using Tree = std::unique_ptr<vx_radix_tree, TreeDeleter>;

Tree new_tree() {
  vx::heap_fail_nth(0);
  Tree tree(vx_radix_tree_new());
  EXPECT_NE(tree, nullptr);
  return tree;
}

// Walks the whole tree (without recursion), checks the structural invariants
// and returns every stored key with its value.
std::map<std::string, void *> check_tree(const vx_radix_tree *tree) {
  std::map<std::string, void *> keys;
  uint64_t nodes = 0;
  std::vector<std::pair<const vx_radix_node *, std::string>> pending{{tree->head, ""}};
  while (!pending.empty()) {
    auto [node, path] = pending.back();
    pending.pop_back();
    ++nodes;
    size_t size = vx_radix_node_size(node);
    bool compressed = vx_radix_node_is_compressed(node);
    bool key = vx_radix_node_is_key(node);
    bool null = vx_radix_node_is_null(node);
    uint32_t header = raw_header(node);
    EXPECT_EQ(header, vx_radix_node_header(node));
    EXPECT_EQ(header >> 3, size);
    EXPECT_EQ(header & 7u, (key ? 1u : 0u) | (null ? 2u : 0u) | (compressed ? 4u : 0u));
    EXPECT_EQ(header & ~7u & ~(((1u << 29) - 1) << 3), 0u);
    if (null) {
      EXPECT_TRUE(key) << "is_null without is_key at '" << path << "'";
    }
    if (compressed) {
      EXPECT_GE(size, 2u) << "compressed node of fewer than 2 bytes";
    }
    size_t children = compressed ? 1 : size;
    EXPECT_EQ(vx_radix_node_child_count(node), children);
    size_t length = 4 + size + sizeof(void *) * children + (key && !null ? sizeof(void *) : 0);
    EXPECT_EQ(vx_radix_node_length(node), length);
    EXPECT_GE(malloc_usable_size(const_cast<vx_radix_node *>(node)), length);
    if (key) {
      void *value = vx_radix_node_value(node);
      if (null) {
        EXPECT_EQ(value, nullptr);
      }
      keys[path] = value;
    } else if (children == 0) {
      EXPECT_EQ(node, tree->head) << "leaf that is not a key at '" << path << "'";
    }
    std::string edges = node_bytes(node);
    if (!compressed) {
      for (size_t k = 1; k < size; ++k) {
        EXPECT_LT(static_cast<unsigned char>(edges[k - 1]), static_cast<unsigned char>(edges[k]))
            << "edges out of order at '" << path << "'";
      }
    }
    for (size_t k = 0; k < children; ++k) {
      vx_radix_node *child = vx_radix_node_child(node, k);
      EXPECT_EQ(child, raw_child(node, k));
      EXPECT_NE(child, nullptr);
      if (child == nullptr) continue;
      pending.emplace_back(child, compressed ? path + edges : path + edges[k]);
    }
  }
  EXPECT_EQ(nodes, tree->node_count);
  EXPECT_EQ(keys.size(), tree->element_count);
  return keys;
}

const std::string kFlush = "/velocast/audio_flush";
const std::string kConfig = "/velocast/audio_config_changed";

TEST(RadixTree, NewTreeIsOneEmptyHead) {
  Tree tree = new_tree();
  EXPECT_EQ(tree->element_count, 0u);
  EXPECT_EQ(tree->node_count, 1u);
  ASSERT_NE(tree->head, nullptr);
  EXPECT_EQ(raw_header(tree->head), 0u);
  EXPECT_EQ(find(tree.get(), ""), vx_radix_tree_not_found);
  EXPECT_EQ(find(tree.get(), "/velocast"), vx_radix_tree_not_found);
  check_tree(tree.get());
}

TEST(RadixTree, NewFailsCleanlyWhenRecordOrHeadCannotBeAllocated) {
  vx::heap_fail_nth(1);
  EXPECT_EQ(vx_radix_tree_new(), nullptr);
  vx::heap_fail_nth(2);
  EXPECT_EQ(vx_radix_tree_new(), nullptr);  // the record is freed (checked by LSan)
  vx::heap_fail_nth(0);
}

TEST(RadixTree, NotFoundSentinelIsAFixedNonNullAddress) {
  EXPECT_NE(vx_radix_tree_not_found, nullptr);
  Tree tree = new_tree();
  EXPECT_EQ(find(tree.get(), "x"), vx_radix_tree_not_found);
}

TEST(RadixTree, FirstKeyCompressesTheHeadByteForByte) {
  Tree tree = new_tree();
  void *value = tag(1);
  EXPECT_EQ(insert(tree.get(), kFlush, value), 1);
  EXPECT_EQ(tree->node_count, 2u);
  EXPECT_EQ(tree->element_count, 1u);

  const vx_radix_node *head = tree->head;
  // Header: size 21, is_compressed, not a key.
  EXPECT_EQ(raw_header(head), (21u << 3) | 4u);
  const unsigned char *raw = reinterpret_cast<const unsigned char *>(head);
  EXPECT_EQ(std::memcmp(raw + 4, kFlush.data(), 21), 0);
  EXPECT_EQ(vx_radix_node_length(head), 4u + 21u + sizeof(void *));
  EXPECT_EQ(malloc_usable_size(const_cast<vx_radix_node *>(head)) >= 4 + 21 + sizeof(void *), true);

  vx_radix_node *leaf = raw_child(head, 0);
  // Leaf: size 0, is_key, value slot right after the header.
  EXPECT_EQ(raw_header(leaf), 1u);
  void *stored;
  std::memcpy(&stored, reinterpret_cast<unsigned char *>(leaf) + 4, sizeof stored);
  EXPECT_EQ(stored, value);
  EXPECT_EQ(vx_radix_node_length(leaf), 4u + sizeof(void *));

  EXPECT_EQ(find(tree.get(), kFlush), value);
  check_tree(tree.get());
}

TEST(RadixTree, ReplaceReturnsOldValueAndClearsErrno) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), kFlush, tag(1)), 1);
  void *old = tag(99);
  errno = EINVAL;
  EXPECT_EQ(insert(tree.get(), kFlush, tag(2), &old), 0);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(old, tag(1));
  EXPECT_EQ(find(tree.get(), kFlush), tag(2));
  EXPECT_EQ(tree->element_count, 1u);
  EXPECT_EQ(tree->node_count, 2u);
  // old may be omitted.
  errno = EINVAL;
  EXPECT_EQ(insert(tree.get(), kFlush, tag(3), nullptr), 0);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(find(tree.get(), kFlush), tag(3));
  check_tree(tree.get());
}

TEST(RadixTree, SplitAfterAudioUnderscoreIsCase2WithJ16) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), kFlush, tag(1)), 1);
  ASSERT_EQ(insert(tree.get(), kConfig, tag(2)), 1);
  EXPECT_EQ(tree->element_count, 2u);
  // trimmed, split, "onfig_changed" run, its leaf, "lush" postfix, its leaf.
  EXPECT_EQ(tree->node_count, 6u);

  const vx_radix_node *trimmed = tree->head;
  EXPECT_EQ(raw_header(trimmed), (16u << 3) | 4u);
  EXPECT_EQ(node_bytes(trimmed), "/velocast/audio_");

  const vx_radix_node *split = raw_child(trimmed, 0);
  EXPECT_EQ(raw_header(split), 2u << 3);  // uncompressed, not a key
  EXPECT_EQ(node_bytes(split), "cf");

  const vx_radix_node *config_run = raw_child(split, 0);
  EXPECT_EQ(raw_header(config_run), (13u << 3) | 4u);
  EXPECT_EQ(node_bytes(config_run), "onfig_changed");
  const vx_radix_node *config_leaf = raw_child(config_run, 0);
  EXPECT_EQ(raw_header(config_leaf), 1u);
  EXPECT_EQ(vx_radix_node_value(config_leaf), tag(2));

  const vx_radix_node *postfix = raw_child(split, 1);
  EXPECT_EQ(raw_header(postfix), (4u << 3) | 4u);
  EXPECT_EQ(node_bytes(postfix), "lush");
  const vx_radix_node *flush_leaf = raw_child(postfix, 0);
  EXPECT_EQ(raw_header(flush_leaf), 1u);
  EXPECT_EQ(vx_radix_node_value(flush_leaf), tag(1));

  EXPECT_EQ(find(tree.get(), kFlush), tag(1));
  EXPECT_EQ(find(tree.get(), kConfig), tag(2));
  EXPECT_EQ(find(tree.get(), "/velocast/audio_"), vx_radix_tree_not_found);
  EXPECT_EQ(find(tree.get(), "/velocast/audio_c"), vx_radix_tree_not_found);
  EXPECT_EQ(find(tree.get(), "/velocast/audio_fl"), vx_radix_tree_not_found);
  check_tree(tree.get());
}

TEST(RadixTree, KeyEndingInsideARunIsCase3) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), kFlush, tag(1)), 1);
  ASSERT_EQ(insert(tree.get(), "/velocast/audio", tag(2)), 1);
  EXPECT_EQ(tree->element_count, 2u);
  EXPECT_EQ(tree->node_count, 3u);

  const vx_radix_node *trimmed = tree->head;
  EXPECT_EQ(raw_header(trimmed), (15u << 3) | 4u);
  EXPECT_EQ(node_bytes(trimmed), "/velocast/audio");
  const vx_radix_node *postfix = raw_child(trimmed, 0);
  EXPECT_EQ(raw_header(postfix), (6u << 3) | 4u | 1u);
  EXPECT_EQ(node_bytes(postfix), "_flush");
  EXPECT_EQ(vx_radix_node_value(postfix), tag(2));
  // Value slot is last, after the single child pointer.
  void *slot;
  std::memcpy(&slot, reinterpret_cast<const unsigned char *>(postfix) + 4 + 6 + sizeof(void *),
              sizeof slot);
  EXPECT_EQ(slot, tag(2));
  const vx_radix_node *leaf = raw_child(postfix, 0);
  EXPECT_EQ(vx_radix_node_value(leaf), tag(1));

  EXPECT_EQ(find(tree.get(), kFlush), tag(1));
  EXPECT_EQ(find(tree.get(), "/velocast/audio"), tag(2));
  EXPECT_EQ(find(tree.get(), "/velocast/audi"), vx_radix_tree_not_found);
  EXPECT_EQ(find(tree.get(), "/velocast/audio_"), vx_radix_tree_not_found);
  check_tree(tree.get());
}

TEST(RadixTree, Case3WithOneByteOnEachSideUsesPlainNodes) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), "ab", tag(1)), 1);
  ASSERT_EQ(insert(tree.get(), "a", nullptr), 1);
  const vx_radix_node *trimmed = tree->head;
  EXPECT_EQ(raw_header(trimmed), 1u << 3);
  EXPECT_EQ(node_bytes(trimmed), "a");
  const vx_radix_node *postfix = raw_child(trimmed, 0);
  EXPECT_EQ(raw_header(postfix), (1u << 3) | 1u | 2u);  // key, null, not compressed
  EXPECT_EQ(vx_radix_node_length(postfix), 4u + 1u + sizeof(void *));
  EXPECT_EQ(find(tree.get(), "a"), nullptr);
  EXPECT_EQ(find(tree.get(), "ab"), tag(1));
  check_tree(tree.get());
}

TEST(RadixTree, Case3KeepsTheTrimmedNodesKeyState) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), "", tag(7)), 1);
  ASSERT_EQ(insert(tree.get(), "abcdef", tag(1)), 1);
  ASSERT_EQ(insert(tree.get(), "abc", tag(2)), 1);
  const vx_radix_node *head = tree->head;
  EXPECT_EQ(raw_header(head), (3u << 3) | 4u | 1u);
  EXPECT_EQ(node_bytes(head), "abc");
  EXPECT_EQ(vx_radix_node_value(head), tag(7));
  EXPECT_EQ(find(tree.get(), ""), tag(7));
  EXPECT_EQ(find(tree.get(), "abc"), tag(2));
  EXPECT_EQ(find(tree.get(), "abcdef"), tag(1));
  check_tree(tree.get());
}

TEST(RadixTree, Case2AtTheFirstByteMovesTheKeyStateToTheSplitNode) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), "", tag(7)), 1);
  ASSERT_EQ(insert(tree.get(), "mno", tag(1)), 1);
  ASSERT_EQ(insert(tree.get(), "xyz", tag(2)), 1);
  const vx_radix_node *head = tree->head;
  EXPECT_EQ(raw_header(head), (2u << 3) | 1u);
  EXPECT_EQ(node_bytes(head), "mx");
  EXPECT_EQ(vx_radix_node_value(head), tag(7));
  EXPECT_EQ(node_bytes(raw_child(head, 0)), "no");
  EXPECT_EQ(node_bytes(raw_child(head, 1)), "yz");
  EXPECT_EQ(tree->node_count, 5u);
  EXPECT_EQ(find(tree.get(), ""), tag(7));
  EXPECT_EQ(find(tree.get(), "mno"), tag(1));
  EXPECT_EQ(find(tree.get(), "xyz"), tag(2));
  check_tree(tree.get());
}

TEST(RadixTree, Case2WithoutTailReusesTheOldChild) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), "ab", tag(1)), 1);
  const vx_radix_node *old_leaf = raw_child(tree->head, 0);
  ASSERT_EQ(insert(tree.get(), "ac", tag(2)), 1);
  EXPECT_EQ(tree->node_count, 4u);
  const vx_radix_node *trimmed = tree->head;
  EXPECT_EQ(raw_header(trimmed), 1u << 3);
  EXPECT_EQ(node_bytes(trimmed), "a");
  const vx_radix_node *split = raw_child(trimmed, 0);
  EXPECT_EQ(node_bytes(split), "bc");
  EXPECT_EQ(raw_child(split, 0), old_leaf);
  EXPECT_EQ(vx_radix_node_value(raw_child(split, 1)), tag(2));
  check_tree(tree.get());
}

TEST(RadixTree, NullValuesAreDistinctFromTheSentinel) {
  Tree tree = new_tree();
  EXPECT_EQ(insert(tree.get(), "null", nullptr), 1);
  EXPECT_EQ(find(tree.get(), "null"), nullptr);
  EXPECT_NE(find(tree.get(), "null"), vx_radix_tree_not_found);
  const vx_radix_node *leaf = raw_child(tree->head, 0);
  EXPECT_EQ(raw_header(leaf), 3u);  // is_key | is_null, no value slot
  EXPECT_EQ(vx_radix_node_length(leaf), 4u);

  void *old = tag(5);
  EXPECT_EQ(insert(tree.get(), "null", tag(1), &old), 0);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(old, nullptr);
  EXPECT_EQ(find(tree.get(), "null"), tag(1));
  leaf = raw_child(tree->head, 0);
  EXPECT_EQ(raw_header(leaf), 1u);

  EXPECT_EQ(insert(tree.get(), "null", nullptr, &old), 0);
  EXPECT_EQ(old, tag(1));
  EXPECT_EQ(find(tree.get(), "null"), nullptr);
  leaf = raw_child(tree->head, 0);
  EXPECT_EQ(raw_header(leaf), 3u);
  EXPECT_EQ(insert(tree.get(), "null", tag(2), &old), 0);
  EXPECT_EQ(old, nullptr);
  EXPECT_EQ(find(tree.get(), "null"), tag(2));
  EXPECT_EQ(tree->element_count, 1u);
  check_tree(tree.get());
}

TEST(RadixTree, PrefixesAndExtensionsOfStoredKeysAreAbsent) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), "/velocast/video_frame", tag(1)), 1);
  ASSERT_EQ(insert(tree.get(), "/velocast/video_sink", tag(2)), 1);
  for (const char *absent : {"", "/", "/velocast", "/velocast/video_", "/velocast/video_f",
                             "/velocast/video_frame_", "/velocast/video_framex",
                             "/velocast/video_sinks", "/velocast/video_s", "/velocast/vide0"}) {
    EXPECT_EQ(find(tree.get(), absent), vx_radix_tree_not_found) << absent;
  }
  EXPECT_EQ(find(tree.get(), "/velocast/video_frame"), tag(1));
  EXPECT_EQ(find(tree.get(), "/velocast/video_sink"), tag(2));
}

TEST(RadixTree, EmptyKeyIsTheHead) {
  Tree tree = new_tree();
  EXPECT_EQ(insert(tree.get(), "", tag(1)), 1);
  EXPECT_EQ(raw_header(tree->head), 1u);
  EXPECT_EQ(find(tree.get(), ""), tag(1));
  EXPECT_EQ(tree->node_count, 1u);
  ASSERT_EQ(insert(tree.get(), "a", tag(2)), 1);
  EXPECT_EQ(find(tree.get(), ""), tag(1));
  EXPECT_EQ(find(tree.get(), "a"), tag(2));
  check_tree(tree.get());
}

TEST(RadixTree, EdgeBytesSortAsUnsigned) {
  Tree tree = new_tree();
  const unsigned char order[] = {0x80, 0x01, 0xff, 0x7f, 0x00, 0x81, 0x41, 0xfe};
  uintptr_t n = 1;
  for (unsigned char b : order) {
    std::string key = "k";
    key += static_cast<char>(b);
    ASSERT_EQ(insert(tree.get(), key, tag(n++)), 1);
  }
  const vx_radix_node *node = tree->head;
  EXPECT_EQ(node_bytes(node), "k");
  node = raw_child(node, 0);
  std::string edges = node_bytes(node);
  ASSERT_EQ(edges, std::string("\x00\x01\x41\x7f\x80\x81\xfe\xff", 8));
  n = 1;
  for (unsigned char b : order) {
    std::string key = "k";
    key += static_cast<char>(b);
    EXPECT_EQ(find(tree.get(), key), tag(n++));
    size_t index = edges.find(static_cast<char>(b));
    EXPECT_EQ(vx_radix_node_value(raw_child(node, index)), find(tree.get(), key));
  }
  check_tree(tree.get());
}

TEST(RadixTree, GrowingAKeyNodeKeepsItsValueLast) {
  Tree tree = new_tree();
  ASSERT_EQ(insert(tree.get(), "x", tag(100)), 1);
  const std::string tails = "dbfaecg";
  uintptr_t n = 1;
  for (char c : tails) ASSERT_EQ(insert(tree.get(), std::string("x") + c, tag(n++)), 1);
  const vx_radix_node *node = raw_child(tree->head, 0);
  EXPECT_EQ(raw_header(node), (7u << 3) | 1u);
  EXPECT_EQ(node_bytes(node), "abcdefg");
  void *slot;
  std::memcpy(&slot, reinterpret_cast<const unsigned char *>(node) + 4 + 7 + 7 * sizeof(void *),
              sizeof slot);
  EXPECT_EQ(slot, tag(100));
  n = 1;
  for (char c : tails) EXPECT_EQ(find(tree.get(), std::string("x") + c), tag(n++));
  EXPECT_EQ(find(tree.get(), "x"), tag(100));
  check_tree(tree.get());
}

TEST(RadixTree, LongKeysAreOneCompressedRun) {
  Tree tree = new_tree();
  std::string key(100000, 'q');
  for (size_t k = 0; k < key.size(); k += 7) key[k] = static_cast<char>(k * 31);
  ASSERT_EQ(insert(tree.get(), key, tag(1)), 1);
  EXPECT_EQ(tree->node_count, 2u);
  EXPECT_EQ(vx_radix_node_size(tree->head), key.size());
  EXPECT_EQ(find(tree.get(), key), tag(1));
  std::string other = key;
  other[50000] ^= 1;
  ASSERT_EQ(insert(tree.get(), other, tag(2)), 1);
  EXPECT_EQ(find(tree.get(), key), tag(1));
  EXPECT_EQ(find(tree.get(), other), tag(2));
  EXPECT_EQ(find(tree.get(), key.substr(0, 50000)), vx_radix_tree_not_found);
  check_tree(tree.get());
}

std::string random_key(std::mt19937 &rng) {
  static const unsigned char alphabet[] = {'/', 'a', 'b', 'c', '_', 0x00, 0x7f, 0x80, 0xff};
  std::uniform_int_distribution<int> length(0, 10);
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 1);
  std::string key;
  int n = length(rng);
  for (int k = 0; k < n; ++k) key += static_cast<char>(alphabet[pick(rng)]);
  return key;
}

TEST(RadixTree, RandomizedAgainstStdMap) {
  for (unsigned round = 1; round <= 20; ++round) {
    std::mt19937 rng(round);
    Tree tree = new_tree();
    std::map<std::string, void *> model;
    std::uniform_int_distribution<int> coin(0, 9);
    for (uintptr_t step = 1; step <= 600; ++step) {
      std::string key = random_key(rng);
      void *value = coin(rng) == 0 ? nullptr : tag(step);
      void *old = tag(0);
      int result = insert(tree.get(), key, value, &old);
      auto it = model.find(key);
      if (it == model.end()) {
        ASSERT_EQ(result, 1) << "round " << round << " step " << step;
      } else {
        ASSERT_EQ(result, 0);
        ASSERT_EQ(errno, 0);
        ASSERT_EQ(old, it->second);
      }
      model[key] = value;
      ASSERT_EQ(tree->element_count, model.size());
      std::string probe = random_key(rng);
      auto probe_it = model.find(probe);
      ASSERT_EQ(find(tree.get(), probe),
                probe_it == model.end() ? vx_radix_tree_not_found : probe_it->second);
    }
    for (const auto &[key, value] : model) ASSERT_EQ(find(tree.get(), key), value);
    ASSERT_EQ(check_tree(tree.get()), model) << "round " << round;
  }
}

// Keys that, inserted in this order, take every path of insert: the
// extension loop from the empty head, case 2 with and without trimmed and
// postfix nodes, case 3, case 1 on a null key and on a non-key node, edges
// added to key nodes with value slots.
const std::vector<std::pair<std::string, void *>> kScript = {
    {"/velocast/audio_flush", tag(1)},
    {"/velocast/audio_config_changed", tag(2)},
    {"/velocast/audio", tag(3)},
    {"/velocast/audio_fluss", nullptr},
    {"/velocast/audio_c", tag(5)},
    {"/velocast/audio_d", tag(6)},
    {"/velocast/video", tag(7)},
    {"", tag(8)},
    {"x", tag(9)},
    {"/velocast/audio_", tag(10)},
    {"/velocast/audio_fluss", tag(11)},
    {"/velocast/audio_cx", tag(12)},
    {"/velocast/audio_config_changed!", tag(13)},
    {"/velocast/audio_b", nullptr},
    {"/", tag(15)},
    {"/velocast/audio_flush", tag(16)},
};

// Fails the f-th heap request of insert number m (after m clean inserts)
// for every f until the insert no longer reaches its f-th request.
TEST(RadixTree, EveryFailedInsertLeavesEarlierKeysFindable) {
  size_t failures_seen = 0;
  for (size_t m = 0; m < kScript.size(); ++m) {
    for (unsigned long f = 1;; ++f) {
      Tree tree = new_tree();
      std::map<std::string, void *> model;
      for (size_t k = 0; k < m; ++k) {
        insert(tree.get(), kScript[k].first, kScript[k].second);
        model[kScript[k].first] = kScript[k].second;
      }
      uint64_t elements_before = tree->element_count;
      vx::heap_reset_count();
      vx::heap_fail_nth(f);
      errno = 0;
      const auto &[key, value] = kScript[m];
      void *old = tag(77);
      int result = insert(tree.get(), key, value, &old);
      int saved_errno = errno;
      unsigned long requests = vx::heap_request_count();
      vx::heap_fail_nth(0);
      if (requests < f) {
        // The insert finished before the armed request: it succeeded.
        if (model.count(key) != 0) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(saved_errno, 0);
          EXPECT_EQ(old, model[key]);
        } else {
          EXPECT_EQ(result, 1);
        }
        model[key] = value;
        EXPECT_EQ(check_tree(tree.get()), model);
        break;
      }
      ++failures_seen;
      ASSERT_EQ(result, 0) << "insert " << m << " failing request " << f;
      ASSERT_EQ(saved_errno, ENOMEM);
      // Every earlier key keeps its value; anything else that appeared is a
      // null key on the way to the failed key.
      std::map<std::string, void *> stored = check_tree(tree.get());
      for (const auto &[earlier, earlier_value] : model) {
        EXPECT_EQ(find(tree.get(), earlier), earlier_value) << earlier;
        EXPECT_EQ(stored.count(earlier), 1u);
      }
      for (const auto &[extra, extra_value] : stored) {
        if (model.count(extra) != 0) continue;
        EXPECT_EQ(extra_value, nullptr) << extra;
        EXPECT_EQ(key.compare(0, extra.size(), extra), 0) << "'" << extra << "' is no prefix";
      }
      EXPECT_EQ(tree->element_count, elements_before + (stored.size() - model.size()));
      // A later insert of the same key completes it.
      void *again_old = tag(78);
      int again = insert(tree.get(), key, value, &again_old);
      if (stored.count(key) != 0 && model.count(key) == 0) {
        EXPECT_EQ(again, 0);
        EXPECT_EQ(again_old, nullptr);
      }
      model[key] = value;
      EXPECT_EQ(find(tree.get(), key), value);
      for (const auto &[k2, v2] : model) EXPECT_EQ(find(tree.get(), k2), v2);
    }
  }
  EXPECT_GT(failures_seen, kScript.size());
}

TEST(RadixTree, PeriodicAllocationFailuresKeepTheTreeConsistent) {
  for (unsigned long period = 2; period <= 7; ++period) {
    std::mt19937 rng(static_cast<unsigned>(period));
    Tree tree = new_tree();
    std::map<std::string, void *> model;  // keys whose insert succeeded, and null leftovers
    size_t failed = 0;
    for (uintptr_t step = 1; step <= 400; ++step) {
      std::string key = random_key(rng);
      void *value = tag(step);
      vx::heap_fail_nth(1 + step % period);
      int result = insert(tree.get(), key, value);
      int saved_errno = errno;
      vx::heap_fail_nth(0);
      if (result == 1 || (result == 0 && saved_errno == 0)) {
        model[key] = value;
        continue;
      }
      ASSERT_EQ(saved_errno, ENOMEM);
      ++failed;
      std::map<std::string, void *> stored = check_tree(tree.get());
      for (const auto &[earlier, earlier_value] : model) {
        ASSERT_EQ(find(tree.get(), earlier), earlier_value) << earlier;
      }
      for (const auto &[extra, extra_value] : stored) {
        if (model.count(extra) != 0) continue;
        ASSERT_EQ(extra_value, nullptr);
        ASSERT_EQ(key.compare(0, extra.size(), extra), 0);
        model[extra] = nullptr;
      }
    }
    EXPECT_GT(failed, 0u);
    EXPECT_EQ(check_tree(tree.get()), model);
  }
}

// A chain of single-byte nodes, one per key: depth grows with the keys.
Tree deep_tree(size_t depth) {
  Tree tree = new_tree();
  std::string key;
  for (size_t k = 0; k < depth; ++k) {
    key += static_cast<char>('a' + k % 3);
    EXPECT_EQ(insert(tree.get(), key, tag(k + 1)), 1);
  }
  EXPECT_EQ(tree->node_count, depth + 1);
  return tree;
}

TEST(RadixTree, FreeHandlesDeepTrees) {
  Tree tree = deep_tree(5000);
  check_tree(tree.get());
  tree.reset();  // would overflow a recursive free's stack only at far greater depth; checked by
                 // ASan
}

TEST(RadixTree, FreeWithoutStackMemoryStillFreesEverything) {
  // Fail the stack's first allocation, then each of its first growths; LSan
  // reports any node left behind.
  for (unsigned long f = 1; f <= 4; ++f) {
    Tree tree = deep_tree(600);
    ASSERT_EQ(insert(tree.get(), "abcabd", tag(5000)), 1);
    ASSERT_EQ(insert(tree.get(), "b", tag(5001)), 1);
    vx::heap_fail_nth(f);
    tree.reset();
    vx::heap_fail_nth(0);
  }
  std::mt19937 rng(9);
  Tree wide = new_tree();
  for (int k = 0; k < 2000; ++k) insert(wide.get(), random_key(rng), tag(k + 1));
  vx::heap_fail_nth(1);
  wide.reset();
  vx::heap_fail_nth(0);
}

}  // namespace
