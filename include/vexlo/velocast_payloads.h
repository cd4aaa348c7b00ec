/* The decoded records of the velocast receiver's events. Each record holds its
 * payload's fields in wire order with natural alignment, named after their
 * JSON keys; nested records are embedded by value. The records are generated
 * from the payload descriptions in vexlo/payloads/ (.def files), which the decoders
 * and renderers of the plug-in are generated from as well. */
#ifndef VEXLO_VELOCAST_PAYLOADS_H
#define VEXLO_VELOCAST_PAYLOADS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A counted byte string: data points to exactly size bytes (no NUL added),
 * obtained through the same allocator as the record that holds the blob. */
typedef struct byte_blob {
  uint16_t size;
  uint8_t *data;
} byte_blob;

#define VX_CTYPE_u8 uint8_t
#define VX_CTYPE_u16 uint16_t
#define VX_CTYPE_i16 int16_t
#define VX_CTYPE_u32 uint32_t
#define VX_CTYPE_i32 int32_t
#define VX_CTYPE_u64 uint64_t
#define VX_CTYPE_i64 int64_t
#define VX_CTYPE_f32 float

#define VX_PAYLOAD(T) typedef struct T {
#define VX_FIELD(type, key) VX_CTYPE_##type key;
#define VX_RECORD(T, key) T key;
#define VX_BLOB(key) byte_blob key;
#define VX_END(T) } T;

#include "vexlo/payloads/all.def"

#ifdef __cplusplus
}
#endif

#endif
