// Load-time work of an in-process module that differs by platform.
#pragma once

namespace platform {

// CoInitialize for the calling thread (never uninitialized); no-op on the host.
void InitializeCom();
// setlocale(LC_ALL, "") so that wide text formats into narrow text through
// the user's code page.
void SetLocaleFromEnvironment();

}  // namespace platform
