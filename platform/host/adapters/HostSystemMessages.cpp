// System error texts of the host: the English texts of Windows.
#include "platform/host/adapters/EnglishSystemMessages.h"

namespace platform {

SystemMessages& SystemMessages::Default() { return host::EnglishSystemMessages(); }

}  // namespace platform
