// The handshake's arithmetic: nonces from the system's generator, proofs by
// the system's HMAC-SHA256 (bcrypt, which Wine implements itself).
#include "ssip_auth.h"

#include <windows.h>

#include <bcrypt.h>

namespace ssip {

namespace {

const size_t kSecretBytes = 32;
const char kHex[] = "0123456789abcdef";

std::string ToHex(const unsigned char *bytes, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsNonce(const std::string &text) {
    std::string bytes;
    return text.size() == kSecretBytes * 2 && ParseKey(text, &bytes);
}

// Takes as long whatever the first difference: how soon a wrong proof is
// turned away tells nothing about the right one.
bool SameText(const std::string &a, const std::string &b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

bool ParseKey(const std::string &hex, std::string *key) {
    if (hex.size() != kSecretBytes * 2)
        return false;
    std::string bytes(kSecretBytes, '\0');
    for (size_t i = 0; i < kSecretBytes; ++i) {
        int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<char>(high << 4 | low);
    }
    key->swap(bytes);
    return true;
}

bool NewNonce(std::string *hex) {
    unsigned char bytes[kSecretBytes];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(NULL, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    *hex = ToHex(bytes, sizeof bytes);
    return true;
}

std::string Proof(const std::string &key, const char *role, const std::string &clientNonce,
                  const std::string &serverNonce) {
    std::string message = std::string("speechrt ") + role + " " + clientNonce + " " + serverNonce;
    BCRYPT_ALG_HANDLE algorithm = NULL;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, NULL, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
        return std::string();
    unsigned char mac[32];
    BCRYPT_HASH_HANDLE hash = NULL;
    bool done = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, NULL, 0,
                                                reinterpret_cast<PUCHAR>(const_cast<char *>(key.data())),
                                                static_cast<ULONG>(key.size()), 0));
    done = done && BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(&message[0]),
                                                 static_cast<ULONG>(message.size()), 0));
    done = done && BCRYPT_SUCCESS(BCryptFinishHash(hash, mac, sizeof mac, 0));
    if (hash)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return done ? ToHex(mac, sizeof mac) : std::string();
}

bool AnswerChallenge(const std::string &key, const std::string &clientNonce, const Block &challenge,
                     std::string *answer) {
    if (challenge.code != kChallengeCode || challenge.lines.size() != 3 || !IsNonce(challenge.lines[0]))
        return false;
    const std::string &serverNonce = challenge.lines[0];
    std::string expected = Proof(key, "bridge", clientNonce, serverNonce);
    if (expected.empty() || !SameText(expected, challenge.lines[1]))
        return false;
    std::string ours = Proof(key, "client", clientNonce, serverNonce);
    if (ours.empty())
        return false;
    *answer = "AUTH " + ours;
    return true;
}

} // namespace ssip
