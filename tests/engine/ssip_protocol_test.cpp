// The socket-free parts of the speech-dispatcher backend: the text on the
// wire, splitting the server's answers, voices and addresses.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "ssip_protocol.h"

namespace {

// What the server makes of a data block: the text up to the first end
// marker, with a doubled dot at a line start undone.
std::string ServerReads(const std::string &wire, size_t *markerAt) {
    *markerAt = wire.find("\r\n.\r\n");
    std::string text = wire.substr(0, *markerAt), out;
    size_t pos = 0;
    for (;;) {
        size_t end = text.find("\r\n", pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        out += line.compare(0, 2, "..") == 0 ? line.substr(1) : line;
        if (end == std::string::npos)
            return out;
        out += "\r\n";
        pos = end + 2;
    }
}

} // namespace

TEST(SsipText, LineStartDotsAreDoubledAndEveryLineBreakIsCrLf) {
    const struct {
        const char *in, *wire;
    } cases[] = {
        {"Szia", "Szia\r\n.\r\n"},
        {".", "..\r\n.\r\n"},
        {".pont", "..pont\r\n.\r\n"},
        {"a.b\r\n.c", "a.b\r\n..c\r\n.\r\n"},
        {"a\n.\nb", "a\r\n..\r\nb\r\n.\r\n"},
        {"a\r.b", "a\r\n..b\r\n.\r\n"},
        {"a\r\n", "a\r\n\r\n.\r\n"},
        {"\n\n..", "\r\n\r\n...\r\n.\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.wire, ssip::SpeakData(c.in)) << c.in;
}

TEST(SsipText, NoTextEndsEarlyOrComesBackAltered) {
    // Dots and line breaks in every arrangement, sent in pieces cut anywhere:
    // the server must read back exactly the text (line breaks as CRLF) and
    // find the end only at the end.
    srand(6);
    const char alphabet[] = {'.', '.', '\r', '\n', 'a'};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int n = rand() % 12; n > 0; --n)
            text += alphabet[rand() % sizeof alphabet];
        ssip::SpeakWriter writer;
        std::string wire;
        for (size_t at = 0, cut; at < text.size(); at = cut) {
            cut = at + 1 + rand() % 4;
            wire += writer.Piece(text.substr(at, cut - at));
        }
        wire += ssip::SpeakWriter::End();
        size_t markerAt;
        std::string read = ServerReads(wire, &markerAt);
        ASSERT_EQ(wire.size() - 5, markerAt) << "text: " << ::testing::PrintToString(text);
        std::string plain;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' || text[i] == '\n') {
                if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                plain += "\r\n";
            } else {
                plain += text[i];
            }
        }
        ASSERT_EQ(plain, read) << "text: " << ::testing::PrintToString(text);
    }
}

TEST(SsipText, PiecesNeverSplitADoubleByteCharacter) {
    const std::string text = "a\x82\xa0\x82\xa0" "b"; // two characters of code page 932 between a and b
    EXPECT_EQ(1u, ssip::PieceEnd(text, 0, 2, 932));
    EXPECT_EQ(3u, ssip::PieceEnd(text, 1, 3, 932));
    EXPECT_EQ(5u, ssip::PieceEnd(text, 3, 2, 932));
    EXPECT_EQ(6u, ssip::PieceEnd(text, 5, 16, 932));
    EXPECT_EQ(2u, ssip::PieceEnd("a\x82", 1, 16, 932)) << "a lead byte that ends the text stands alone";
    EXPECT_EQ(2u, ssip::PieceEnd(text, 0, 2, 1250));
}

TEST(SsipText, AnsiTextReachesTheServerAsUtf8) {
    ASSERT_EQ(1250u, GetACP()) << "run under LC_ALL=hu_HU.UTF-8";
    // Every Hungarian accented letter, both cases, as code page 1250 bytes.
    EXPECT_EQ(u8"árvíztűrő tükörfúrógép ÁRVÍZTŰRŐ TÜKÖRFÚRÓGÉP",
              ssip::AnsiToUtf8("\xe1rv\xedzt\xfbr\xf5 t\xfck\xf6rf\xfar\xf3g\xe9p "
                               "\xc1RV\xcdZT\xdbR\xd5 T\xdcK\xd6RF\xdaR\xd3G\xc9P"));
    EXPECT_EQ(u8"„Š€”", ssip::AnsiToUtf8("\x84\x8a\x80\x94"));
    EXPECT_TRUE(ssip::HasSpeech(" \t\xe1 "));
    EXPECT_FALSE(ssip::HasSpeech(" \r\n\t"));
}

TEST(SsipReader, RepliesAndEventsAreToldApartHoweverTheBytesArrive) {
    const std::string stream = "230 OK RECEIVING DATA\r\n"
                               "701-5\r\n701-2\r\n701 BEGIN\r\n"
                               "225-5\r\n225 OK MESSAGE QUEUED\r\n"
                               "702-5\r\n702-2\r\n702 END\r\n";
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        ssip::Reader reader;
        reader.Feed(stream.data(), cut);
        reader.Feed(stream.data() + cut, stream.size() - cut);
        std::vector<ssip::Block> blocks;
        ssip::Block b;
        while (reader.Next(&b))
            blocks.push_back(b);
        ASSERT_EQ(4u, blocks.size()) << "cut at " << cut;
        EXPECT_FALSE(blocks[0].IsEvent());
        EXPECT_EQ(230, blocks[0].code);
        EXPECT_TRUE(blocks[1].IsEvent());
        EXPECT_EQ(5u, blocks[1].MessageId());
        EXPECT_EQ(225, blocks[2].code);
        EXPECT_EQ(5u, blocks[2].MessageId());
        EXPECT_EQ("END", blocks[3].lines.back());
        EXPECT_FALSE(reader.Broken());
    }
}

TEST(SsipReader, WhatIsNotSsipBreaksTheConnection) {
    for (const char *garbage : {"HTTP/1.1 400 Bad Request\r\n", "225-5\r\n226 OK\r\n", "20 OK\r\n"}) {
        ssip::Reader reader;
        reader.Feed(garbage, strlen(garbage));
        EXPECT_TRUE(reader.Broken()) << garbage;
    }
    // Well-formed but endless: a block that never ends, and one line too
    // long for any reply, even when it arrives whole.
    ssip::Reader endless;
    const std::string more = "701-1\r\n";
    for (int i = 0; i < 1000000 && !endless.Broken(); ++i)
        endless.Feed(more.data(), more.size());
    EXPECT_TRUE(endless.Broken()) << "an unfinished block must not grow without end";
    ssip::Reader longLine;
    std::string line = "225-" + std::string(1 << 20, 'x') + "\r\n";
    longLine.Feed(line.data(), line.size());
    EXPECT_TRUE(longLine.Broken());
}

TEST(SsipVoices, TheThreeVerbanorVoicesSoundDifferentInHungarian) {
    auto mode = [](WORD gender, const char *style) {
        TTSMODEINFOA m = {};
        m.language.LanguageID = MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT);
        m.wGender = gender;
        m.wAge = TTSAGE_ADULT;
        lstrcpyA(m.szStyle, style);
        return ssip::VoiceFor(m);
    };
    ssip::Voice anna = mode(GENDER_FEMALE, "normál"), bence = mode(GENDER_MALE, "normál"),
                csilla = mode(GENDER_FEMALE, "gyors");
    EXPECT_EQ("hu", anna.language);
    EXPECT_EQ("FEMALE1", anna.voiceType);
    EXPECT_EQ("MALE1", bence.voiceType);
    EXPECT_NE(anna.voiceType, csilla.voiceType);
    EXPECT_GT(csilla.rate, anna.rate);
    EXPECT_EQ(0, anna.rate);
}

TEST(SsipAddress, HostAndPortAreReadOrRefused) {
    ssip::Address a;
    ASSERT_TRUE(ssip::ParseAddress("127.0.0.1:6576", &a));
    EXPECT_EQ("127.0.0.1", a.host);
    EXPECT_EQ(6576, a.port);
    ASSERT_TRUE(ssip::ParseAddress("6561", &a));
    EXPECT_EQ("127.0.0.1", a.host);
    EXPECT_EQ(6561, a.port);
    ASSERT_TRUE(ssip::ParseAddress("localhost", &a));
    EXPECT_EQ(ssip::kDefaultPort, a.port);
    for (const char *bad : {"host:", "host:99999", "host:0", "host:12x", ":"})
        EXPECT_FALSE(ssip::ParseAddress(bad, &a)) << bad;
}
