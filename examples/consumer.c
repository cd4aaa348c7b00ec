/* A complete consumer of the velocast receiver plug-in in plain C99, and the
 * example to start from.
 *
 * It loads the plug-in with dlopen (LoadLibrary on Windows), reads a trace
 * file written by `vxtrace generate` (or by the receiver) through the trace
 * file library, and writes the payload of every data record as one JSON object per line, through
 * its own allocator and printer. An event that has no descriptor or whose
 * payload cannot be decoded gives the line `null`. The lines are the objects
 * that `vxtrace dump` writes under "payload".
 *
 *   consumer TRACE_FILE [PLUGIN]
 *
 * PLUGIN is a path to the plug-in; by default its SONAME is searched on the
 * loader's path (on Windows its DLL name, beside the program first). Building
 * it against an installed package:
 *
 *   cmake -S examples/consumer-build -B build/consumer -DCMAKE_PREFIX_PATH=PREFIX
 *   cc -std=c99 consumer.c $(pkg-config --cflags --libs vexlo_velocast_trace_file) -ldl
 *
 * The output is the same bytes on every system: on Windows standard output is
 * switched to binary mode (no \r before \n) and, with mingw-w64, printf is the
 * C99 one (two-digit exponents, as on Linux).
 */
#if defined(_WIN32) && !defined(__USE_MINGW_ANSI_STDIO)
#define __USE_MINGW_ANSI_STDIO 1
#endif
#include <math.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vexlo/buffer_iterator.h>
#include <vexlo/event.h>
#include <vexlo/vxtrace_file.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define PLUGIN_SONAME "velocast_receiver_trace_consume_buffer.dll"
typedef HMODULE library_handle;
typedef FARPROC symbol_pointer;
#define open_library(path) LoadLibraryA(path)
#define find_symbol GetProcAddress
#define close_library FreeLibrary
static const char *load_error(void) {
  static char message[64];
  sprintf(message, "LoadLibrary failed with error %lu", (unsigned long)GetLastError());
  return message;
}
#else
#include <dlfcn.h>
#define PLUGIN_SONAME "libvelocast_receiver_trace_consume_buffer.so.1"
typedef void *library_handle;
typedef void *symbol_pointer;
#define open_library(path) dlopen(path, RTLD_NOW | RTLD_LOCAL)
#define find_symbol dlsym
#define close_library dlclose
#define load_error dlerror
#endif

/* The two plug-in functions that a consumer calls directly; everything else is
 * reached through the iterator's operations table and the descriptors. */
typedef struct plugin_api {
  void (*create_iterator)(const vx_buffer_reader *reader, vx_iterator_ops *ops);
  void (*register_events)(void *iterator, const char *kind);
} plugin_api;

/* dlsym returns an object pointer (GetProcAddress a function pointer of
 * another type); copying its bytes into the function pointer is the
 * conversion that ISO C allows. */
static bool resolve(library_handle library, const char *name, void *function, size_t size) {
  const symbol_pointer symbol = find_symbol(library, name);
  if (symbol == NULL) {
    fprintf(stderr, "consumer: %s does not export %s\n", PLUGIN_SONAME, name);
    return false;
  }
  memcpy(function, &symbol, size);
  return true;
}

/* Decoded records are obtained and given back through these. */
static void *allocate(void *user_data, size_t size) {
  (void)user_data;
  return malloc(size);
}

static void release_block(void *user_data, void *block) {
  (void)user_data;
  free(block);
}

/* The plug-in writes a record piece by piece: literal text, or one value with
 * its printf format. A float field arrives as "%g" with a double; JSON has no
 * NaN or infinity, so those are written as null. */
static int print_piece(void *user_data, const char *format, ...) {
  va_list args;
  int written;
  (void)user_data;
  va_start(args, format);
  if (strcmp(format, "%g") == 0) {
    const double value = va_arg(args, double);
    written = isfinite(value) ? printf("%g", value) : printf("null");
  } else {
    written = vprintf(format, args);
  }
  va_end(args);
  return written;
}

/* The consumer's calling order: create the iterator over the reader, register
 * the catalogue, then per data record take the descriptor, decode, print and
 * release before the next advance; destroy at the end (it closes the reader). */
static bool print_events(const plugin_api *api, vxt_reader *file) {
  const vx_allocator allocator = {NULL, allocate, release_block};
  const vx_printer printer = {NULL, print_piece};
  vx_buffer_reader reader;
  vx_iterator_ops ops;
  memset(&ops, 0, sizeof ops);
  vxt_reader_fill(file, &reader);
  api->create_iterator(&reader, &ops);
  if (ops.iterator == NULL) {
    fprintf(stderr, "consumer: out of memory for the iterator\n");
    return false;
  }
  api->register_events(ops.iterator, ops.kind_name(ops.iterator));
  while (ops.advance(ops.iterator)) {
    const vx_event_descriptor *event = ops.current_event(ops.iterator);
    void *record = NULL;
    if (event != NULL && event->decode != NULL) record = event->decode(ops.iterator, &allocator);
    if (record == NULL) {
      puts("null");
      continue;
    }
    event->print(record, &printer);
    putchar('\n');
    event->release(record, &allocator);
  }
  ops.destroy(ops.iterator);
  return true;
}

int main(int argc, char **argv) {
  const char *plugin_path = argc == 3 ? argv[2] : PLUGIN_SONAME;
  plugin_api api;
  library_handle library;
  vxt_reader *file;
  vxt_error error;
  int status = EXIT_SUCCESS;

  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s TRACE_FILE [PLUGIN]\n", argv[0]);
    return 2;
  }
#ifdef _WIN32
  /* Text mode would write each \n as \r\n. */
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  library = open_library(plugin_path);
  if (library == NULL) {
    fprintf(stderr, "consumer: %s\n", load_error());
    return EXIT_FAILURE;
  }
  if (!resolve(library, "vx_buffer_iterator_create", &api.create_iterator,
               sizeof api.create_iterator) ||
      !resolve(library, "vexlo_register_events", &api.register_events,
               sizeof api.register_events)) {
    close_library(library);
    return EXIT_FAILURE;
  }

  file = vxt_reader_open_path(argv[1], &error);
  if (file == NULL) {
    fprintf(stderr, "consumer: %s: %s\n", argv[1], error.message);
    close_library(library);
    return EXIT_FAILURE;
  }
  if (!print_events(&api, file)) status = EXIT_FAILURE;
  /* Damage met while reading ends the iteration early; it is reported here. */
  if (vxt_reader_error(file)->status != VXT_OK) {
    fprintf(stderr, "consumer: %s: %s\n", argv[1], vxt_reader_error(file)->message);
    status = EXIT_FAILURE;
  }
  vxt_reader_close(file);
  close_library(library);
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "consumer: cannot write the output\n");
    status = EXIT_FAILURE;
  }
  return status;
}
