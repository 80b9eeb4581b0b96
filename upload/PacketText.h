// The unit's text as the dialogue sees it: a packet normalised for display and matching, and
// the six messages of the unit with the dialogue state each is looked for in.
#pragma once

#include "platform/Exception.h"

#include <array>
#include <cstddef>
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

// Whether `message` is looked for in `state`: its own state, and while the file is sent
// (state 2) the greeting and "Download failed", which end the transfer.
bool LookedFor(const UnitMessage& message, std::uint8_t state);

// The first message (in the table's order) that is looked for in `state` and occurs in the
// normalised `text`; null when none does.
const UnitMessage* FindMessage(const AnsiString& text, std::uint8_t state);

// The length of the longest end of `text` that is the beginning (shorter than the whole) of a
// message looked for in `state`: the part of a message that a pause on the line may have cut
// off from its rest, which the next packet brings. 0 when the text ends with no such part.
std::size_t MessageStartAtEnd(std::string_view text, std::uint8_t state);

// Matching across packet boundaries. A pause on the line can end a packet anywhere, also
// inside a message; the end of a packet that may begin a message is kept and put before the
// next packet's text, so the message is found there. Only what may begin a message is kept,
// so no message is ever found twice, and what is kept belongs to the state it was kept in.
class MessageJoin
{
public:
    // The text to look for messages in: what was kept for `state` followed by `text`.
    AnsiString Join(const AnsiString& text, std::uint8_t state) const;
    // After a packet was handled: keeps the end of `joined` that may begin a message of
    // `state`, or nothing when `found` (a message was recognised in it).
    void Keep(const AnsiString& joined, std::uint8_t state, bool found);
    // Whether the last packet ended inside what may be a message of the state it was kept in.
    bool MessageInProgress() const { return !kept.empty(); }
    void Clear() { kept.clear(); }

private:
    AnsiString kept;
    std::uint8_t keptFor = 0;
};

} // namespace upload
