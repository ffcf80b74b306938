// The silent backend: it takes as long as speaking would, which is all that
// the clients and their tests can observe.
#include "backend.h"

#include <new>

namespace {

class TimingBackend final : public SpeechBackend {
public:
    explicit TimingBackend(unsigned long msPerByte) : msPerByte_(msPerByte) {}

    SpeechEnd Speak(const std::string &text, const TTSMODEINFOA &, HANDLE cutOff) override {
        unsigned long long ms = static_cast<unsigned long long>(text.size()) * msPerByte_;
        // INFINITE is a wait that never ends; a huge text merely waits long.
        if (ms >= INFINITE)
            ms = INFINITE - 1;
        return WaitForSingleObject(cutOff, static_cast<DWORD>(ms)) == WAIT_TIMEOUT ? kSpeechFinished : kSpeechCutOff;
    }

    void Cancel() override {}

private:
    unsigned long msPerByte_;
};

} // namespace

std::unique_ptr<SpeechBackend> CreateTimingBackend(unsigned long msPerByte) {
    return std::unique_ptr<SpeechBackend>(new (std::nothrow) TimingBackend(msPerByte));
}
