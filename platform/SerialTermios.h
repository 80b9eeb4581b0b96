// Line settings of a serial device through the kernel's termios2 interface: any speed
// from 1 bit/s, and one call for the whole character format. Kept apart from
// SerialPort.cpp because <asm/termbits.h>, which declares termios2, cannot be included
// together with <termios.h>.
#pragma once

#include <cstdint>

// Flag masks use the values of <termios.h>, which are the kernel's own.
struct LineSettings
{
    std::uint32_t baud = 9600; // bit/s, from 1
    unsigned speedCode = 0;    // the B constant for `baud` when it has one, else 0 (BOTHER)
    unsigned cflagClear = 0;   // c_cflag bits to clear, then
    unsigned cflagSet = 0;     // c_cflag bits to set
    unsigned iflagClear = 0;   // c_iflag bits to clear
    unsigned char startChar = 0x11;
    unsigned char stopChar = 0x13;
};

// Applies the settings to the open device `fd` in one TCSETS2 call, keeping everything
// else the kernel holds. Unlike glibc's tcsetattr this does not fail on a pseudo-terminal,
// which keeps 8 data bits without parity whatever is asked. Returns 0 or the errno.
int ApplyLineSettings(int fd, const LineSettings& settings);

// Reads the output speed of the open device `fd` in bit/s. Returns 0 or the errno.
int GetLineSpeed(int fd, std::uint32_t* baud);

// The device's whole kernel settings, to put back on close exactly (also a speed without a
// B constant, which glibc's tcgetattr/tcsetattr cannot carry).
struct SavedTermios
{
    alignas(8) unsigned char bytes[64];
};
int SaveTermios(int fd, SavedTermios* saved);
int RestoreTermios(int fd, const SavedTermios& saved);
