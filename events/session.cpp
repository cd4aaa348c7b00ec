// Events that carry only the session they concern.
#define VX_PAYLOAD_FAMILY "vexlo/payloads/session.def"
#include "events/payload_codec.inc"
