#include "platform/NetConnections.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(NetConnections)

}  // namespace platform
