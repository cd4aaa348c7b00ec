// The video pipeline: decoder, stream, sinks and cursor.
#define VX_PAYLOAD_FAMILY "vexlo/payloads/video.def"
#include "events/payload_codec.inc"
