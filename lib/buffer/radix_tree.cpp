// The event name index: a compressed radix tree.
//
// Every node is one heap block, laid out without padding:
//
//   +--------+-------------+-------------------------+---------+
//   | header | size bytes  | child pointers          | [value] |
//   | u32    | b0 b1 ... bn| one, or one per byte    | void *  |
//   +--------+-------------+-------------------------+---------+
//
// The header holds the size (bytes) above three flags: key (a key ends here),
// null (the key's value is null, so there is no value slot) and compressed.
// A plain node's bytes are the first bytes of its edges, in unsigned order,
// one child each; a compressed node's bytes are a run that leads to its only
// child. "abc" and "abd" share one compressed node:
//
//   [c "ab"] -> [ "cd" ] -c-> [key, value A]
//                        -d-> [key, value B]
//
// Nothing after the header is aligned, so every pointer read and write inside
// a node goes through memcpy.
//
// An insert first walks from the head as far as the key matches, then meets
// one of four cases, each a function below:
//   at node    the key ends exactly at a node: mark it a key (insert_at_node);
//   inside     the key ends within a compressed run: cut the run in two at
//              that point, the second half the new key (insert_inside);
//   split      the key leaves a compressed run at some byte: cut the run
//              around that byte into a plain node with one edge, then extend
//              from it (insert_split);
//   extend     the key goes on below a node: grow a path of nodes for the
//              rest of the key (extend).
// A failed allocation leaves the tree valid and sets errno to ENOMEM.
#include "lib/buffer/radix_tree.h"

#include <cerrno>
#include <cstring>

#include "lib/heap.h"

namespace {

constexpr uint32_t kIsKey = 1u << 0;
constexpr uint32_t kIsNull = 1u << 1;
constexpr uint32_t kIsCompressed = 1u << 2;
constexpr uint32_t kSizeShift = 3;
constexpr size_t kMaxSize = (size_t{1} << 29) - 1;
constexpr size_t kHeaderBytes = sizeof(uint32_t);
constexpr size_t kPointerBytes = sizeof(void *);

// The sentinel's address is private to the index, so no caller can store it.
const unsigned char not_found_object = 0;

unsigned char *raw(vx_radix_node *node) {
  return reinterpret_cast<unsigned char *>(node);
}
const unsigned char *raw(const vx_radix_node *node) {
  return reinterpret_cast<const unsigned char *>(node);
}

uint32_t header_of(const vx_radix_node *node) {
  uint32_t header;
  std::memcpy(&header, raw(node), sizeof header);
  return header;
}
void set_header(vx_radix_node *node, uint32_t header) {
  std::memcpy(raw(node), &header, sizeof header);
}

size_t size_of(uint32_t header) {
  return header >> kSizeShift;
}
bool is_key(uint32_t header) {
  return (header & kIsKey) != 0;
}
bool is_compressed(uint32_t header) {
  return (header & kIsCompressed) != 0;
}
bool has_value(uint32_t header) {
  return (header & (kIsKey | kIsNull)) == kIsKey;
}
size_t child_count(uint32_t header) {
  return is_compressed(header) ? 1 : size_of(header);
}

uint32_t make_header(size_t size, bool compressed) {
  return (static_cast<uint32_t>(size) << kSizeShift) | (compressed ? kIsCompressed : 0);
}

// Byte length of a node by the layout formula.
size_t layout_length(size_t size, bool compressed, bool value_slot) {
  return kHeaderBytes + size + kPointerBytes * (compressed ? 1 : size) +
         (value_slot ? kPointerBytes : 0);
}

size_t child_offset(uint32_t header, size_t index) {
  return kHeaderBytes + size_of(header) + kPointerBytes * index;
}
size_t value_offset(uint32_t header) {
  return child_offset(header, child_count(header));
}

unsigned char *child_slot(vx_radix_node *node, size_t index) {
  return raw(node) + child_offset(header_of(node), index);
}

vx_radix_node *load_pointer(const unsigned char *slot) {
  vx_radix_node *node;
  std::memcpy(&node, slot, sizeof node);
  return node;
}
void store_pointer(unsigned char *slot, vx_radix_node *node) {
  std::memcpy(slot, &node, sizeof node);
}

vx_radix_node *child_of(const vx_radix_node *node, size_t index) {
  return load_pointer(raw(node) + child_offset(header_of(node), index));
}
void set_child(vx_radix_node *node, size_t index, vx_radix_node *child) {
  store_pointer(child_slot(node, index), child);
}

void *value_of(const vx_radix_node *node) {
  uint32_t header = header_of(node);
  if (!has_value(header)) return nullptr;
  void *value;
  std::memcpy(&value, raw(node) + value_offset(header), sizeof value);
  return value;
}

// Marks node as a key holding value. A non-null value needs room for the
// slot, which the caller has made.
void set_key_value(vx_radix_node *node, void *value) {
  uint32_t header = header_of(node) | kIsKey;
  if (value == nullptr) {
    set_header(node, header | kIsNull);
    return;
  }
  header &= ~kIsNull;
  set_header(node, header);
  std::memcpy(raw(node) + value_offset(header), &value, sizeof value);
}

vx_radix_node *allocate_node(size_t size, bool compressed, bool value_slot) {
  void *block = vx::heap_malloc(layout_length(size, compressed, value_slot));
  if (block == nullptr) return nullptr;
  vx_radix_node *node = static_cast<vx_radix_node *>(block);
  set_header(node, make_header(size, compressed));
  return node;
}

vx_radix_node *allocate_empty_node() {
  return allocate_node(0, false, false);
}

struct walk_result {
  size_t consumed;      // key bytes matched
  vx_radix_node *node;  // the node where the walk stopped
  unsigned char *link;  // where the pointer to node lives
  size_t split;         // bytes of node's compressed run matched
};

// Follows key from the head as far as it matches the tree.
walk_result walk(vx_radix_tree *tree, const unsigned char *key, size_t length) {
  walk_result result{0, tree->head, reinterpret_cast<unsigned char *>(&tree->head), 0};
  while (true) {
    const uint32_t header = header_of(result.node);
    const size_t size = size_of(header);
    if (size == 0 || result.consumed >= length) break;
    const unsigned char *bytes = raw(result.node) + kHeaderBytes;
    size_t child_index;
    if (is_compressed(header)) {
      while (result.split < size && result.consumed < length &&
             bytes[result.split] == key[result.consumed]) {
        ++result.consumed;
        ++result.split;
      }
      if (result.split != size) break;
      child_index = 0;
    } else {
      size_t edge = 0;
      while (edge < size && bytes[edge] != key[result.consumed]) ++edge;
      if (edge == size) break;
      ++result.consumed;
      child_index = edge;
    }
    result.link = raw(result.node) + child_offset(header, child_index);
    result.node = load_pointer(result.link);
    result.split = 0;
  }
  return result;
}

// The ending of a failed insert inside the extension loop: a childless node
// that is not a key becomes a key with a null value, so that every leaf stays
// a key.
int fail_extension(vx_radix_tree *tree, vx_radix_node *h) {
  uint32_t header = header_of(h);
  if (child_count(header) == 0 && !is_key(header)) {
    set_header(h, header | kIsKey | kIsNull);
    ++tree->element_count;
  }
  errno = ENOMEM;
  return 0;
}

// Where an extension stands: the node reached so far and where the pointer
// to it lives.
struct extension_point {
  vx_radix_node *node;
  unsigned char *link;
};

// Turns the childless node at point into a compressed node holding the next
// run of the key (up to kMaxSize bytes) that leads to child. False, with
// nothing changed, when the node cannot grow.
bool compress_run(extension_point *point, const unsigned char *run, size_t n,
                  vx_radix_node *child) {
  const uint32_t header = header_of(point->node);
  const bool value_slot = has_value(header);
  void *saved_value = value_of(point->node);
  void *grown = vx::heap_realloc(point->node, layout_length(n, true, value_slot));
  if (grown == nullptr) return false;
  vx_radix_node *node = static_cast<vx_radix_node *>(grown);
  set_header(node, make_header(n, true) | (header & (kIsKey | kIsNull)));
  std::memcpy(raw(node) + kHeaderBytes, run, n);
  set_child(node, 0, child);
  if (value_slot) set_key_value(node, saved_value);
  store_pointer(point->link, node);
  point->link = child_slot(node, 0);
  return true;
}

// Adds an edge for byte edge, leading to child, to the plain node at point,
// at its place in unsigned byte order. False, with nothing changed, when the
// node cannot grow.
bool add_edge(extension_point *point, unsigned char edge, vx_radix_node *child) {
  const uint32_t header = header_of(point->node);
  const size_t size = size_of(header);
  const bool value_slot = has_value(header);
  size_t position = 0;
  while (position < size && raw(point->node)[kHeaderBytes + position] <= edge) ++position;
  void *grown = vx::heap_realloc(point->node, layout_length(size + 1, false, value_slot));
  if (grown == nullptr) return false;
  vx_radix_node *node = static_cast<vx_radix_node *>(grown);
  unsigned char *base = raw(node);
  // Move from the highest region down so that no source is overwritten
  // before it is moved: value slot and the pointers from position on move by
  // 1 + one pointer, the earlier pointers and the edge bytes from position on
  // move by 1.
  const size_t old_pointers = kHeaderBytes + size;
  const size_t old_value = old_pointers + kPointerBytes * size;
  if (value_slot)
    std::memmove(base + old_value + 1 + kPointerBytes, base + old_value, kPointerBytes);
  std::memmove(base + old_pointers + kPointerBytes * position + 1 + kPointerBytes,
               base + old_pointers + kPointerBytes * position, kPointerBytes * (size - position));
  std::memmove(base + old_pointers + 1, base + old_pointers, kPointerBytes * position);
  std::memmove(base + kHeaderBytes + position + 1, base + kHeaderBytes + position, size - position);
  set_header(node, make_header(size + 1, false) | (header & (kIsKey | kIsNull)));
  base[kHeaderBytes + position] = edge;
  set_child(node, position, child);
  store_pointer(point->link, node);
  point->link = child_slot(node, position);
  return true;
}

// The first job of an extension: a path of new nodes for key[consumed..
// length) below point, one compressed run or one edge per step. False when a
// node could not be had; point is then the last node reached.
bool grow_path(vx_radix_tree *tree, const unsigned char *key, size_t length, size_t consumed,
               extension_point *point) {
  while (consumed < length) {
    vx_radix_node *child = allocate_empty_node();
    if (child == nullptr) return false;
    const size_t rest = length - consumed;
    const bool childless = size_of(header_of(point->node)) == 0;
    const size_t step = childless && rest > 1 ? (rest < kMaxSize ? rest : kMaxSize) : 1;
    const bool grown = step > 1 ? compress_run(point, key + consumed, step, child)
                                : add_edge(point, key[consumed], child);
    if (!grown) {
      vx::heap_free(child);
      return false;
    }
    consumed += step;
    ++tree->node_count;
    point->node = child;
  }
  return true;
}

// The second job: the node at the end of the path becomes a key holding
// value. False when its value slot could not be had.
bool make_key(vx_radix_tree *tree, extension_point *point, void *value) {
  const uint32_t header = header_of(point->node);
  const bool was_key = is_key(header);
  if (value != nullptr && !has_value(header)) {
    void *grown =
        vx::heap_realloc(point->node, layout_length(size_of(header), is_compressed(header), true));
    if (grown == nullptr) return false;
    point->node = static_cast<vx_radix_node *>(grown);
  }
  set_key_value(point->node, value);
  if (!was_key) ++tree->element_count;
  store_pointer(point->link, point->node);
  return true;
}

// Case extend: adds key[consumed..length) below node, whose pointer lives at
// link.
int extend(vx_radix_tree *tree, const unsigned char *key, size_t length, size_t consumed,
           vx_radix_node *node, unsigned char *link, void *value) {
  extension_point point{node, link};
  if (!grow_path(tree, key, length, consumed, &point) || !make_key(tree, &point, value)) {
    return fail_extension(tree, point.node);
  }
  return 1;
}

// Case at node: the key ends at node h.
int insert_at_node(vx_radix_tree *tree, vx_radix_node *h, unsigned char *link, void *value,
                   void **old) {
  uint32_t header = header_of(h);
  if (value != nullptr && !has_value(header)) {
    void *grown = vx::heap_realloc(h, layout_length(size_of(header), is_compressed(header), true));
    if (grown == nullptr) {
      errno = ENOMEM;
      return 0;
    }
    h = static_cast<vx_radix_node *>(grown);
    store_pointer(link, h);
  }
  if (is_key(header)) {
    if (old != nullptr) *old = value_of(h);
    set_key_value(h, value);
    errno = 0;
    return 0;
  }
  set_key_value(h, value);
  ++tree->element_count;
  return 1;
}

// Case split: the key leaves compressed node h at its byte j.
int insert_split(vx_radix_tree *tree, const unsigned char *key, size_t length, size_t i,
                 vx_radix_node *h, unsigned char *link, size_t j, void *value) {
  uint32_t header = header_of(h);
  size_t size = size_of(header);
  size_t tail = size - j - 1;
  bool value_slot = has_value(header);
  void *h_value = value_of(h);
  const unsigned char *bytes = raw(h) + kHeaderBytes;
  vx_radix_node *next = child_of(h, 0);

  vx_radix_node *split = allocate_node(1, false, j == 0 && value_slot);
  vx_radix_node *trimmed = j > 0 ? allocate_node(j, j > 1, value_slot) : nullptr;
  vx_radix_node *postfix = tail > 0 ? allocate_node(tail, tail > 1, false) : nullptr;
  if (split == nullptr || (j > 0 && trimmed == nullptr) || (tail > 0 && postfix == nullptr)) {
    vx::heap_free(split);
    vx::heap_free(trimmed);
    vx::heap_free(postfix);
    errno = ENOMEM;
    return 0;
  }

  raw(split)[kHeaderBytes] = bytes[j];
  if (j == 0) {
    if (is_key(header)) set_key_value(split, h_value);
    store_pointer(link, split);
  } else {
    std::memcpy(raw(trimmed) + kHeaderBytes, bytes, j);
    if (is_key(header)) set_key_value(trimmed, h_value);
    set_child(trimmed, 0, split);
    store_pointer(link, trimmed);
    link = child_slot(trimmed, 0);
    ++tree->node_count;
  }
  if (tail > 0) {
    std::memcpy(raw(postfix) + kHeaderBytes, bytes + j + 1, tail);
    set_child(postfix, 0, next);
    ++tree->node_count;
    set_child(split, 0, postfix);
  } else {
    set_child(split, 0, next);
  }
  vx::heap_free(h);
  return extend(tree, key, length, i, split, link, value);
}

// Case inside: the key ends inside compressed node h, before its byte j.
int insert_inside(vx_radix_tree *tree, vx_radix_node *h, unsigned char *link, size_t j,
                  void *value) {
  uint32_t header = header_of(h);
  size_t size = size_of(header);
  size_t rest = size - j;
  const unsigned char *bytes = raw(h) + kHeaderBytes;
  vx_radix_node *next = child_of(h, 0);

  vx_radix_node *postfix = allocate_node(rest, rest > 1, value != nullptr);
  vx_radix_node *trimmed = allocate_node(j, j > 1, has_value(header));
  if (postfix == nullptr || trimmed == nullptr) {
    vx::heap_free(postfix);
    vx::heap_free(trimmed);
    errno = ENOMEM;
    return 0;
  }

  std::memcpy(raw(postfix) + kHeaderBytes, bytes + j, rest);
  set_child(postfix, 0, next);
  set_key_value(postfix, value);
  ++tree->node_count;

  std::memcpy(raw(trimmed) + kHeaderBytes, bytes, j);
  set_child(trimmed, 0, postfix);
  if (is_key(header)) set_key_value(trimmed, value_of(h));
  store_pointer(link, trimmed);

  ++tree->element_count;
  vx::heap_free(h);
  return 1;
}

// Frees the subtree under root without memory and without recursion: walk
// down from root along the last remaining child to a node without remaining
// children, free it, and clear its slot in the parent (a null slot counts as
// a freed child). Costs depth steps per node; used only when the explicit
// stack cannot grow.
void free_subtree_in_place(vx_radix_tree *tree, vx_radix_node *root) {
  while (true) {
    vx_radix_node *node = root;
    unsigned char *slot_in_parent = nullptr;
    while (true) {
      size_t count = child_count(header_of(node));
      unsigned char *found = nullptr;
      for (size_t k = count; k > 0; --k) {
        unsigned char *slot = child_slot(node, k - 1);
        if (load_pointer(slot) != nullptr) {
          found = slot;
          break;
        }
      }
      if (found == nullptr) break;
      slot_in_parent = found;
      node = load_pointer(found);
    }
    vx::heap_free(node);
    --tree->node_count;
    if (node == root) return;
    store_pointer(slot_in_parent, nullptr);
  }
}

struct free_frame {
  vx_radix_node *node;
  size_t remaining;  // children not yet freed: indices [0, remaining)
};

}  // namespace

extern "C" {

void *const vx_radix_tree_not_found =
    const_cast<void *>(static_cast<const void *>(&not_found_object));

vx_radix_tree *vx_radix_tree_new(void) {
  void *block = vx::heap_malloc(sizeof(vx_radix_tree));
  if (block == nullptr) return nullptr;
  vx_radix_tree *tree = static_cast<vx_radix_tree *>(block);
  tree->head = allocate_empty_node();
  if (tree->head == nullptr) {
    vx::heap_free(tree);
    return nullptr;
  }
  tree->element_count = 0;
  tree->node_count = 1;
  return tree;
}

int vx_radix_tree_insert(vx_radix_tree *tree, const unsigned char *key, size_t length, void *value,
                         void **old) {
  walk_result w = walk(tree, key, length);
  uint32_t header = header_of(w.node);
  bool compressed = is_compressed(header);
  if (w.consumed == length && (!compressed || w.split == 0)) {
    return insert_at_node(tree, w.node, w.link, value, old);
  }
  if (compressed && w.split < size_of(header)) {
    if (w.consumed == length) return insert_inside(tree, w.node, w.link, w.split, value);
    return insert_split(tree, key, length, w.consumed, w.node, w.link, w.split, value);
  }
  return extend(tree, key, length, w.consumed, w.node, w.link, value);
}

void *vx_radix_tree_find(vx_radix_tree *tree, const unsigned char *key, size_t length) {
  walk_result w = walk(tree, key, length);
  if (w.consumed != length) return vx_radix_tree_not_found;
  uint32_t header = header_of(w.node);
  if (is_compressed(header) && w.split != 0) return vx_radix_tree_not_found;
  if (!is_key(header)) return vx_radix_tree_not_found;
  return value_of(w.node);
}

void vx_radix_tree_free(vx_radix_tree *tree) {
  // Post-order with an explicit stack of frames; children from the last to
  // the first. When the stack cannot be had or grown, the subtree in hand is
  // freed in place instead.
  size_t capacity = 32;
  free_frame *stack = static_cast<free_frame *>(vx::heap_malloc(capacity * sizeof(free_frame)));
  if (stack == nullptr) {
    free_subtree_in_place(tree, tree->head);
  } else {
    size_t depth = 0;
    stack[depth++] = free_frame{tree->head, child_count(header_of(tree->head))};
    while (depth > 0) {
      free_frame &top = stack[depth - 1];
      if (top.remaining == 0) {
        vx::heap_free(top.node);
        --tree->node_count;
        --depth;
        continue;
      }
      vx_radix_node *child = child_of(top.node, --top.remaining);
      if (depth == capacity) {
        void *grown = vx::heap_realloc(stack, 2 * capacity * sizeof(free_frame));
        if (grown == nullptr) {
          free_subtree_in_place(tree, child);
          continue;
        }
        stack = static_cast<free_frame *>(grown);
        capacity *= 2;
      }
      stack[depth++] = free_frame{child, child_count(header_of(child))};
    }
    vx::heap_free(stack);
  }
  tree->head = nullptr;
  vx::heap_free(tree);
}

uint32_t vx_radix_node_header(const vx_radix_node *node) {
  return header_of(node);
}
int vx_radix_node_is_key(const vx_radix_node *node) {
  return is_key(header_of(node));
}
int vx_radix_node_is_null(const vx_radix_node *node) {
  return (header_of(node) & kIsNull) != 0;
}
int vx_radix_node_is_compressed(const vx_radix_node *node) {
  return is_compressed(header_of(node));
}
size_t vx_radix_node_size(const vx_radix_node *node) {
  return size_of(header_of(node));
}
size_t vx_radix_node_child_count(const vx_radix_node *node) {
  return child_count(header_of(node));
}
const unsigned char *vx_radix_node_bytes(const vx_radix_node *node) {
  return raw(node) + kHeaderBytes;
}
vx_radix_node *vx_radix_node_child(const vx_radix_node *node, size_t index) {
  return child_of(node, index);
}
void *vx_radix_node_value(const vx_radix_node *node) {
  return value_of(node);
}
size_t vx_radix_node_length(const vx_radix_node *node) {
  uint32_t header = header_of(node);
  return layout_length(size_of(header), is_compressed(header), has_value(header));
}

}  // extern "C"
