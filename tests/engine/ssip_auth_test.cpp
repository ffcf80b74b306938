// The handshake with the bridge: the proofs as an independent HMAC-SHA256
// computes them (the bridge's Python), and a runtime that says nothing but
// its nonce to whoever holds the port without proving the key.
#include "runtime.h"
#include "ssip_auth.h"
#include "ssip_fake_server.h"

namespace {

const std::string kNonceA(64, '1'), kNonceB(64, '2');
const char kKeyHex[] = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
// Python's hmac over key bytes 0..31 and "speechrt <role> " + kNonceA + " " + kNonceB.
const char kBridgeProof[] = "80e94dcf9833780ae896b3f147637f68109421b83c314a853a138b1e193e9bf5";
const char kClientProof[] = "30da64fdf8543fcaf581898f508e615c288c5b967d5009febad0ba1e9d32efdc";

} // namespace

TEST(SsipAuthTest, TheBridgeMustProveTheKeyForOurNonceBeforeWeProveIt) {
    std::string key;
    ASSERT_TRUE(ssip::ParseKey(kKeyHex, &key));
    EXPECT_EQ(kBridgeProof, ssip::Proof(key, "bridge", kNonceA, kNonceB));
    ssip::Block challenge = {280, {kNonceB, kBridgeProof, "OK CHALLENGE"}};
    std::string answer;
    ASSERT_TRUE(ssip::AnswerChallenge(key, kNonceA, challenge, &answer));
    EXPECT_EQ(std::string("AUTH ") + kClientProof, answer);
    const struct {
        const char *what;
        ssip::Block challenge;
        std::string nonce;
    } refused[] = {
        {"our own proof played back", {280, {kNonceB, kClientProof, "OK"}}, kNonceA},
        {"a proof for another nonce of ours", challenge, kNonceB},
        {"an error instead", {500, {"ERR INVALID COMMAND"}}, kNonceA},
        {"a short nonce", {280, {kNonceB.substr(2), kBridgeProof, "OK"}}, kNonceA},
        {"no proof", {280, {kNonceB, "OK"}}, kNonceA},
    };
    for (const auto &c : refused)
        EXPECT_FALSE(ssip::AnswerChallenge(key, c.nonce, c.challenge, &answer)) << c.what;
}

class SsipAuthEngineTest : public RuntimeTest {
protected:
    void TearDown() override {
        SetEnvironmentVariableA("SPEECHRT_SSIP", NULL);
        SetEnvironmentVariableA("SPEECHRT_SSIP_KEY", NULL);
        RuntimeTest::TearDown();
    }
};

// A port taken over once the bridge has gone, by a server that speaks SSIP
// and knows nothing of the key: it hears a fresh nonce for every try, and
// not a word more, nor does a key the runtime cannot use make it speak.
TEST_F(SsipAuthEngineTest, AServerThatCannotProveTheKeyHearsNothingButANonce) {
    FakeSsipServer server;
    SetEnvironmentVariableA("SPEECHRT_SSIP", server.Address().c_str());
    const char *keys[] = {kKeyHex, "titok"};
    for (const char *keyHex : keys) {
        SetEnvironmentVariableA("SPEECHRT_SSIP_KEY", keyHex);
        ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
        ASSERT_NE(nullptr, central);
        SDATA data = {const_cast<char *>("titok"), 6};
        central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
        // Unheard: no server took it; with no usable key, the silent engine's own.
        bool usable = keyHex == kKeyHex;
        EXPECT_TRUE(WaitForLine(std::string(usable ? "Speech.Unheard" : "Speech.Finish") + " id=" +
                                std::to_string(JournalId(JournalOf("Central.Create").back())) + " text_id=1 -> 0x00000000"));
        central->Release();
        std::vector<std::string> states = JournalOf("Speech.Server");
        ASSERT_FALSE(states.empty());
        EXPECT_NE(std::string::npos, states.back().find(usable ? " state=untrusted " : " state=invalid "))
            << states.back();
    }
    std::vector<std::string> nonces;
    for (const std::string &entry : server.Received()) {
        if (entry != "<closed>")
            nonces.push_back(entry);
    }
    // One for the voice's connection, one for the text's.
    ASSERT_EQ(2u, nonces.size());
    for (const std::string &entry : nonces)
        EXPECT_TRUE(entry.size() == 69 && entry.compare(0, 5, "AUTH ") == 0) << entry;
    EXPECT_NE(nonces[0], nonces[1]);
}
