#include "platform/NamedMutex.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(NamedMutex)

}  // namespace platform
