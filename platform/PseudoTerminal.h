// A pseudo-terminal pair standing in for a serial cable: the master side is the far end
// (the unit simulator, or a test), the slave side is the device the tool opens as its port.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

class PseudoTerminal
{
public:
    // Opens a new pair. The slave is put in raw mode at once, so bytes written to the master
    // before the tool opens the slave are neither echoed nor edited. The master is
    // non-blocking. Throws Exception with the system's reason on failure.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int MasterFd() const { return master_; }
    // The slave's device path, for example /dev/pts/7.
    const std::string& SlavePath() const { return slavePath_; }

    // The pair keeps a descriptor of its own on the slave: while it is open, reads on the
    // master do not fail with EIO when no other program has the slave open. Closing it makes
    // the master see the line drop as soon as the last other user closes the slave.
    void CloseSlave();
    // Closes the master: whoever has the slave open sees a hang-up (reads fail with EIO),
    // as when a USB adapter is pulled.
    void CloseMaster();

    // Writes all bytes to the master, waiting up to the timeout for room. Returns the number
    // of bytes written (fewer on timeout or error).
    std::size_t Write(std::string_view bytes,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads from the master until `count` bytes arrived or the timeout passed.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout);
    // Reads from the master for the whole duration and returns everything that arrived.
    std::string ReadFor(std::chrono::milliseconds duration);
    // Reads until `needle` appears in what arrived, or the timeout passed.
    std::string ReadUntil(std::string_view needle, std::chrono::milliseconds timeout);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Makes `link` a symbolic link to `target`, replacing a stale link or file of that name.
// Returns false with the system's reason in `error` on failure.
bool PublishSymlink(const std::string& link, const std::string& target, std::string* error);
