/* The vxtrace trace buffer file: reading it through the buffer iterator's
 * reader callbacks, and writing it. The layout is described in
 * docs/trace-file-format.md. This library does not depend on the plug-in: it
 * only uses the vx_buffer_reader record type of the public headers. */
#ifndef VXTRACE_FILE_H
#define VXTRACE_FILE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "vexlo/buffer_iterator.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The header: 8 bytes of magic, a u32 version, a u32 of flags (0). */
#define VXT_MAGIC "\x89VXT\r\n\x1a\n"
#define VXT_MAGIC_SIZE 8
#define VXT_VERSION 1u
#define VXT_HEADER_SIZE 16u

/* Record tags. */
#define VXT_TAG_DEFINITION 0x44u /* 'D': u32 id, name bytes, NUL */
#define VXT_TAG_EVENT 0x45u      /* 'E': u32 id, u64 timestamp, u32 size, payload */

#define VXT_EVENT_RECORD_HEADER_SIZE 17u
/* Definitions bind ids up to this one: consumers index tables by id. */
#define VXT_MAX_DEFINED_ID 65535u
/* Longest event name, without its NUL. */
#define VXT_MAX_NAME_LENGTH 255u
/* Largest payload; bounds what a streamed reader must hold at once. */
#define VXT_MAX_PAYLOAD_SIZE (16u * 1024u * 1024u)

typedef enum vxt_status {
  VXT_OK = 0,
  VXT_IO_ERROR = 1,         /* the file could not be opened, read or written */
  VXT_NOT_A_TRACE = 2,      /* bad magic, unknown version or flags */
  VXT_DAMAGED = 3,          /* a truncated or malformed record */
  VXT_INVALID_ARGUMENT = 4, /* a call with a value the format cannot hold */
} vxt_status;

typedef struct vxt_error {
  vxt_status status;
  uint64_t offset; /* byte offset of the damaged record or header */
  char message[240];
} vxt_error;

/* ---- Reading ---- */

typedef struct vxt_reader vxt_reader;

/* The data record that the reader delivered last. */
typedef struct vxt_event_info {
  uint32_t id;
  uint64_t timestamp;
  uint64_t offset; /* of the record's tag byte */
  uint32_t payload_size;
} vxt_event_info;

/* Opens path and checks the header. Regular files are read window by window
 * (with pread, never mapped: a file that another process shrinks meanwhile
 * reads as damaged instead of faulting the reader), anything else is
 * streamed. Null on failure, with error filled. */
vxt_reader *vxt_reader_open_path(const char *path, vxt_error *error);

/* Same over an open descriptor, which stays the caller's (never closed here).
 * display_name is used in messages. */
vxt_reader *vxt_reader_open_fd(int fd, const char *display_name, vxt_error *error);

/* Same, reading at most window_size bytes ahead at a time (at least 4096; the
 * other open functions read 1 MiB): for a consumer that reads many inputs at
 * once. A record larger than the window is still read whole, and the buffer
 * shrinks back to the window after it. */
vxt_reader *vxt_reader_open_fd_windowed(int fd, const char *display_name, size_t window_size,
                                        vxt_error *error);

/* Same over bytes in memory, which must outlive the reader. */
vxt_reader *vxt_reader_open_memory(const void *data, size_t size, const char *display_name,
                                   vxt_error *error);

/* Fills the iterator's reader callbacks. Definition names stay valid until
 * vxt_reader_close, payloads until the next callback. The close callback
 * releases the read buffer; the reader itself stays readable. */
void vxt_reader_fill(vxt_reader *reader, vx_buffer_reader *out);

/* Damage or an I/O failure met while reading; status VXT_OK when none. Once
 * set, has_more reports false. A file that ends before the size it had at
 * opening (another process shrank it) is damage too, with the message "the
 * file changed while it was read: ..." and the offset of the first record it
 * cut short; the records before it have been delivered. */
const vxt_error *vxt_reader_error(const vxt_reader *reader);

/* Bytes consumed so far (header included), and the input size, 0 when it is
 * unknown (a stream). */
uint64_t vxt_reader_offset(const vxt_reader *reader);
uint64_t vxt_reader_size(const vxt_reader *reader);

uint64_t vxt_reader_definition_count(const vxt_reader *reader);

/* Delivers to the iterator only the data records with begin <= timestamp <
 * end; the others are consumed by their headers (checked for damage, never
 * handed to the plug-in). Definitions are always delivered, so ids keep their
 * names. An end of UINT64_MAX is no end (the largest timestamp is kept).
 * The whole range by default. vxt_reader_skip_record ignores the window. */
void vxt_reader_set_window(vxt_reader *reader, uint64_t begin, uint64_t end);

/* Data records stepped over because of the window so far. */
uint64_t vxt_reader_skipped_count(const vxt_reader *reader);

/* False until a data record has been delivered. */
bool vxt_reader_last_event(const vxt_reader *reader, vxt_event_info *out);

void vxt_reader_close(vxt_reader *reader);

/* ---- Reading in parts ---- */

/* One record as vxt_reader_skip_record reports it. */
typedef struct vxt_record_info {
  uint8_t tag; /* VXT_TAG_DEFINITION or VXT_TAG_EVENT */
  uint32_t id;
  uint64_t offset;  /* of the record's tag byte */
  uint64_t size;    /* of the whole record, 0 for a definition given to
                       vxt_reader_open_range */
  const char *name; /* a definition's name, valid until the next call on the
                       reader; null for a data record */
} vxt_record_info;

/* Consumes the next record without handing it to an iterator: for finding
 * record boundaries and the definitions before them. False at the end of the
 * input or at damage (vxt_reader_error tells which). Do not mix it with an
 * iterator's advance over the same reader. */
bool vxt_reader_skip_record(vxt_reader *reader, vxt_record_info *out);

/* A definition in force at some point of a trace. */
typedef struct vxt_definition {
  uint32_t id;
  const char *name;
} vxt_definition;

/* Opens the records in [begin, end) of the trace file open at fd, which stays
 * the caller's; begin and end must be record boundaries (such as the offsets
 * that vxt_reader_skip_record reports, or the file size). The reader first
 * delivers the given definitions (copied here) as if they stood just before
 * begin, then the range's records; the input looks as if it ended at end.
 * Offsets, the size and damage messages are those of the whole file; a file
 * that ends before end reads as changed, like a shrunk file above. The
 * definitions obey the limits of definition records (an id up to
 * VXT_MAX_DEFINED_ID, a name of 1 to VXT_MAX_NAME_LENGTH bytes). Null on
 * failure, with error filled: VXT_INVALID_ARGUMENT for a bad range or
 * definition. */
vxt_reader *vxt_reader_open_range(int fd, uint64_t begin, uint64_t end,
                                  const vxt_definition *definitions, size_t definition_count,
                                  vxt_error *error);

/* ---- Writing ---- */

typedef struct vxt_writer vxt_writer;

/* Creates or truncates path and writes the header. */
vxt_writer *vxt_writer_open_path(const char *path, vxt_error *error);

/* Writes to an open descriptor, which stays the caller's. */
vxt_writer *vxt_writer_open_fd(int fd, vxt_error *error);

/* A call with a value the format cannot hold is refused: it returns false,
 * writes nothing, and the writer stays usable (records before and after it are
 * written). A failed write is final: that call and every later one return
 * false, and vxt_writer_close fails. */

/* Binds id to name. Refused when the id is above VXT_MAX_DEFINED_ID or the
 * name is null, empty or longer than VXT_MAX_NAME_LENGTH. */
bool vxt_writer_define(vxt_writer *writer, uint32_t id, const char *name);

/* Writes a data record. Refused when payload_size is above
 * VXT_MAX_PAYLOAD_SIZE, or not 0 with a null payload. */
bool vxt_writer_write_event(vxt_writer *writer, uint32_t id, uint64_t timestamp,
                            const void *payload, uint32_t payload_size);

/* Bytes written so far, header included (buffered bytes count). */
uint64_t vxt_writer_offset(const vxt_writer *writer);

/* Why the last call returned false: VXT_INVALID_ARGUMENT for a refused call,
 * until the next define or write_event call; VXT_IO_ERROR for the failed
 * write, from then on. VXT_OK otherwise. */
const vxt_error *vxt_writer_error(const vxt_writer *writer);

/* Flushes, closes what the writer opened and frees it. False when a write or
 * the close failed; error (may be null) then tells the first failure, and is
 * cleared otherwise. Refused calls do not make it fail. */
bool vxt_writer_close(vxt_writer *writer, vxt_error *error);

#ifdef __cplusplus
}
#endif

#endif
