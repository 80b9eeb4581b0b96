// The SHA-256 digest of a run of bytes, from the system's cryptography library.
#pragma once

#include <string>
#include <string_view>

// Lower-case hexadecimal, 64 characters.
std::string Sha256Hex(std::string_view bytes);
