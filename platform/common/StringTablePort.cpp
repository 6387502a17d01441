#include "platform/StringTable.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(StringTable)

}  // namespace platform
