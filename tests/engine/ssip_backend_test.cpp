// The speech-dispatcher backend against a fake server on loopback: the exact
// conversation, cutting off, queueing through the engine, and servers that
// are absent, restart or answer slowly.
#include <future>

#include "journal.h"
#include "runtime.h"
#include "ssip_auth.h"
#include "ssip_backend.h"
#include "ssip_fake_server.h"

namespace {

const char kAnna[] = "Verbanor Anna (magyar női hang)";
const char kCsilla[] = "Verbanor Csilla (magyar női hang, gyors)";

// A port nothing listens on: taken from the system, then given back.
unsigned short FreePort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    int size = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &size);
    closesocket(s);
    return ntohs(addr.sin_port);
}

class SsipBackendTest : public RuntimeTest {
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
        voice_.language.LanguageID = MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT);
        voice_.wGender = GENDER_FEMALE;
        voice_.wAge = TTSAGE_ADULT;
        lstrcpyA(voice_.szStyle, "normál");
    }
    void TearDown() override {
        CloseHandle(cutOff_);
        RuntimeTest::TearDown();
    }

    std::unique_ptr<SpeechBackend> Backend(unsigned short port, DWORD replyMs = 1000) {
        SsipTimeouts timeouts = {500, replyMs, 5000, 10};
        return CreateSsipBackend({"127.0.0.1", port}, 10, timeouts);
    }
    // Speaks and says how long it took, in milliseconds.
    DWORD Timed(SpeechBackend &backend, const std::string &text, SpeechEnd *end = NULL) {
        DWORD start = GetTickCount();
        SpeechEnd done = backend.Speak(text, voice_, cutOff_);
        if (end)
            *end = done;
        return GetTickCount() - start;
    }
    std::vector<std::string> Speaks(const FakeSsipServer &server) {
        std::vector<std::string> out;
        for (const std::string &e : server.Received()) {
            if (e == "SPEAK" || e.compare(0, 5, "DATA:") == 0 || e == "CANCEL self" || e == "<closed>")
                out.push_back(e);
        }
        return out;
    }

    HANDLE cutOff_;
    TTSMODEINFOA voice_;
};

} // namespace

TEST_F(SsipBackendTest, SetsUpItsSessionAndSpeaksEachTextAsOneMessageToItsEnd) {
    FakeSsipServer server;
    auto backend = Backend(server.Port());
    backend->Prepare(voice_, cutOff_);
    std::vector<std::string> setUp = server.Received();
    ASSERT_EQ(12u, setUp.size());
    EXPECT_EQ(0u, setUp[0].find("SET SELF CLIENT_NAME ")) << setUp[0];
    EXPECT_EQ(":ssip_tests:speechrt", setUp[0].substr(setUp[0].size() - 20));
    std::vector<std::string> rest(setUp.begin() + 1, setUp.end());
    EXPECT_EQ((std::vector<std::string>{"SET SELF PRIORITY message", "SET SELF OUTPUT_MODULE espeak-ng", "GET RATE",
                                        "GET PITCH", "SET SELF LANGUAGE hu", "SET SELF VOICE_TYPE FEMALE1",
                                        "SET SELF RATE 0", "SET SELF PITCH 0", "HISTORY GET CLIENT_ID",
                                        "SET SELF NOTIFICATION END on", "SET SELF NOTIFICATION CANCEL on"}),
              rest);

    // The fake slips a stray event and a BEGIN in before the reply; the
    // backend must still wait for this message's own END.
    SpeechEnd end = kSpeechUnheard;
    DWORD took = Timed(*backend, ".pont\r\n\xe1rv\xedzt\xfbr\xf5\n.", &end);
    EXPECT_EQ(kSpeechFinished, end);
    EXPECT_GE(took, 90u);
    EXPECT_LT(took, 1000u);
    Timed(*backend, "   \r\n"); // nothing to say: the server is not bothered
    Timed(*backend, "m\xe1sodik");
    // A long text goes out in pieces: a line break and a dot that a piece
    // boundary splits are sent as one text would have them.
    std::string longText = std::string(16383, 'a') + "\r\n.b" + std::string(20000, 'c');
    EXPECT_EQ(kSpeechFinished, backend->Speak(longText, voice_, cutOff_));
    EXPECT_EQ((std::vector<std::string>{"SPEAK", u8"DATA:..pont\r\nárvíztűrő\r\n..", "SPEAK", u8"DATA:második", "SPEAK",
                                        "DATA:" + std::string(16383, 'a') + "\r\n..b" + std::string(20000, 'c')}),
              Speaks(server));
}

// What the user set (the server's defaults, or its settings for this client)
// is what a fresh connection reports: a voice moves away from that, and back.
TEST_F(SsipBackendTest, AVoiceSetsItsRateAndPitchFromTheUsersOwn) {
    TTSMODEINFOA fast = voice_;
    lstrcpyA(fast.szStyle, "gyors");
    const struct {
        int rate, pitch;
        const char *refuse;
        std::vector<std::string> sent; // ordinary voice, "gyors", ordinary again
    } cases[] = {
        {25, -10, "", {"RATE 25", "PITCH -10", "RATE 65", "PITCH -10", "RATE 25", "PITCH -10"}},
        {80, 0, "", {"RATE 80", "PITCH 0", "RATE 100", "PITCH 0", "RATE 80", "PITCH 0"}},
        // A server that will not tell: an ordinary voice leaves the user's own
        // setting alone; back from a faster one, the factory default stands in.
        {25, -10, "GET", {"RATE 40", "RATE 0"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " refusing \"" + c.refuse + "\"");
        FakeSsipOptions options;
        options.speakMs = 10;
        options.rate = c.rate;
        options.pitch = c.pitch;
        options.refuse = c.refuse;
        FakeSsipServer server(options);
        auto backend = Backend(server.Port());
        backend->Prepare(voice_, cutOff_);
        EXPECT_EQ(kSpeechFinished, backend->Speak("gyors", fast, cutOff_));
        EXPECT_EQ(kSpeechFinished, backend->Speak("rendes", voice_, cutOff_));
        std::vector<std::string> sent;
        for (const std::string &e : server.Received()) {
            if (e.compare(0, 14, "SET SELF RATE ") == 0 || e.compare(0, 15, "SET SELF PITCH ") == 0)
                sent.push_back(e.substr(9));
        }
        EXPECT_EQ(c.sent, sent);
        EXPECT_EQ((std::vector<std::string>{"SPEAK", "DATA:gyors", "SPEAK", "DATA:rendes"}), Speaks(server));
    }
}

TEST_F(SsipBackendTest, CutOffReturnsAtOnceAndCancelDoesNotWaitForTheServer) {
    FakeSsipOptions options;
    options.speakMs = INFINITE;
    options.replyDelayMs = 150;
    FakeSsipServer server(options);
    auto backend = Backend(server.Port());
    auto speaking = std::async(std::launch::async, [&] { return backend->Speak("hossz\xfa", voice_, cutOff_); });
    ASSERT_TRUE(server.WaitFor(u8"DATA:hosszú"));
    Sleep(50);
    DWORD start = GetTickCount();
    SetEvent(cutOff_);
    EXPECT_EQ(kSpeechCutOff, speaking.get());
    EXPECT_LT(GetTickCount() - start, 50u);
    // A slow answer to CANCEL must not hold up the one who stops.
    start = GetTickCount();
    backend->Cancel();
    EXPECT_LT(GetTickCount() - start, 50u);
    ASSERT_TRUE(server.WaitFor("CANCEL self"));

    // After the stop the next text is spoken normally, and the late answer
    // to CANCEL is not taken for the answer to SPEAK.
    ResetEvent(cutOff_);
    auto next = std::async(std::launch::async, [&] { return backend->Speak("tov\xe1\x62\x62", voice_, cutOff_); });
    EXPECT_TRUE(server.WaitFor(u8"DATA:tovább"));
    SetEvent(cutOff_);
    EXPECT_EQ(kSpeechCutOff, next.get());
    backend->Cancel();
    backend.reset();
    server.WaitFor("<closed>");
    EXPECT_EQ((std::vector<std::string>{"SPEAK", u8"DATA:hosszú", "CANCEL self", "SPEAK", u8"DATA:tovább",
                                        "CANCEL self", "<closed>"}),
              Speaks(server));
}

TEST_F(SsipBackendTest, WithoutAServerItIsSilentTakesItsTimeAndSaysSoOnce) {
    {
        // Known state first: the journal line is written on each change.
        FakeSsipServer server;
        Backend(server.Port())->Prepare(voice_, cutOff_);
    }
    unsigned short backendPort = FreePort();
    auto backend = Backend(backendPort);
    for (int i = 0; i < 3; ++i) {
        SpeechEnd end = kSpeechFinished;
        DWORD took = Timed(*backend, "tizenegy b\xe1jt", &end); // 12 bytes at 10 ms
        EXPECT_EQ(kSpeechUnheard, end);
        EXPECT_GE(took, 100u);
        EXPECT_LT(took, 600u);
    }
    std::vector<std::string> unreachable;
    for (const std::string &line : JournalOf("Speech.Server")) {
        if (line.find(" state=unreachable ") != std::string::npos)
            unreachable.push_back(line);
    }
    ASSERT_EQ(1u, unreachable.size());
    EXPECT_EQ("Speech.Server address=\"127.0.0.1:" + std::to_string(backendPort) +
                  "\" state=unreachable error=10061 -> 0x8007274D",
              unreachable[0]);
}

TEST_F(SsipBackendTest, ReconnectsWhenTheServerRestarts) {
    std::unique_ptr<FakeSsipServer> server(new FakeSsipServer());
    unsigned short port = server->Port();
    auto backend = Backend(port);
    EXPECT_GE(Timed(*backend, "egy"), 90u);
    server.reset();
    // Down: silent, the programs go on.
    SpeechEnd end = kSpeechFinished;
    Timed(*backend, "kett\xf5", &end);
    EXPECT_EQ(kSpeechUnheard, end);
    FakeSsipOptions options;
    server.reset(new FakeSsipServer(options, port));
    ASSERT_EQ(port, server->Port());
    DWORD took = Timed(*backend, "h\xe1rom", &end);
    EXPECT_EQ(kSpeechFinished, end);
    EXPECT_GE(took, 90u);
    std::vector<std::string> received = server->Received();
    ASSERT_GE(received.size(), 11u);
    EXPECT_EQ(0u, received[0].find("SET SELF CLIENT_NAME "));
    EXPECT_EQ("SET SELF VOICE_TYPE FEMALE1", received[6]);
    EXPECT_EQ((std::vector<std::string>{"SPEAK", u8"DATA:három"}), Speaks(*server));
    std::vector<std::string> states;
    for (const std::string &line : JournalOf("Speech.Server"))
        states.push_back(line.substr(line.find("state=")));
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(0u, states[states.size() - 3].find("state=lost"));
    EXPECT_EQ(0u, states[states.size() - 2].find("state=unreachable"));
    EXPECT_EQ(0u, states.back().find("state=connected"));
}

TEST_F(SsipBackendTest, ASlowServerIsWaitedForWithinItsTimeAndThenGivenUp) {
    FakeSsipOptions options;
    options.replyDelayMs = 30;
    {
        FakeSsipServer slow(options);
        SpeechEnd end = kSpeechUnheard;
        Timed(*Backend(slow.Port(), 300), "lass\xfa", &end);
        EXPECT_EQ(kSpeechFinished, end);
        slow.WaitFor("<closed>");
        EXPECT_EQ((std::vector<std::string>{"SPEAK", u8"DATA:lassú", "<closed>"}), Speaks(slow));
    }
    // Wedged once the session is set up: the text's own reply never comes.
    FakeSsipOptions wedgedOptions;
    wedgedOptions.fault = FakeSsipOptions::kWedged;
    FakeSsipServer wedged(wedgedOptions);
    auto backend = Backend(wedged.Port(), 300);
    backend->Prepare(voice_, cutOff_);
    ASSERT_TRUE(wedged.WaitFor("SET SELF NOTIFICATION CANCEL on"));
    DWORD took = Timed(*backend, "x");
    // One reply timeout, then silence in place of the text: no retry.
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 700u);
    EXPECT_NE(std::string::npos, JournalOf("Speech.Server").back().find("state=lost error=10060"));
    wedged.WaitFor("<closed>");
    EXPECT_EQ((std::vector<std::string>{"SPEAK", "<closed>"}), Speaks(wedged));
}

TEST_F(SsipBackendTest, ATextWhoseReplyIsLateIsCancelledBeforeTheConnectionGoes) {
    FakeSsipOptions options;
    options.speakReplyDelayMs = 3000;
    options.speakMs = INFINITE;
    FakeSsipServer server(options);
    auto backend = Backend(server.Port(), 300);
    SpeechEnd end = kSpeechFinished;
    Timed(*backend, "k\xe9s\xf5", &end);
    EXPECT_EQ(kSpeechUnheard, end);
    ASSERT_TRUE(server.WaitFor("<closed>"));
    EXPECT_EQ((std::vector<std::string>{"SPEAK", u8"DATA:késő", "CANCEL self", "<closed>"}), Speaks(server));
}

// The text went out and was queued, but its end never comes: after the time
// the text may take, it is cancelled and given up, and the connection stays.
TEST_F(SsipBackendTest, ATextWhoseEndNeverComesIsCancelledAfterItsTime) {
    FakeSsipOptions options;
    options.speakMs = INFINITE;
    FakeSsipServer server(options);
    SsipTimeouts timeouts = {500, 1000, 300, 10};
    auto backend = CreateSsipBackend({"127.0.0.1", server.Port()}, 10, timeouts);
    SpeechEnd end = kSpeechFinished;
    DWORD took = Timed(*backend, "v\xe9g", &end);
    EXPECT_EQ(kSpeechUnheard, end);
    EXPECT_GE(took, 330u);
    ASSERT_TRUE(server.WaitFor("CANCEL self"));
    backend.reset();
    ASSERT_TRUE(server.WaitFor("<closed>"));
    EXPECT_EQ((std::vector<std::string>{"SPEAK", u8"DATA:vég", "CANCEL self", "<closed>"}), Speaks(server));
}

// A connection closed while its text may still sound leaves that text to the
// process's next connection to the server, whichever engine object makes it
// (the one that lost it is often being released): cancelled before anything
// else, and once. A server that refused a connection took its texts along.
TEST_F(SsipBackendTest, TheNextConnectionFirstCancelsWhatClosedOnesLeftSounding) {
    FakeSsipServer server;
    KeepOrphan({"127.0.0.1", server.Port()}, 41);
    KeepOrphan({"127.0.0.1", server.Port()}, 42);
    KeepOrphan({"127.0.0.1", static_cast<unsigned short>(server.Port() ^ 1)}, 43); // another server's
    Backend(server.Port())->Prepare(voice_, cutOff_);
    Backend(server.Port())->Prepare(voice_, cutOff_);
    std::vector<std::string> cancels;
    for (const std::string &e : server.Received()) {
        if (e.compare(0, 7, "CANCEL ") == 0 || e.compare(0, 21, "SET SELF CLIENT_NAME ") == 0)
            cancels.push_back(e.substr(0, 9));
    }
    EXPECT_EQ((std::vector<std::string>{"CANCEL 41", "CANCEL 42", "SET SELF ", "SET SELF "}), cancels);

    unsigned short gone = FreePort();
    KeepOrphan({"127.0.0.1", gone}, 44);
    Backend(gone)->Prepare(voice_, cutOff_);
    FakeSsipServer restarted(FakeSsipOptions(), gone);
    ASSERT_EQ(gone, restarted.Port());
    Backend(gone)->Prepare(voice_, cutOff_);
    ASSERT_FALSE(restarted.Received().empty());
    EXPECT_EQ(0u, restarted.Received()[0].find("SET SELF CLIENT_NAME ")) << "its numbers now name others' connections";
}

// Whatever the server does, a cut-off ends every wait at once, and the
// backend goes away without waiting for the server.
TEST_F(SsipBackendTest, ACutOffEndsEveryWaitWhateverTheServerDoes) {
    for (auto fault : {FakeSsipOptions::kWedged, FakeSsipOptions::kTrickling, FakeSsipOptions::kFlooding}) {
        SCOPED_TRACE(fault);
        FakeSsipOptions options;
        options.fault = fault;
        FakeSsipServer server(options);
        auto backend = Backend(server.Port(), 2000);
        ResetEvent(cutOff_);
        backend->Prepare(voice_, cutOff_);
        auto speaking = std::async(std::launch::async, [&] { return backend->Speak("sz\xf6veg", voice_, cutOff_); });
        ASSERT_TRUE(server.WaitFor("SPEAK"));
        Sleep(100);
        DWORD start = GetTickCount();
        SetEvent(cutOff_);
        ASSERT_EQ(std::future_status::ready, speaking.wait_for(std::chrono::seconds(1)));
        if (fault == FakeSsipOptions::kFlooding) {
            // Dropped as soon as the flood outgrew any reply, perhaps before the cut-off.
            speaking.get();
            EXPECT_NE(std::string::npos, JournalOf("Speech.Server").back().find("state=broken"));
        } else {
            EXPECT_EQ(kSpeechCutOff, speaking.get());
        }
        backend->Cancel();
        backend.reset();
        EXPECT_LT(GetTickCount() - start, 1000u);
    }
}

TEST_F(SsipBackendTest, AServerThatRefusesNotificationsIsNotUsed) {
    FakeSsipOptions options;
    options.refuse = "SET SELF NOTIFICATION";
    FakeSsipServer server(options);
    auto backend = Backend(server.Port());
    SpeechEnd end = kSpeechFinished;
    Timed(*backend, "nem", &end);
    EXPECT_EQ(kSpeechUnheard, end);
    EXPECT_TRUE(Speaks(server).empty() || Speaks(server) == std::vector<std::string>{"<closed>"});
    EXPECT_NE(std::string::npos, JournalOf("Speech.Server").back().find("state=refused code=500"));
}

// The real speech-dispatcher that SPEECHRT_TEST_SERVER names (the
// ssip_real_server test starts one on a null sink), its reply to the text
// held back past the time-out: the text must still be cancelled.
TEST_F(SsipBackendTest, RealServerCancelsATextWhoseReplyCameTooLate) {
    char named[64];
    DWORD len = GetEnvironmentVariableA("SPEECHRT_TEST_SERVER", named, sizeof named);
    ssip::Address server;
    if (len == 0 || len >= sizeof named || !ssip::ParseAddress(named, &server))
        GTEST_SKIP() << "no speech server named";
    SsipProxy proxy(server.port, 5000);
    ssip::Address through;
    ASSERT_TRUE(ssip::ParseAddress(proxy.Address(), &through));
    SsipTimeouts timeouts = {1000, 500, 30000, 250};
    // The server is behind its bridge, which wants the handshake first.
    char keyHex[80];
    std::string key;
    len = GetEnvironmentVariableA("SPEECHRT_TEST_SERVER_KEY", keyHex, sizeof keyHex);
    ASSERT_TRUE(len == 0 || ssip::ParseKey(std::string(keyHex, len < sizeof keyHex ? len : 0), &key));
    auto backend = CreateSsipBackend(through, 1, timeouts, key);
    std::string text;
    for (int i = 0; i < 6; ++i)
        text += "Ez egy hossz\xfa mondat, amelyet a szerver sok\xe1ig mondana. ";
    SpeechEnd end = kSpeechFinished;
    Timed(*backend, text, &end);
    EXPECT_EQ(kSpeechUnheard, end);
    // Ten seconds of speech: only a CANCEL ends it this soon.
    EXPECT_TRUE(proxy.WaitFromServer("703", 1500)) << "the server still speaks the text";
    // The rate the server was configured with, as a user would: an ordinary voice keeps it.
    char rate[8];
    len = GetEnvironmentVariableA("SPEECHRT_TEST_SERVER_RATE", rate, sizeof rate);
    if (len && len < sizeof rate) {
        EXPECT_NE(std::string::npos, proxy.FromClient().find("SET SELF RATE " + std::string(rate) + "\r\n"));
    }
}

// Through the runtime as the programs use it, with SPEECHRT_SSIP set.
class SsipEngineTest : public RuntimeTest {
protected:
    void TearDown() override {
        SetEnvironmentVariableA("SPEECHRT_SSIP", NULL);
        RuntimeTest::TearDown();
    }
    static HRESULT Speak(ITTSCentralA *central, const char *text) {
        SDATA data = {const_cast<char *>(text), static_cast<DWORD>(lstrlenA(text) + 1)};
        return central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
    }
};

TEST_F(SsipEngineTest, TextsQueueOneMessageAtATimeAndAudioResetCancels) {
    FakeSsipOptions options;
    options.speakMs = 300;
    options.replyDelayMs = 20;
    FakeSsipServer server(options);
    SetEnvironmentVariableA("SPEECHRT_SSIP", server.Address().c_str());
    ITTSCentralA *central = SelectMode(kCsilla);
    ASSERT_NE(nullptr, central);
    ASSERT_TRUE(server.WaitFor("SET SELF NOTIFICATION CANCEL on"));
    EXPECT_TRUE(server.WaitFor("SET SELF VOICE_TYPE FEMALE2", 0));
    EXPECT_TRUE(server.WaitFor("SET SELF RATE 40", 0));

    // The programs' thread never waits on the server, however slow it is.
    DWORD start = GetTickCount();
    Speak(central, "egy");
    Speak(central, "kett\xf5");
    Speak(central, "h\xe1rom");
    // Each text takes the server 300 ms: a caller that waited would show it,
    // while a loaded test machine does not.
    EXPECT_LT(GetTickCount() - start, 200u);
    ASSERT_TRUE(server.WaitFor(u8"DATA:kettő"));
    start = GetTickCount();
    central->AudioReset();
    EXPECT_LT(GetTickCount() - start, 200u);
    ASSERT_TRUE(server.WaitFor("CANCEL self"));
    Speak(central, "n\xe9gy");
    ASSERT_TRUE(server.WaitFor(u8"DATA:négy"));

    // Released while speaking: cancelled before the connection goes.
    start = GetTickCount();
    central->Release();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ((std::vector<std::string>{u8"DATA:egy", u8"DATA:kettő", "CANCEL self", u8"DATA:négy", "CANCEL self",
                                        "<closed>"}),
              [&] {
                  server.WaitFor("<closed>");
                  std::vector<std::string> out;
                  for (const std::string &e : server.Received()) {
                      if (e.compare(0, 5, "DATA:") == 0 || e == "CANCEL self" || e == "<closed>")
                          out.push_back(e);
                  }
                  return out;
              }());
    EXPECT_EQ(2u, JournalOf("Speech.CutOff").size());
}

TEST_F(SsipEngineTest, ReleaseReturnsAtOnceWhateverTheServerDoes) {
    for (auto fault : {FakeSsipOptions::kWedged, FakeSsipOptions::kTrickling, FakeSsipOptions::kFlooding}) {
        SCOPED_TRACE(fault);
        FakeSsipOptions options;
        options.fault = fault;
        FakeSsipServer server(options);
        SetEnvironmentVariableA("SPEECHRT_SSIP", server.Address().c_str());
        ITTSCentralA *central = SelectMode(kAnna);
        ASSERT_NE(nullptr, central);
        Speak(central, "egy");
        ASSERT_TRUE(server.WaitFor("SPEAK"));
        Sleep(100);
        DWORD start = GetTickCount();
        central->AudioReset();
        EXPECT_NE(std::string::npos, JournalOf("Central.AudioReset").back().find(" dropped=0 cut=1 "))
            << "the text the server holds is the one cut off";
        Speak(central, "kett\xf5");
        EXPECT_EQ(0u, central->Release());
        EXPECT_LT(GetTickCount() - start, 1000u);
        // A worker still ending on its own time-outs keeps the DLL loaded.
        DWORD waited = GetTickCount();
        while (Runtime().CanUnloadNow() != S_OK && GetTickCount() - waited < 10000)
            Sleep(20);
        EXPECT_EQ(S_OK, Runtime().CanUnloadNow());
    }
}

TEST_F(SsipEngineTest, AnUnsetOrMalformedAddressKeepsTheSilentEngine) {
    SetEnvironmentVariableA("SPEECHRT_SSIP", "localhost:nincs");
    ITTSCentralA *central = SelectMode(kAnna);
    ASSERT_NE(nullptr, central);
    central->Release();
    EXPECT_EQ((std::vector<std::string>{"Speech.Server address=\"localhost:nincs\" state=invalid -> 0x80070057"}),
              JournalOf("Speech.Server"));
}
