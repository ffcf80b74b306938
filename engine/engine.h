// The engine object that Select hands out for one mode.
#pragma once

#include "voices.h"

// On success the engine object takes over the caller's reference to
// audioDest and releases it when the object is destroyed; on failure it does
// not touch audioDest, so the caller still owns that reference.
HRESULT CreateEngine(const VoiceMode &mode, unsigned long msPerByte, IUnknown *audioDest, ITTSCentralA **out);
