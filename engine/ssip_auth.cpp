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

// bcrypt is loaded for a handshake only, on the engine's worker thread:
// imported, it would load with the runtime, before every program's first paint.
class Bcrypt {
public:
    Bcrypt() : module_(LoadLibraryA("bcrypt.dll")) {
        Find(&genRandom, "BCryptGenRandom");
        Find(&openAlgorithm, "BCryptOpenAlgorithmProvider");
        Find(&closeAlgorithm, "BCryptCloseAlgorithmProvider");
        Find(&createHash, "BCryptCreateHash");
        Find(&hashData, "BCryptHashData");
        Find(&finishHash, "BCryptFinishHash");
        Find(&destroyHash, "BCryptDestroyHash");
    }
    ~Bcrypt() {
        if (module_)
            FreeLibrary(module_);
    }
    Bcrypt(const Bcrypt &) = delete;
    Bcrypt &operator=(const Bcrypt &) = delete;

    bool Ready() const {
        return genRandom && openAlgorithm && closeAlgorithm && createHash && hashData && finishHash && destroyHash;
    }

    decltype(&BCryptGenRandom) genRandom = NULL;
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithm = NULL;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm = NULL;
    decltype(&BCryptCreateHash) createHash = NULL;
    decltype(&BCryptHashData) hashData = NULL;
    decltype(&BCryptFinishHash) finishHash = NULL;
    decltype(&BCryptDestroyHash) destroyHash = NULL;

private:
    template <typename Fn> void Find(Fn *fn, const char *name) {
        if (module_)
            *fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module_, name)));
    }

    HMODULE module_;
};

std::string Hmac(const Bcrypt &bcrypt, const std::string &key, std::string message) {
    if (!bcrypt.Ready())
        return std::string();
    BCRYPT_ALG_HANDLE algorithm = NULL;
    if (!BCRYPT_SUCCESS(bcrypt.openAlgorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, NULL, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
        return std::string();
    unsigned char mac[32];
    BCRYPT_HASH_HANDLE hash = NULL;
    bool done = BCRYPT_SUCCESS(bcrypt.createHash(algorithm, &hash, NULL, 0,
                                                 reinterpret_cast<PUCHAR>(const_cast<char *>(key.data())),
                                                 static_cast<ULONG>(key.size()), 0));
    done = done && BCRYPT_SUCCESS(bcrypt.hashData(hash, reinterpret_cast<PUCHAR>(&message[0]),
                                                  static_cast<ULONG>(message.size()), 0));
    done = done && BCRYPT_SUCCESS(bcrypt.finishHash(hash, mac, sizeof mac, 0));
    if (hash)
        bcrypt.destroyHash(hash);
    bcrypt.closeAlgorithm(algorithm, 0);
    return done ? ToHex(mac, sizeof mac) : std::string();
}

std::string Signed(const char *role, const std::string &clientNonce, const std::string &serverNonce) {
    return std::string("speechrt ") + role + " " + clientNonce + " " + serverNonce;
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
    Bcrypt bcrypt;
    unsigned char bytes[kSecretBytes];
    if (!bcrypt.Ready() ||
        !BCRYPT_SUCCESS(bcrypt.genRandom(NULL, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    *hex = ToHex(bytes, sizeof bytes);
    return true;
}

std::string Proof(const std::string &key, const char *role, const std::string &clientNonce,
                  const std::string &serverNonce) {
    return Hmac(Bcrypt(), key, Signed(role, clientNonce, serverNonce));
}

bool AnswerChallenge(const std::string &key, const std::string &clientNonce, const Block &challenge,
                     std::string *answer) {
    if (challenge.code != kChallengeCode || challenge.lines.size() != 3 || !IsNonce(challenge.lines[0]))
        return false;
    const std::string &serverNonce = challenge.lines[0];
    Bcrypt bcrypt;
    std::string expected = Hmac(bcrypt, key, Signed("bridge", clientNonce, serverNonce));
    if (expected.empty() || !SameText(expected, challenge.lines[1]))
        return false;
    std::string ours = Hmac(bcrypt, key, Signed("client", clientNonce, serverNonce));
    if (ours.empty())
        return false;
    *answer = "AUTH " + ours;
    return true;
}

} // namespace ssip
