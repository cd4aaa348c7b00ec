// The event name index: a compressed radix tree over byte keys with pointer
// values. Nodes are single heap blocks laid out as
//   header (u32: bit 0 is_key, bit 1 is_null, bit 2 is_compressed, bits 3..31 size)
//   size edge bytes (sorted, unsigned) or a compressed run of size bytes
//   child pointers (size of them, or one for a compressed node), unaligned
//   value slot (only when is_key and not is_null)
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef struct vx_radix_node vx_radix_node;

typedef struct vx_radix_tree {
  vx_radix_node *head;
  uint64_t element_count;
  uint64_t node_count;
} vx_radix_tree;

// Returned by find for absent keys; never equal to a stored value.
extern void *const vx_radix_tree_not_found;

vx_radix_tree *vx_radix_tree_new(void);
// 1 when the key was new; 0 when it was present (*old gets the previous value,
// errno 0) or on allocation failure (errno ENOMEM).
int vx_radix_tree_insert(vx_radix_tree *tree, const unsigned char *key, size_t length, void *value,
                         void **old);
void *vx_radix_tree_find(vx_radix_tree *tree, const unsigned char *key, size_t length);
void vx_radix_tree_free(vx_radix_tree *tree);

// Read-only inspection of a node's layout, for tests and debugging. A node's
// bytes are its sorted edge bytes (uncompressed) or its run (compressed);
// child i is the i-th child pointer (i = 0 only for a compressed node); the
// value is that of the value slot (null when the node has none); length is
// the node's byte length by the layout formula.
uint32_t vx_radix_node_header(const vx_radix_node *node);
int vx_radix_node_is_key(const vx_radix_node *node);
int vx_radix_node_is_null(const vx_radix_node *node);
int vx_radix_node_is_compressed(const vx_radix_node *node);
size_t vx_radix_node_size(const vx_radix_node *node);
size_t vx_radix_node_child_count(const vx_radix_node *node);
const unsigned char *vx_radix_node_bytes(const vx_radix_node *node);
vx_radix_node *vx_radix_node_child(const vx_radix_node *node, size_t index);
void *vx_radix_node_value(const vx_radix_node *node);
size_t vx_radix_node_length(const vx_radix_node *node);
}
