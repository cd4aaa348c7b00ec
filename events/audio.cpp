// Network sessions, the headroom watcher and the audio pipeline.
#define VX_PAYLOAD_FAMILY "vexlo/payloads/audio.def"
#include "events/payload_codec.inc"
