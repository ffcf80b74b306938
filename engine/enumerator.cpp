// One object answers both ITTSEnumA and ITTSFindA, as clients query it both
// ways. The mode set is read when the object is made, so a test may change the
// configuration between two enumerators but never under a living one.
#include "enumerator.h"

#include <memory>
#include <new>

#include <string.h>

#include "engine.h"
#include "faults.h"
#include "journal.h"
#include "server.h"
#include "voices.h"

namespace {

class Enumerator final : public ITTSEnumA, public ITTSFindA {
public:
    Enumerator(std::shared_ptr<const VoiceSet> voices, ULONG position)
        : refs_(1), id_(NextObjectId()), voices_(std::move(voices)), position_(position) {
        ObjectCreated();
    }

    unsigned long Id() const { return id_; }
    const VoiceSet &Voices() const { return *voices_; }

    // IUnknown, shared by both interfaces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        HRESULT hr = S_OK;
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITTSEnumA))
            *out = static_cast<ITTSEnumA *>(this);
        else if (IsEqualIID(iid, IID_ITTSFindA))
            *out = static_cast<ITTSFindA *>(this);
        else {
            *out = NULL;
            hr = E_NOINTERFACE;
        }
        if (SUCCEEDED(hr))
            AddRef();
        if (IsSpeechIid(iid))
            JournalLine("Enum.QueryInterface").Num("id", id_).Word("iid", IidName(iid).c_str()).Write(hr);
        return hr;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

    // ITTSEnumA
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, PTTSMODEINFOA modes, ULONG *fetched) override {
        if (HRESULT injected = InjectFault(kFaultEnumNext)) {
            if (fetched)
                *fetched = 0;
            return injected;
        }
        JournalLine line("Enum.Next");
        line.Num("id", id_).Num("celt", celt);
        ULONG count = 0;
        HRESULT hr;
        if (!modes && celt) {
            hr = E_POINTER;
        } else {
            const std::vector<VoiceMode> &all = voices_->modes;
            while (count < celt && position_ < all.size()) {
                modes[count] = all[position_].info;
                line.Text("mode", all[position_].info.szModeName);
                ++count;
                ++position_;
            }
            hr = count == celt ? S_OK : S_FALSE;
        }
        if (fetched)
            *fetched = count;
        line.Num("fetched", count).Write(hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        ULONG left = static_cast<ULONG>(voices_->modes.size()) - position_;
        ULONG skipped = celt < left ? celt : left;
        position_ += skipped;
        HRESULT hr = skipped == celt ? S_OK : S_FALSE;
        JournalLine("Enum.Skip").Num("id", id_).Num("celt", celt).Num("skipped", skipped).Write(hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        JournalLine("Enum.Reset").Num("id", id_).Write(S_OK);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(ITTSEnumA **clone) override {
        HRESULT hr = S_OK;
        Enumerator *copy = NULL;
        if (!clone)
            hr = E_POINTER;
        else if (!(copy = new (std::nothrow) Enumerator(voices_, position_)))
            hr = E_OUTOFMEMORY;
        if (clone)
            *clone = copy;
        JournalLine line("Enum.Clone");
        line.Num("id", id_);
        if (copy)
            line.Num("clone", copy->Id());
        line.Write(hr);
        return hr;
    }

    // ITTSEnumA and ITTSFindA declare the same Select; this one serves both.
    HRESULT STDMETHODCALLTYPE Select(GUID modeId, ITTSCentralA **central, IUnknown *audioDest) override {
        JournalLine line("Enum.Select");
        line.Num("id", id_);
        HRESULT hr = TTSERR_INVALIDMODE;
        if (central)
            *central = NULL;
        if (HRESULT injected = InjectFault(kFaultEnumSelect))
            return injected;
        const VoiceMode *mode = NULL;
        for (const VoiceMode &m : voices_->modes) {
            if (IsEqualGUID(m.info.gModeID, modeId)) {
                mode = &m;
                break;
            }
        }
        if (mode)
            line.Text("mode", mode->info.szModeName);
        else
            line.Word("mode", IidName(modeId).c_str());
        line.Hex("audio", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(audioDest)));
        if (!central)
            hr = E_POINTER;
        else if (mode && !mode->failSelect)
            hr = CreateEngine(*mode, voices_->msPerByte, audioDest, central);
        line.Write(hr);
        return hr;
    }

    // ITTSFindA
    HRESULT STDMETHODCALLTYPE Find(PTTSMODEINFOA wanted, PTTSMODEINFORANK, PTTSMODEINFOA found) override {
        if (HRESULT injected = InjectFault(kFaultEnumFind))
            return injected;
        JournalLine line("Enum.Find");
        line.Num("id", id_);
        HRESULT hr = TTSERR_INVALIDMODE;
        if (!wanted || !found) {
            hr = E_POINTER;
        } else {
            // Only the fields a client usually searches by are worth a line.
            line.Bytes("maker", wanted->szMfgName, strnlen(wanted->szMfgName, sizeof wanted->szMfgName))
                .Bytes("product", wanted->szProductName, strnlen(wanted->szProductName, sizeof wanted->szProductName))
                .Bytes("modename", wanted->szModeName, strnlen(wanted->szModeName, sizeof wanted->szModeName));
            for (const VoiceMode &m : voices_->modes) {
                if (ModeMatches(*wanted, m.info)) {
                    *found = m.info;
                    line.Text("found", m.info.szModeName);
                    hr = S_OK;
                    break;
                }
            }
        }
        line.Write(hr);
        return hr;
    }

private:
    ~Enumerator() {
        JournalLine("Enum.Destroy").Num("id", id_).Write(S_OK);
        ObjectDestroyed();
    }

    LONG refs_;
    unsigned long id_;
    std::shared_ptr<const VoiceSet> voices_;
    ULONG position_;
};

} // namespace

HRESULT CreateEnumerator(REFIID iid, void **out) {
    *out = NULL;
    std::shared_ptr<const VoiceSet> voices;
    try {
        voices = std::make_shared<const VoiceSet>(LoadVoices());
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    InstallFaults(voices->faults);
    if (HRESULT injected = InjectFault(kFaultEnumCreate))
        return injected;
    Enumerator *e = new (std::nothrow) Enumerator(voices, 0);
    if (!e)
        return E_OUTOFMEMORY;
    JournalLine line("Enum.Create");
    line.Num("id", e->Id()).Num("modes", static_cast<unsigned long>(voices->modes.size()));
    if (voices->source.empty())
        line.Word("config", "built-in");
    else
        line.Text("config", voices->source.c_str());
    if (voices->readError)
        line.Num("error", voices->readError);
    line.Num("msperbyte", voices->msPerByte).Write(S_OK);
    HRESULT hr = e->QueryInterface(iid, out);
    e->Release();
    return hr;
}
