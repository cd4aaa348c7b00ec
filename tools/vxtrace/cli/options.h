// The command-line conventions that every command follows, declared once.
//
// Options appear in --help in one order for every command: the inputs, then
// what is read of them (--plugin, --begin, --end, --session,
// --with-receiver, --event), then what is written and where (-o, --force,
// the command's formats), then the command's own settings, and last how it
// talks (-q, --no-progress). Numbers are plain decimals in a stated range:
// CLI11 alone would read "-5" into an unsigned as 2^64-5.
#pragma once

#include <CLI/CLI.hpp>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/options.h"

namespace vxtrace {

// A plain decimal number in [least, most]; hidden options pass their name,
// which CLI11 leaves out of the message for them.
CLI::Validator whole_number(uint64_t least, uint64_t most, const std::string &hidden_name = "");

// One of the words, in any case (the value is lowered to the word); anything
// else is refused with "must be a, b or c". It shows no description of its own
// in --help, where CLI11's would read "{a,b}".
CLI::Validator one_of(std::vector<std::string> words);

template <class Number>
CLI::Option *add_number(CLI::App *command, const std::string &name, Number *value,
                        const std::string &description, uint64_t least,
                        uint64_t most = std::numeric_limits<Number>::max()) {
  return command->add_option(name, *value, description)
      ->check(whole_number(least, most))
      ->type_name("N");
}

// Left out of --help, for tests.
template <class Number>
void add_hidden_number(CLI::App *command, const std::string &name, Number *value, uint64_t least) {
  command->add_option(name, *value)
      ->check(whole_number(least, std::numeric_limits<Number>::max(), name))
      ->group("");
}

// The placeholders of values that name a file (shown in --help and the man
// pages); the completion offers file names for exactly these.
inline constexpr std::array<std::string_view, 3> kPathPlaceholders{"FILE", "PATH", "PAGE"};

// placeholder: one of kPathPlaceholders.
CLI::Option *add_path(CLI::App *command, const std::string &name, std::string *path,
                      std::string_view placeholder, const std::string &description);

// -o: a file, or standard output when absent or "-".
CLI::Option *add_output(CLI::App *command, std::string *path, const std::string &description);

// The inputs and what is read of them: FILE ..., --plugin, the time window,
// the sessions and the events.
void add_reading_options(CLI::App *command, InputOptions *in);

// --event, one glob per option.
void add_event_globs(CLI::App *command, std::vector<std::string> *globs);

// Last on every command: -q, which leaves out the notes, the progress line
// and the plug-in's log lines (never an error), and --no-progress.
void add_talk_options(CLI::App *command, bool *progress);

}  // namespace vxtrace
