// vxtrace sqlite: one pass through the trace into the loader.
#include "sqlite/sqlite_command.h"

#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/version.h"
#include "core/decoded_record.h"
#include "io/diagnostics.h"
#include "io/inputs.h"
#include "io/output_file.h"
#include "io/progress.h"
#include "schema/event_kind.h"
#include "select/reading_command.h"
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

// How the input ended, for meta: damage, read failures and inputs refused
// at their header alike leave a database of the records before them, which
// must not pass for the whole trace.
LoadEnd end_of(const ReadingPass &pass) {
  LoadEnd end;
  end.where = pass.input_errors();
  end.damaged = !end.where.empty();
  end.selection = selection_text(pass.options());
  return end;
}

class SqliteCommand : public ReadingCommand {
 public:
  explicit SqliteCommand(const SqliteOptions &options)
      : options_(options),
        output_({.path = options.output,
                 .existing_needs_force = true,
                 .force = options.force,
                 .regular_file_only = true}) {}

  // A database is a file of its own: never standard output, a device or a
  // file being read (the trace or the plug-in).
  bool outputs_acceptable(const std::vector<std::string> &files_read) override {
    return prepare_outputs({&output_}, files_read);
  }

  SourceDefinitionObserver definition_observer() override {
    return [this](size_t source, uint32_t id, const char *name) {
      if (definitions_loaded_)
        definitions_loaded_ = loader_.add_definition(static_cast<uint32_t>(source), id, name);
    };
  }

  bool run(ReadingPass &pass) override {
    if (!loader_.open({.output_path = options_.output,
                       .inputs = pass.opened().paths(),
                       .tool_version = tool_version(),
                       .output = &output_})) {
      report(loader_.error());
      return false;
    }
    EventKindCache kinds;
    bool loaded = true;
    bool finished = false;
    pass.for_each(
        [&](size_t source, const EventView &event, const DecodedRecord &record) {
          loaded = loader_.add_record(load_record_of(source, event, record, &kinds));
          return loaded;
        },
        [&] { return definitions_loaded_; },
        // The line stays up while the indexes are built and the file is
        // committed: seconds on a large trace.
        [&](Progress &progress) {
          if (!loaded || !definitions_loaded_) return;
          LoadEnd end = end_of(pass);
          end.progress = {.step = [&](std::string_view step) { progress.step(step); },
                          .working = [&] { progress.step_working(); }};
          finished = loader_.finish(end);
        });
    if (!finished) {
      report(loader_.error());
      return false;
    }
    return true;
  }

 private:
  const SqliteOptions &options_;
  OutputFile output_;
  SqliteLoader loader_;
  bool definitions_loaded_ = true;
};

}  // namespace

int run_sqlite(const SqliteOptions &options) {
  SqliteCommand command(options);
  return run_reading_command(options.in, command);
}

namespace {

CommandRun declare_sqlite(CLI::App *command) {
  auto options = std::make_shared<SqliteOptions>();
  add_reading_options(command, &options->in);
  add_output(command, &options->output, "Database file to write")->required();
  command->add_flag("--force", options->force, "Replace an existing file");
  add_talk_options(command, &options->in.progress);
  return [options] { return run_sqlite(*options); };
}

}  // namespace

Command sqlite_command() {
  return {"sqlite", "Write the trace as a typed SQLite database (docs/sqlite.md)", declare_sqlite};
}

}  // namespace vxtrace
