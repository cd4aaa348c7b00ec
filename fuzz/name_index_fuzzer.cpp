// Random inserts and finds on the event name index against a std::map, with
// heap requests failing at random points: a failed insert reports ENOMEM,
// every key stored before keeps its value, and the only keys a failure may
// leave behind are null-valued prefixes of the failed key.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz/fuzz_support.hpp"
#include "lib/buffer/radix_tree.h"
#include "lib/heap.h"

namespace {

using Model = std::map<std::string, void *>;

const unsigned char *bytes_of(const std::string &key) {
  return reinterpret_cast<const unsigned char *>(key.data());
}

void *find(vx_radix_tree *tree, const std::string &key) {
  return vx_radix_tree_find(tree, bytes_of(key), key.size());
}

void *expected_find(const Model &model, const std::string &key) {
  auto found = model.find(key);
  return found != model.end() ? found->second : vx_radix_tree_not_found;
}

// Keys from a small alphabet share prefixes and split each other's runs;
// the rest are arbitrary bytes.
std::string pick_key(FuzzedDataProvider *input) {
  std::string key = input->ConsumeRandomLengthString(40);
  if (input->ConsumeBool()) {
    for (char &c : key) c = "/_abc"[static_cast<unsigned char>(c) % 5];
  }
  return key;
}

// Distinct values, a null now and then (null values are stored as such).
void *pick_value(FuzzedDataProvider *input, uintptr_t step) {
  if (input->ConsumeIntegralInRange<int>(0, 7) == 0) return nullptr;
  return reinterpret_cast<void *>(step * 16 + 8);
}

// A failed insert may have stored some prefixes of its key as null keys on
// the way; they become part of the model.
void adopt_leftover_prefixes(vx_radix_tree *tree, const std::string &key, Model *model) {
  for (size_t length = 0; length <= key.size(); ++length) {
    const std::string prefix = key.substr(0, length);
    if (model->count(prefix) != 0) continue;
    void *value = find(tree, prefix);
    if (value == vx_radix_tree_not_found) continue;
    VX_FUZZ_CHECK(value == nullptr);
    (*model)[prefix] = nullptr;
  }
}

void insert(FuzzedDataProvider *input, vx_radix_tree *tree, Model *model, uintptr_t step) {
  const std::string key = pick_key(input);
  void *value = pick_value(input, step);
  const unsigned long fail_at = input->ConsumeIntegralInRange<unsigned long>(0, 6);
  void *old = reinterpret_cast<void *>(uintptr_t{4});
  vx::heap_fail_nth(fail_at);
  errno = 0;
  const int result = vx_radix_tree_insert(tree, bytes_of(key), key.size(), value, &old);
  const int saved_errno = errno;
  vx::heap_fail_nth(0);

  auto present = model->find(key);
  if (result == 1) {
    VX_FUZZ_CHECK(present == model->end());
    (*model)[key] = value;
  } else if (saved_errno == 0) {
    VX_FUZZ_CHECK(present != model->end());
    VX_FUZZ_CHECK(old == present->second);
    present->second = value;
  } else {
    VX_FUZZ_CHECK(saved_errno == ENOMEM);
    VX_FUZZ_CHECK(fail_at != 0);
    // A present key is replaced in place unless its node must grow a value
    // slot: only a null value that becomes non-null can fail.
    if (present != model->end()) VX_FUZZ_CHECK(present->second == nullptr && value != nullptr);
    adopt_leftover_prefixes(tree, key, model);
  }
  VX_FUZZ_CHECK(tree->element_count == model->size());
}

void check_every_key(vx_radix_tree *tree, const Model &model) {
  for (const auto &[key, value] : model) VX_FUZZ_CHECK(find(tree, key) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider input(data, size);
  vx::heap_fail_nth(0);
  vx_radix_tree *tree = vx_radix_tree_new();
  VX_FUZZ_CHECK(tree != nullptr);
  Model model;
  for (uintptr_t step = 1; input.remaining_bytes() != 0; ++step) {
    if (input.ConsumeIntegralInRange<int>(0, 2) != 0) {
      insert(&input, tree, &model, step);
    } else {
      const std::string probe = pick_key(&input);
      VX_FUZZ_CHECK(find(tree, probe) == expected_find(model, probe));
    }
  }
  check_every_key(tree, model);
  // Freeing must give back every node even when its own work space cannot
  // be allocated; the leak checker sees any node left over.
  vx::heap_fail_nth(size % 3);
  vx_radix_tree_free(tree);
  vx::heap_fail_nth(0);
  return 0;
}
