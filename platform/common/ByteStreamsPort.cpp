#include "platform/ByteStreams.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(ByteStreams)

}  // namespace platform
