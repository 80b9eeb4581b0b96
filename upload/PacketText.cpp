#include "upload/PacketText.h"

#include <algorithm>

namespace upload {

AnsiString NormalisePacket(const AnsiString& packet)
{
    AnsiString text = packet;
    std::replace(text.begin(), text.end(), '\n', '-');
    std::replace(text.begin(), text.end(), '\r', '-');
    std::erase(text, '.');
    return text;
}

bool ContainsMessage(const AnsiString& text, std::string_view message)
{
    if (message.empty())
        return false;
    std::string_view considered(text);
    considered = considered.substr(0, considered.find('\0'));
    return considered.find(message) != std::string_view::npos;
}

const std::array<UnitMessage, 6> UnitMessages = {{
    {"Please start up", 0, "Connection established", 1},
    {"programming complete", 3, "Programming Complete.  Checking CRC...", 4},
    {"programming failed", 3, "Programming Failed!!!  Waiting for Connection...", 0},
    {"Download failed", 3, "Download Failed!!!  Waiting for Connection...", 0},
    {"CRC is BAD", 4, "CRC Bad!!!  Waiting for Connection...", 0},
    {"CRC is OK", 4, "CRC OK!!!  Waiting for Connection...", 0},
}};

bool LookedFor(const UnitMessage& message, std::uint8_t state)
{
    // While the file goes out the unit may give up ("Download failed") or start again (its
    // greeting): both end the transfer.
    constexpr std::uint8_t Uploading = 2;
    if (state == Uploading)
        return &message == &UnitMessages[0] || &message == &UnitMessages[3];
    return message.lookedForIn == state;
}

const UnitMessage* FindMessage(const AnsiString& text, std::uint8_t state)
{
    for (const UnitMessage& message : UnitMessages) {
        if (LookedFor(message, state) && ContainsMessage(text, message.text))
            return &message;
    }
    return nullptr;
}

std::size_t MessageStartAtEnd(std::string_view text, std::uint8_t state)
{
    std::size_t longest = 0;
    for (const UnitMessage& message : UnitMessages) {
        if (!LookedFor(message, state))
            continue;
        const std::size_t most = std::min(text.size(), message.text.size() - 1);
        for (std::size_t n = most; n > longest; --n) {
            if (text.substr(text.size() - n) == message.text.substr(0, n)) {
                longest = n;
                break;
            }
        }
    }
    return longest;
}

AnsiString MessageJoin::Join(const AnsiString& text, std::uint8_t state) const
{
    return keptFor == state ? kept + text : text;
}

void MessageJoin::Keep(const AnsiString& joined, std::uint8_t state, bool found)
{
    const std::size_t n = found ? 0 : MessageStartAtEnd(joined, state);
    kept = joined.substr(joined.size() - n);
    keptFor = state;
}

} // namespace upload
