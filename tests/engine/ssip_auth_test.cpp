// The handshake with the bridge: the proofs as an independent HMAC-SHA256
// computes them, a backend that talks only to a peer that proves the key,
// and the runtime that says nothing to whoever holds the port without it.
#include "journal.h"
#include "runtime.h"
#include "ssip_auth.h"
#include "ssip_backend.h"
#include "ssip_fake_server.h"

namespace {

const std::string kNonceA(64, '1'), kNonceB(64, '2');
const char kKeyHex[] = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
// Python's hmac over key bytes 0..31 and "speechrt <role> " + kNonceA + " " + kNonceB.
const char kBridgeProof[] = "80e94dcf9833780ae896b3f147637f68109421b83c314a853a138b1e193e9bf5";
const char kClientProof[] = "30da64fdf8543fcaf581898f508e615c288c5b967d5009febad0ba1e9d32efdc";

std::string Key(const char *hex) {
    std::string key;
    EXPECT_TRUE(ssip::ParseKey(hex, &key));
    return key;
}

// The bridge's side, for the fake server: a fresh nonce for every AUTH with a
// nonce, then the client's proof checked against it.
std::function<std::string(const std::string &)> Bridge(const std::string &key) {
    auto serverNonce = std::make_shared<std::string>();
    auto clientNonce = std::make_shared<std::string>();
    return [=](const std::string &line) -> std::string {
        std::string value = line.substr(5);
        if (serverNonce->empty()) {
            *clientNonce = value;
            ssip::NewNonce(serverNonce.get());
            return "280-" + *serverNonce + "\r\n280-" + ssip::Proof(key, "bridge", value, *serverNonce) +
                   "\r\n280 OK CHALLENGE";
        }
        bool proved = value == ssip::Proof(key, "client", *clientNonce, *serverNonce);
        serverNonce->clear();
        return proved ? "281 OK AUTHENTICATED" : "";
    };
}

bool IsAuthWithNonce(const std::string &entry) {
    std::string nonce;
    return entry.size() == 69 && entry.compare(0, 5, "AUTH ") == 0 && ssip::ParseKey(entry.substr(5), &nonce);
}

} // namespace

TEST(SsipAuthTest, ProofsAreHmacSha256OfTheRoleAndBothNonces) {
    std::string key = Key(kKeyHex);
    EXPECT_EQ(kBridgeProof, ssip::Proof(key, "bridge", kNonceA, kNonceB));
    EXPECT_EQ(kClientProof, ssip::Proof(key, "client", kNonceA, kNonceB));

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

    std::string ignored;
    EXPECT_FALSE(ssip::ParseKey(std::string(kKeyHex).substr(1), &ignored));
    EXPECT_FALSE(ssip::ParseKey(std::string(kKeyHex).replace(7, 1, "g"), &ignored));
    std::string first, second;
    ASSERT_TRUE(ssip::NewNonce(&first));
    ASSERT_TRUE(ssip::NewNonce(&second));
    EXPECT_TRUE(IsAuthWithNonce("AUTH " + first)) << first;
    EXPECT_NE(first, second);
}

class SsipAuthBackendTest : public RuntimeTest {
protected:
    static void SetUpTestSuite() {
        JournalStartup();
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    void SetUp() override {
        RuntimeTest::SetUp();
        cutOff_ = CreateEventA(NULL, TRUE, FALSE, NULL);
        voice_ = TTSMODEINFOA();
        voice_.wGender = GENDER_FEMALE;
        lstrcpyA(voice_.szStyle, "normál");
    }
    void TearDown() override {
        CloseHandle(cutOff_);
        SetEnvironmentVariableA("SPEECHRT_SSIP", NULL);
        SetEnvironmentVariableA("SPEECHRT_SSIP_KEY", NULL);
        RuntimeTest::TearDown();
    }
    std::string LastState() {
        std::vector<std::string> lines = JournalOf("Speech.Server");
        return lines.empty() ? std::string() : lines.back().substr(lines.back().find(" state=") + 1);
    }

    HANDLE cutOff_;
    TTSMODEINFOA voice_;
};

// A port taken over after the bridge has gone: whoever holds it gets our
// nonce and nothing else, whether it speaks SSIP or answers with a proof of
// its own.
TEST_F(SsipAuthBackendTest, SpeaksOnlyAfterThePeerProvedTheKeyAndWasProvedTo) {
    std::string key = Key(kKeyHex);
    FakeSsipOptions options;
    options.auth = Bridge(key);
    std::unique_ptr<FakeSsipServer> server(new FakeSsipServer(options));
    unsigned short port = server->Port();
    SsipTimeouts timeouts = {500, 1000, 5000, 10};
    auto backend = CreateSsipBackend({"127.0.0.1", port}, 10, timeouts, key);
    EXPECT_TRUE(backend->Speak("egy", voice_, cutOff_));
    std::vector<std::string> received = server->Received();
    ASSERT_GE(received.size(), 4u);
    EXPECT_TRUE(IsAuthWithNonce(received[0])) << received[0];
    EXPECT_EQ(0u, received[2].find("SET SELF CLIENT_NAME ")) << received[2];
    EXPECT_EQ("DATA:egy", received.back());
    EXPECT_EQ("state=connected -> 0x00000000", LastState());

    FakeSsipOptions other;
    other.auth = Bridge(Key("ff0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
    for (FakeSsipOptions impostor : {other, FakeSsipOptions()}) {
        server.reset();
        server.reset(new FakeSsipServer(impostor, port));
        ASSERT_EQ(port, server->Port());
        EXPECT_TRUE(backend->Speak("titok", voice_, cutOff_));
        server->WaitFor("<closed>");
        received = server->Received();
        ASSERT_EQ(2u, received.size());
        EXPECT_TRUE(IsAuthWithNonce(received[0])) << received[0];
        EXPECT_EQ("<closed>", received[1]);
    }
    EXPECT_EQ("state=untrusted -> 0x00000000", LastState());
}

TEST_F(SsipAuthBackendTest, TheRuntimeWithAKeyNeverTalksPlainSsip) {
    FakeSsipServer server;
    SetEnvironmentVariableA("SPEECHRT_SSIP", server.Address().c_str());
    const char *keys[] = {kKeyHex, "titok"};
    for (const char *keyHex : keys) {
        SetEnvironmentVariableA("SPEECHRT_SSIP_KEY", keyHex);
        ITTSCentralA *central = SelectMode("Verbanor Anna (magyar női hang)");
        ASSERT_NE(nullptr, central);
        SDATA data = {const_cast<char *>("titok"), 6};
        central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
        EXPECT_TRUE(WaitForLine("Speech.Finish id=" +
                                std::to_string(JournalId(JournalOf("Central.Create").back())) + " text_id=1 -> 0x00000000"));
        central->Release();
    }
    // A key the runtime cannot use is not a reason to speak without it.
    EXPECT_EQ("state=invalid -> 0x80070057", LastState());
    std::vector<std::string> received = server.Received();
    ASSERT_FALSE(received.empty());
    for (const std::string &entry : received)
        EXPECT_TRUE(IsAuthWithNonce(entry) || entry == "<closed>") << entry;
}
