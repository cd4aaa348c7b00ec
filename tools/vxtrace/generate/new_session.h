// A session as the generator starts it: ids, codecs, sizes and a url.
#pragma once

#include <cstdint>
#include <string>

#include "generate/splitmix64.h"
#include "generate/value_model.h"

namespace vxtrace {

SessionState new_session(SplitMix64 &rng, uint32_t id);

// A stream url for the session, from a few dozen bytes to a long signed one.
std::string make_url(SplitMix64 &rng, uint32_t session_id);

}  // namespace vxtrace
