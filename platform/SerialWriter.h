// The serial driver's writer: hands a Write's bytes to the kernel while nothing holds the
// output (the peer's XOFF, CTS or DSR), keeping the kernel's transmit queue shallow so an
// XOFF stops the line within a few bytes, and drives RTS in toggle mode around it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

struct SerialIo;
enum class SerialResult;

// SerialPort::Write on the port's core (see there for the outcomes).
// `abortMark`: the abort count the caller saw (SerialPort::WriteAbortMark); an AbortWrite
// after it ends this Write even when it came before the Write began.
SerialResult WriteBytes(SerialIo& p, const char* data, std::size_t count, std::size_t* written,
                        std::chrono::milliseconds maxWait, std::uint64_t abortMark);
