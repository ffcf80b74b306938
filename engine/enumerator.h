// The CLSID_TTSEnumerator object: lists the modes (ITTSEnumA), finds one by a
// wanted record (ITTSFindA) and creates the engine object of a mode.
#pragma once

#include <windows.h>

HRESULT CreateEnumerator(REFIID iid, void **out);
