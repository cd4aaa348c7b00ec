// How a run ended, as the exit status says it: 1 when the command line was
// wrong, an input could not be read at all, or an output was not written
// whole; 2 when an input was damaged (everything before the damage was
// written); 0 otherwise. The worst of what happened wins, so a failed output
// is 1 whatever the input: 2 promises the output is whole up to the damage.
#pragma once

#include "core/options.h"

namespace vxtrace {

class Outcome {
 public:
  void add(int status) {
    if (status == kExitUsage || status_ == kExitUsage)
      status_ = kExitUsage;
    else if (status == kExitDamagedInput)
      status_ = kExitDamagedInput;
  }
  void output_failed() { add(kExitUsage); }

  int exit_status() const { return status_; }

 private:
  int status_ = kExitSuccess;
};

}  // namespace vxtrace
