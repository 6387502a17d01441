#include "platform/UserDialog.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(UserDialog)

}  // namespace platform
