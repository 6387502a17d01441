// A failure raised as an HRESULT inside an action and caught at its edge.
#pragma once

#include "platform/WinTypes.h"

struct HresultException {
  HRESULT hr;
};

[[noreturn]] inline void ThrowHresult(HRESULT hr) { throw HresultException{hr}; }
