// The audio destination object. Its journal lines carry its address, which is
// also what Select records, so a test can pair the two.
#include "audiodest.h"

#include <new>

#include "journal.h"
#include "server.h"

namespace {

// WAVE_MAPPER, without pulling in the multimedia headers.
const DWORD kWaveMapper = 0xFFFFFFFF;

class AudioDest final : public IAudioMultiMediaDevice {
public:
    AudioDest() : refs_(1), device_(kWaveMapper) {
        ObjectCreated();
        JournalLine("AudioDest.Create").Hex("audio", Address()).Write(S_OK);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        HRESULT hr = S_OK;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IAudioMultiMediaDevice)) {
            *out = static_cast<IAudioMultiMediaDevice *>(this);
            AddRef();
        } else {
            *out = NULL;
            hr = E_NOINTERFACE;
        }
        if (IsSpeechIid(iid))
            JournalLine("AudioDest.QueryInterface").Hex("audio", Address()).Word("iid", IidName(iid).c_str()).Write(hr);
        return hr;
    }
    // Clients drain this object by calling Release until it returns 0, so the
    // count returned must be exact.
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CustomMessage(UINT, SDATA) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeviceNumGet(DWORD *device) override {
        if (!device)
            return E_POINTER;
        *device = device_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DeviceNumSet(DWORD device) override {
        device_ = device;
        JournalLine("AudioDest.DeviceNumSet").Hex("audio", Address()).Hex("device", device).Write(S_OK);
        return S_OK;
    }

private:
    ~AudioDest() {
        JournalLine("AudioDest.Destroy").Hex("audio", Address()).Write(S_OK);
        ObjectDestroyed();
    }

    unsigned long Address() const {
        return static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(static_cast<const IUnknown *>(this)));
    }

    LONG refs_;
    DWORD device_;
};

} // namespace

HRESULT CreateAudioDest(REFIID iid, void **out) {
    *out = NULL;
    AudioDest *dest = new (std::nothrow) AudioDest;
    if (!dest)
        return E_OUTOFMEMORY;
    HRESULT hr = dest->QueryInterface(iid, out);
    dest->Release();
    return hr;
}
