// The About message is stored enciphered and deciphered afresh each time.
#include <gtest/gtest.h>

#include <string.h>

#include "about.h"
#include "aboutmsg.h"

namespace {

TEST(AboutMessage, DeciphersTo198BytesOfTextAndEnciphersBack)
{
    char message[ABOUT_MESSAGE_SIZE + 8];
    memset(message, 0x5A, sizeof message);
    AboutDecipher(message);
    EXPECT_EQ((size_t)ABOUT_MESSAGE_SIZE, strlen(message));
    EXPECT_EQ(0x5A, message[ABOUT_MESSAGE_SIZE + 1]);
    EXPECT_EQ(0, strncmp(message, "A Verbanor Vorira és a Dalnoka", 30));
    for (int i = 0; i < ABOUT_MESSAGE_SIZE; ++i)
        ASSERT_TRUE((unsigned char)message[i] >= 0x20) << "byte " << i;

    unsigned char again[ABOUT_MESSAGE_SIZE + 1];
    memcpy(again, message, sizeof again);
    AboutApplyKey(again, kAboutKey);
    EXPECT_EQ(0, memcmp(again, kAboutCipher, sizeof again));
    // Stored enciphered: the plain text is nowhere in the stored bytes.
    EXPECT_NE(0, memcmp(kAboutCipher, message, 16));

    char second[ABOUT_MESSAGE_SIZE + 1];
    AboutDecipher(second);
    EXPECT_EQ(0, memcmp(message, second, sizeof second));
}

} // namespace
