// The About message is stored enciphered and deciphered afresh each time.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "about.h"
#include "aboutmsg.h"

namespace {

// The message as it must read, kept here independently of the cipher.
const char kExpected[] = "A Verbanor Vorira és a Dalnoka a Kelvanit felolvasó programjai. A Verbanor 4 beszédmotor "
                         "hangján olvassák fel a szöveget és a vágólap tartalmát. Jó munkát és kellemes "
                         "hallgatást kíván a Kelvanit Bt.";
static_assert(sizeof kExpected == ABOUT_MESSAGE_SIZE + 1, "198 bytes of text and its zero");

TEST(AboutMessage, DeciphersToTheWholeTextEachTime)
{
    char message[ABOUT_MESSAGE_SIZE + 8];
    memset(message, 0x5A, sizeof message);
    AboutDecipher(message);
    EXPECT_EQ(std::string(kExpected), std::string(message, strnlen(message, sizeof message)));
    EXPECT_EQ(0x5A, message[ABOUT_MESSAGE_SIZE + 1]);
    // Stored enciphered: no run of the text is in the stored bytes.
    for (int i = 0; i + 8 <= ABOUT_MESSAGE_SIZE; ++i)
        ASSERT_NE(0, memcmp(kAboutCipher + i, kExpected + i, 8)) << "plain text at byte " << i;

    char second[ABOUT_MESSAGE_SIZE + 1];
    memset(second, 0, sizeof second);
    AboutDecipher(second);
    EXPECT_EQ(0, memcmp(kExpected, second, sizeof second));
}

} // namespace
