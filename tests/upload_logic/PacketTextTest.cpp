// The unit's text as the dialogue sees it: normalising a packet and finding the unit's
// messages in it.
#include "upload/PacketText.h"

#include <gtest/gtest.h>
#include <vector>

using namespace std::string_literals;
using upload::ContainsMessage;
using upload::FindMessage;
using upload::MessageJoin;
using upload::MessageStartAtEnd;
using upload::NormalisePacket;

TEST(NormalisePacket, LineEndsBecomeHyphensAndFullStopsGo)
{
    const struct
    {
        AnsiString packet;
        AnsiString text;
    } cases[] = {
        {"", ""},
        {"CRC is OK.\r\n", "CRC is OK--"},
        {"Please start up\r\n", "Please start up--"},
        {"Erasing...\r\n", "Erasing--"},
        {"...", ""},
        {"\n\r\n\r", "----"},
        {"a-b.c", "a-bc"},
        {"x\0y.\r"s, "x\0y-"s},
        {"\x11\x13\xff", "\x11\x13\xff"},
    };
    for (const auto& c : cases) {
        const AnsiString packet = c.packet;
        EXPECT_EQ(NormalisePacket(packet), c.text) << "packet: " << c.packet;
        EXPECT_EQ(packet, c.packet) << "the packet itself is left unchanged";
    }
}

TEST(ContainsMessage, ContiguousCaseSensitiveAndOnlyBeforeTheFirstNul)
{
    const struct
    {
        AnsiString text;
        const char* message;
        bool found;
    } cases[] = {
        {"Please start up--", "Please start up", true},
        {"xxPlease start upyy", "Please start up", true},
        {"please start up--", "Please start up", false},
        {"Please st", "Please start up", false},
        {"art up--", "Please start up", false},
        {"Please  start up", "Please start up", false},
        {"CRC is OK\0"s, "CRC is OK", true},
        {"\0CRC is OK"s, "CRC is OK", false},
        {"CRC is\0 OK"s, "CRC is OK", false},
        {"", "CRC is OK", false},
        {"anything", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ContainsMessage(c.text, c.message), c.found)
            << "text: " << c.text << " message: " << c.message;
}

TEST(FindMessage, EachStateLooksForItsOwnMessagesInOrder)
{
    const struct
    {
        AnsiString packet;
        std::uint8_t state;
        const char* status; // nullptr: no message recognised
        std::uint8_t next;
    } cases[] = {
        {"Please start up\r\n", 0, "Connection established", 1},
        {"Please start up\r\n", 1, nullptr, 0},
        {"Please start up\r\n", 3, nullptr, 0},
        {"PLEASE START UP\r\n", 0, nullptr, 0},
        {"programming complete\r\n", 3, "Programming Complete.  Checking CRC...", 4},
        {"programming failed\r\n", 3, "Programming Failed!!!  Waiting for Connection...", 0},
        {"Download failed\r\n", 3, "Download Failed!!!  Waiting for Connection...", 0},
        {"CRC is BAD\r\n", 4, "CRC Bad!!!  Waiting for Connection...", 0},
        {"CRC is OK\r\n", 4, "CRC OK!!!  Waiting for Connection...", 0},
        {"CRC is O.K\r\n", 4, "CRC OK!!!  Waiting for Connection...", 0},
        {"Download fa.iled", 3, "Download Failed!!!  Waiting for Connection...", 0},
        // Order of search when a packet holds two messages.
        {"programming failed programming complete", 3, "Programming Complete.  Checking CRC...", 4},
        {"CRC is OK CRC is BAD", 4, "CRC Bad!!!  Waiting for Connection...", 0},
        // Messages out of their state are not looked at.
        {"programming failed\r\n", 4, nullptr, 0},
        {"CRC is OK\r\n", 3, nullptr, 0},
        {"CRC is OK\r\n", 2, nullptr, 0},
        // While the file goes out: the unit gives up, or starts again.
        {"Download failed\r\n", 2, "Download Failed!!!  Waiting for Connection...", 0},
        {"Please start up\r\n", 2, "Connection established", 1},
        {"programming failed\r\n", 2, nullptr, 0},
        {"Erasing...\r\n", 3, nullptr, 0},
        // A line end inside a message hinders it: it became a hyphen.
        {"CRC is\r\nOK", 4, nullptr, 0},
    };
    for (const auto& c : cases) {
        const auto* message = FindMessage(NormalisePacket(c.packet), c.state);
        SCOPED_TRACE("packet: " + c.packet + " state: " + std::to_string(c.state));
        if (!c.status) {
            EXPECT_EQ(message, nullptr);
            continue;
        }
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->statusText, c.status);
        EXPECT_EQ(message->nextState, c.next);
    }
}

TEST(MessageStartAtEnd, TheLongestEndThatBeginsAMessageOfTheState)
{
    const struct
    {
        const char* text;
        std::uint8_t state;
        std::size_t length;
    } cases[] = {
        {"Programming--programming compl", 3, 17},
        {"programmin", 3, 10},
        {"Download fa", 3, 11},
        {"Erasing--", 3, 0},
        {"", 3, 0},
        {"Setup", 3, 1},                // "p" may begin "programming ..."
        {"programming complete", 3, 0}, // a whole message is no beginning of one
        {"Checking CRC--CRC is O", 4, 8},
        {"CRC is O", 3, 0}, // state 3 does not look for it
        {"--Please st", 0, 9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageStartAtEnd(c.text, c.state), c.length)
            << "text: " << c.text << " state: " << int(c.state);
}

TEST(MessageJoin, AMessageCutByAPauseIsFoundOnceInTheNextPacket)
{
    const struct
    {
        std::vector<AnsiString> packets; // normalised texts, one state
        std::uint8_t state;
        std::vector<bool> found; // per packet
    } cases[] = {
        {{"Programming--programming compl", "ete--Checking CRC--"}, 3, {false, true}},
        {{"programmin", "g complete--"}, 3, {false, true}},
        {{"CRC is ", "O", "K--"}, 4, {false, false, true}},
        {{"Please st", "art up--"}, 0, {false, true}},
        // What is kept holds no whole message, so none is found twice.
        {{"CRC is OK--", "--"}, 4, {true, false}},
        // Unrelated text between the two halves breaks the message.
        {{"programming com", "Erasing--", "plete--"}, 3, {false, false, false}},
    };
    for (const auto& c : cases) {
        MessageJoin join;
        for (std::size_t i = 0; i < c.packets.size(); ++i) {
            const AnsiString joined = join.Join(c.packets[i], c.state);
            const bool found = FindMessage(joined, c.state) != nullptr;
            join.Keep(joined, c.state, found);
            EXPECT_EQ(found, c.found[i]) << "packet " << i << ": " << c.packets[i];
        }
    }
}

TEST(MessageJoin, WhatWasKeptBelongsToItsStateAndClearGoesBackToNothing)
{
    MessageJoin join;
    join.Keep("programming comp", 3, false);
    EXPECT_TRUE(join.MessageInProgress());
    EXPECT_EQ(join.Join("lete--", 4), "lete--");
    EXPECT_EQ(join.Join("lete--", 3), "programming complete--");
    join.Clear();
    EXPECT_FALSE(join.MessageInProgress());
    EXPECT_EQ(join.Join("lete--", 3), "lete--");
}
