// vxtrace sqlite: one pass through the trace into the loader.
#include "sqlite/sqlite_command.h"

#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "core/decoded_record.h"
#include "io/command_support.h"
#include "io/pending_file.h"
#include "schema/event_kind.h"
#include "select/merged_records.h"
#include "select/selection.h"
#include "sqlite/sqlite_loader.h"

namespace vxtrace {
namespace {

LoadRecord load_record_of(size_t source, const EventView &event, const DecodedRecord &record,
                          EventKindCache *kinds) {
  LoadRecord load;
  load.source = static_cast<uint32_t>(source);
  load.timestamp = event.timestamp;
  load.id = event.id;
  if (event.name != nullptr) load.event = event.name;
  load.kind = kinds->kind_of(event.descriptor);
  load.decoded = load.kind ? record.data() : nullptr;
  if (const char *problem = decode_problem_text(record.problem())) load.problem = problem;
  load.raw = {static_cast<const uint8_t *>(event.payload), event.payload_size};
  return load;
}

// Every record the selection keeps, into the loader; false when the loader
// failed (it has reported nothing yet: its error() says why).
bool load_records(const OpenedInput &opened, const Selection &selection, bool progress_wanted,
                  SqliteLoader *loader) {
  RecordAllocator allocator;
  EventKindCache kinds;
  MergedRecords records(opened, selection, progress_wanted);
  EventView event;
  while (records.next(&event)) {
    const DecodedRecord record(event, records.session()->iterator(), &allocator);
    if (!loader->add_record(load_record_of(records.source(), event, record, &kinds))) return false;
  }
  return true;
}

// How the input ended, for meta: damage and read failures alike leave a
// database of the records before them, which must not pass for the whole
// trace.
LoadEnd end_of(const OpenedInput &opened) {
  LoadEnd end;
  if (opened.exit_status != kExitSuccess) {
    end.damaged = true;
    end.where = "an input could not be read from its start";
  }
  const std::string errors = input_errors(opened);
  if (errors.empty()) return end;
  end.where += (end.damaged ? "; " : "") + errors;
  end.damaged = true;
  return end;
}

// A database is a file of its own: never standard output, never a file being
// read (the trace or the plug-in).
bool refused_output(const SqliteOptions &options, const OpenedInput &opened) {
  if (options.output == "-") {
    report("a database cannot be written to standard output: name a file with -o");
    return true;
  }
  return output_is_an_input(options.output, files_read(options.in, opened));
}

}  // namespace

int run_sqlite(const SqliteOptions &options) {
  std::optional<Selection> selection = resolve_selection(options.in, {});
  if (!selection) return kExitUsage;
  SqliteLoader loader;
  bool definitions_loaded = true;
  OpenedInput opened;
  open_input(options.in, &opened, [&](size_t source, uint32_t id, const char *name) {
    if (definitions_loaded)
      definitions_loaded = loader.add_definition(static_cast<uint32_t>(source), id, name);
  });
  if (opened.sources.empty()) return opened.exit_status;
  if (refused_output(options, opened)) return kExitUsage;
  std::string temporary;  // a copy: the loader clears its own once renamed
  RemovedOnSignal removal;
  {
    // Creating the schema takes a while: a signal meanwhile must find the
    // temporary file watched.
    const SignalsHeld held;
    if (!loader.open({.output_path = options.output,
                      .force = options.force,
                      .inputs = opened.paths(),
                      .tool_version = VXTRACE_VERSION})) {
      report(loader.error());
      return kExitUsage;
    }
    temporary = loader.temporary_path();
    removal.watch(temporary);
  }
  if (!load_records(opened, *selection, options.in.progress, &loader) || !definitions_loaded ||
      !loader.finish(end_of(opened))) {
    report(loader.error());
    return kExitUsage;
  }
  removal.release();
  return input_exit_status(opened);
}

namespace {

CommandRun declare_sqlite(CLI::App *command) {
  auto options = std::make_shared<SqliteOptions>();
  add_reading_options(command, &options->in);
  add_output(command, &options->output, "Database file to write")->required();
  command->add_flag("--force", options->force, "Replace an existing file");
  add_talk_options(command, &options->in);
  return [options] { return run_sqlite(*options); };
}

}  // namespace

Command sqlite_command() {
  return {"sqlite", "Write the trace as a typed SQLite database (docs/sqlite.md)", declare_sqlite};
}

}  // namespace vxtrace
