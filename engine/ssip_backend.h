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
// programs notice nothing; it tries again with every text. With a `key` (32
// bytes) the server is a bridge that must prove it knows the key, and be
// proved to, before anything else is said (ssip_auth.h).
std::unique_ptr<SpeechBackend> CreateSsipBackend(const ssip::Address &address, unsigned long msPerByte,
                                                 const SsipTimeouts &timeouts = kSsipTimeouts,
                                                 const std::string &key = std::string());

// Notes a connection to `address` that was closed while a text of its may
// still sound (`clientId`: the server's number for it). The process's next
// connection to that server cancels it before anything else; a server that
// refuses connections has taken it along.
void KeepOrphan(const ssip::Address &address, unsigned long clientId);
