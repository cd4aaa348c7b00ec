#include "generate/new_session.h"

#include <iterator>
#include <string>
#include <string_view>

namespace vxtrace {

std::string make_url(SplitMix64 &rng, uint32_t session_id) {
  static constexpr std::string_view kHosts[] = {"media.example.com", "cdn.example.net",
                                                "10.0.0.12:8080"};
  std::string url = "https://" + std::string(kHosts[rng.below(std::size(kHosts))]) + "/s" +
                    std::to_string(session_id) + "/";
  // Lengths from a few dozen bytes to long signed urls.
  const size_t extra = rng.chance(0.2) ? rng.below(1500) : rng.below(40);
  for (size_t i = 0; i < extra; ++i)
    url.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[rng.below(36)]);
  return url + ".m3u8";
}

SessionState new_session(SplitMix64 &rng, uint32_t id) {
  SessionState s;
  s.id = id;
  s.device_id = rng.next();
  s.network_type = static_cast<uint32_t>(rng.between(0, 2));
  s.playback_delay_us = rng.between(40, 250) * 1000;
  s.audio_packet_id = rng.between(0, 1000);
  s.audio_codec = static_cast<uint32_t>(rng.between(1, 3));
  s.video_codec = static_cast<uint32_t>(rng.between(1, 2));
  s.sample_rate = rng.chance(0.8) ? 48000 : 44100;
  if (rng.chance(0.3)) {
    s.width = 1280;
    s.height = 720;
  }
  s.cursor_x = 960;
  s.cursor_y = 540;
  s.url = make_url(rng, id);
  s.duration_us = rng.between(30, 7200) * 1'000'000;
  return s;
}

}  // namespace vxtrace
