// A backend that really speaks: it hands each text to a speech-dispatcher
// over TCP (SSIP), which drives eSpeak NG.
#pragma once

#include "backend.h"
#include "ssip_protocol.h"

struct SsipTimeouts {
    DWORD connectMs;    // for the TCP connection to be made
    DWORD replyMs;      // for the answer to any one command
    DWORD endBaseMs;    // for the end of a text: this much
    DWORD endPerByteMs; // plus this much per byte, before the text counts as lost
};

// The server is on this machine: anything slower than this is a wedged one.
const SsipTimeouts kSsipTimeouts = {1000, 2000, 30000, 250};

// Speaks through the server at `address`. While no server answers there it
// is silent and takes as long as the timing backend would, so that the
// programs notice nothing; it tries again with every text.
std::unique_ptr<SpeechBackend> CreateSsipBackend(const ssip::Address &address, unsigned long msPerByte,
                                                 const SsipTimeouts &timeouts = kSsipTimeouts);
