#include "platform/FirmwareTables.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(FirmwareTables)

}  // namespace platform
