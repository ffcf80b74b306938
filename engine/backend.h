// Where queued text turns into speech. The engine's worker thread is the only
// caller, so a backend never sees two calls at once and never runs on a
// client's thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "sapi4.h"

// How a text's turn ended.
enum SpeechEnd {
    kSpeechFinished, // spoken to its end
    kSpeechCutOff,   // the engine's cut-off came first
    kSpeechUnheard,  // given up: no server took it, or none said that it ended
};

class SpeechBackend {
public:
    virtual ~SpeechBackend() {}

    // Speaks `text` (ANSI code page, no terminating zero) in `voice` and
    // returns when it has been spoken, given up, or as soon as `cutOff` is
    // signalled. The engine owns `cutOff` and sets it from the client's
    // thread; passing the event rather than calling into the backend from
    // that thread leaves no gap between taking a text off the queue and
    // starting it.
    virtual SpeechEnd Speak(const std::string &text, const TTSMODEINFOA &voice, HANDLE cutOff) = 0;

    // Called after a Speak was cut off, to silence whatever is still sounding.
    virtual void Cancel() = 0;

    // Called once on the worker thread before anything else, so that a
    // backend can make its connections there and not on the client's thread,
    // and the first text does not pay for them. `cutOff` is signalled when
    // the engine is going away meanwhile.
    virtual void Prepare(const TTSMODEINFOA &voice, HANDLE cutOff) {
        (void)voice;
        (void)cutOff;
    }
};

// "Speaks" by waiting msPerByte milliseconds for every byte of the text.
std::unique_ptr<SpeechBackend> CreateTimingBackend(unsigned long msPerByte);

// The backend the environment asks for: SPEECHRT_SSIP ("host:port" or a
// port) names a speech-dispatcher to speak through; unset, the timing one.
std::unique_ptr<SpeechBackend> CreateBackend(unsigned long msPerByte);
