#include "support/chromium_page.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "support/vxtrace_process.h"

namespace vxtrace_test {
namespace {

constexpr const char *kChromium = "/usr/bin/chromium";

constexpr std::string_view kErrorHook =
    "<script>window.errors = []; window.addEventListener('error', e => "
    "window.errors.push(String(e.message)));</script>\n";

// The verdict as JSON text: the DOM dump escapes it as HTML text.
constexpr std::string_view kVerdictScript = R"(<script>
window.addEventListener('load', () => {
  const canvases = [...document.querySelectorAll('canvas')];
  const drawn = canvases.filter(c => Chart.getChart(c) && c.width > 0 && c.height > 0 &&
                                     c.getBoundingClientRect().height > 0);
  const tables = [...document.querySelectorAll('table')].map(
      t => [...t.rows].map(r => [...r.cells].map(c => c.textContent)));
  // A click on the second heading of the first sortable table, once the
  // tables above were read: its column in the order that shows then.
  const sortable = document.querySelector('table.sortable');
  let sorted = [];
  if (sortable) {
    sortable.rows[0].cells[1].click();
    sorted = [...sortable.rows].slice(1).map(r => r.cells[1].textContent);
  }
  const verdict = document.createElement('pre');
  verdict.id = 'verdict';
  verdict.textContent = JSON.stringify({errors: window.errors, canvases: canvases.length,
                                        drawn: drawn.length, tables: tables, sorted: sorted});
  document.body.appendChild(verdict);
});
</script>
)";

std::string html_text_unescaped(std::string text) {
  static constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&nbsp;", "\u00a0"}, {"&amp;", "&"}};
  for (const auto &[entity, character] : kEntities)
    for (size_t at = 0; (at = text.find(entity, at)) != std::string::npos; at += character.size())
      text.replace(at, entity.size(), character);
  return text;
}

}  // namespace

bool chromium_installed() {
  return access(kChromium, X_OK) == 0;
}

int run_chromium(const std::string &work, const std::string &arguments, const std::string &output) {
  const std::string command =
      "HOME=" + work + " XDG_CONFIG_HOME=" + work + " XDG_CACHE_HOME=" + work + " timeout 120 " +
      kChromium +
      " --headless --no-sandbox --disable-gpu --disable-quic"
      " --no-first-run --disable-background-networking --disable-component-update"
      " --disable-sync --user-data-dir=" +
      work + "/profile --virtual-time-budget=5000 " + arguments + " >" + output + " 2>" + work +
      "/chromium.log";
  return std::system(command.c_str());
}

ReportPageVerdict check_report_page(const std::string &work, const std::string &page) {
  std::string checked = page;
  checked.insert(checked.find("<head>") + 6, kErrorHook);
  checked.insert(checked.rfind("</body>"), kVerdictScript);
  const std::string path = work + "/checked.html";
  write_file(path, checked);
  ReportPageVerdict verdict;
  const int status = run_chromium(work, "--dump-dom file://" + path, work + "/dom.html");
  verdict.log = read_file(work + "/chromium.log");
  const std::string dom = read_file(work + "/dom.html");
  constexpr std::string_view kStart = "<pre id=\"verdict\">";
  const size_t start = dom.find(kStart);
  if (status != 0 || start == std::string::npos) return verdict;
  const size_t end = dom.find("</pre>", start);
  const nlohmann::json found = nlohmann::json::parse(
      html_text_unescaped(dom.substr(start + kStart.size(), end - start - kStart.size())));
  verdict.loaded = true;
  for (const nlohmann::json &error : found["errors"])
    verdict.errors += (verdict.errors.empty() ? "" : "; ") + error.get<std::string>();
  verdict.canvases = found["canvases"];
  verdict.drawn = found["drawn"];
  verdict.tables = found["tables"];
  verdict.sorted = found["sorted"];
  return verdict;
}

}  // namespace vxtrace_test
