// Media playback: channel, player, demuxer, streams, sinks and audio queue.
#define VX_PAYLOAD_FAMILY "vexlo/payloads/media.def"
#include "events/payload_codec.inc"
