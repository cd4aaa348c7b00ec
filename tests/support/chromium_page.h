// Headless Chromium for the tests of pages that vxtrace writes: a fresh
// profile in a work directory, and no network, which the machine lacks and
// the browser must not look for.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace vxtrace_test {

bool chromium_installed();

// Runs Chromium headless with arguments (which end with the page's URL),
// its standard output to output and its log to work/chromium.log; the
// status of std::system.
int run_chromium(const std::string &work, const std::string &arguments, const std::string &output);

// What a report page showed once loaded.
struct ReportPageVerdict {
  bool loaded = false;  // the verdict was written: the page finished loading
  std::string errors;   // script errors, "; "-separated
  size_t canvases = 0;
  size_t drawn = 0;       // canvases of non-zero size with a Chart.js chart
  nlohmann::json tables;  // every table, as rows of cell texts
  // The second column of the first sortable table after a click on its
  // heading: the cell texts, top to bottom.
  nlohmann::json sorted;
  std::string log;  // Chromium's, when the verdict is missing
};

// Loads page (the HTML text) in Chromium from a file in work, with a hook
// that records script errors from the start and a script that writes the
// verdict into the page when it has loaded.
ReportPageVerdict check_report_page(const std::string &work, const std::string &page);

}  // namespace vxtrace_test
