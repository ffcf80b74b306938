// The CLSID_MMAudioDest object: the wave-out destination a client creates and
// hands to Select. The runtime does not play through it; it only has to exist
// and count its references as clients expect.
#pragma once

#include "sapi4.h"

struct IAudioMultiMediaDevice : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CustomMessage(UINT message, SDATA data) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeviceNumGet(DWORD *device) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeviceNumSet(DWORD device) = 0;
};

HRESULT CreateAudioDest(REFIID iid, void **out);
