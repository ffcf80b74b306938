// The handshake with the bridge in front of a speech-dispatcher: any local
// account, and any web page, can reach a port of 127.0.0.1, so each side
// proves that it knows the secret of this run before a word is said, and
// neither ever sends the secret itself.
//
//   runtime: AUTH <our nonce>
//   bridge:  280-<its nonce>
//            280-<HMAC-SHA256(key, "speechrt bridge " + our nonce + " " + its nonce)>
//            280 OK CHALLENGE
//   runtime: AUTH <HMAC-SHA256(key, "speechrt client " + our nonce + " " + its nonce)>
//   bridge:  281 OK AUTHENTICATED
//
// Nonces are 32 random bytes, key and MACs 32 bytes, all as 64 lowercase hex
// digits. The two roles are named in what is signed, so that neither side's
// proof can be played back as the other's.
#pragma once

#include <string>

#include "ssip_protocol.h"

namespace ssip {

const int kChallengeCode = 280;
const int kAuthenticatedCode = 281;

// The secret as 32 bytes, from its 64 hex digits; false for anything else.
bool ParseKey(const std::string &hex, std::string *key);

// 32 fresh random bytes as hex; false when the system gives none.
bool NewNonce(std::string *hex);

// HMAC-SHA256(key, "speechrt " + role + " " + ours + " " + theirs) as hex;
// empty when the system's hashing fails.
std::string Proof(const std::string &key, const char *role, const std::string &clientNonce,
                  const std::string &serverNonce);

// Checks the bridge's answer to "AUTH <clientNonce>" and gives the line that
// proves us in turn; false when the bridge did not prove that it knows `key`.
bool AnswerChallenge(const std::string &key, const std::string &clientNonce, const Block &challenge,
                     std::string *answer);

} // namespace ssip
