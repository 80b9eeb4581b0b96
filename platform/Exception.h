// The error type of the component set: an exception that carries a ready-made English
// message for the operator, and the 8-bit string type that carries texts and received data.
#pragma once

#include <exception>
#include <string>
#include <utility>

// Texts and received bytes: 8-bit characters with an explicit length; may hold zero bytes.
using AnsiString = std::string;

class Exception : public std::exception
{
public:
    explicit Exception(AnsiString message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    AnsiString Message;
};
