// Normalising and matching any packet: no crash, and the properties the dialogue relies on.
#include "upload/PacketText.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t state = data[0] % 5;
    const AnsiString packet(reinterpret_cast<const char*>(data + 1), size - 1);
    const AnsiString text = upload::NormalisePacket(packet);
    if (text.size() > packet.size() || text.find_first_of(".\r\n") != AnsiString::npos)
        std::abort();
    if (upload::NormalisePacket(text) != text)
        std::abort();
    if (const auto* message = upload::FindMessage(text, state)) {
        if (message->lookedForIn != state || !upload::ContainsMessage(text, message->text))
            std::abort();
        // A message found before the first NUL is found in that prefix as well.
        if (!upload::ContainsMessage(text.substr(0, text.find('\0')), message->text))
            std::abort();
    }
    return 0;
}
