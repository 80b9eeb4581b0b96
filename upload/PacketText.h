// The unit's text as the dialogue sees it: a packet normalised for display and matching, and
// the six messages of the unit with the dialogue state each is looked for in.
#pragma once

#include "platform/Exception.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace upload {

// A copy of the packet in which every LF and then every CR becomes '-' and every '.' is
// deleted, so the unit's line ends show as "--" and full stops never hinder a match.
AnsiString NormalisePacket(const AnsiString& packet);

// True when `message` occurs as one contiguous, case-sensitive run of bytes in `text`,
// looking only at the bytes before the first NUL of `text`. An empty message never matches.
bool ContainsMessage(const AnsiString& text, std::string_view message);

// One message of the unit: the dialogue state it is looked for in, the status text it
// causes and the state it leads to.
struct UnitMessage
{
    std::string_view text;
    std::uint8_t lookedForIn;
    std::string_view statusText;
    std::uint8_t nextState;
};

// The six messages, in the order in which they are looked for within each state.
extern const std::array<UnitMessage, 6> UnitMessages;

// The first message (in the table's order) that is looked for in `state` and occurs in the
// normalised `text`; null when none does.
const UnitMessage* FindMessage(const AnsiString& text, std::uint8_t state);

} // namespace upload
