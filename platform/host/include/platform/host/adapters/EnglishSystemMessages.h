// The English texts Windows has for the system codes the kit meets: the
// host's system messages, and the Windows test programs' too (Wine's own
// texts are not Windows': "Access denied." for "Access is denied.").
#pragma once

#include "platform/SystemMessages.h"

namespace platform::host {

SystemMessages& EnglishSystemMessages();

}  // namespace platform::host
