#include "platform/Sha256.h"

#include <openssl/evp.h>

std::string Sha256Hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr))
        return {};
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        text += Hex[digest[i] >> 4];
        text += Hex[digest[i] & 0x0F];
    }
    return text;
}
