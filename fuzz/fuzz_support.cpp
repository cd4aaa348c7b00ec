#include "fuzz/fuzz_support.hpp"

#include <cmath>
#include <nlohmann/json.hpp>

namespace vx_fuzz {

namespace {

bool prints_non_finite(const vx_test::PrintCall &call) {
  for (const vx_test::PrintArg &arg : call.args) {
    if (arg.kind == vx_test::ArgKind::double_value && !std::isfinite(arg.real)) return true;
  }
  return false;
}

}  // namespace

std::string json_text_of(const vx_test::RecordingPrinter &printer) {
  std::string text;
  for (const vx_test::PrintCall &call : printer.calls) {
    text += prints_non_finite(call) ? std::string("0") : call.text;
  }
  return text;
}

bool is_json_object(const std::string &text) {
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
  return !parsed.is_discarded() && parsed.is_object();
}

}  // namespace vx_fuzz
