// TComThread: a non-visual component that owns one serial port, keeps its line settings
// applied, writes to it, and runs a reader thread (TComport) that hands each received
// packet to OnPacketReceived on the window's thread.
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"
#include "serial/ComSender.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Parity and stop bits; the ordinal is handed to the port unchanged. Scoped enumerations,
// because plain names such as `none`, `odd` or `s1` would collide in the global namespace:
// write TParity::none, TStopBits::s1_5.
enum class TParity : std::uint8_t
{
    none = 0,
    odd = 1,
    even = 2,
    mark = 3,
    space = 4
};
enum class TStopBits : std::uint8_t
{
    s1 = 0,
    s1_5 = 1,
    s2 = 2
};

// `buffer` holds exactly the bytes of one read (zero bytes included); it belongs to the
// reader and is valid during the call only.
using TPacketReceivedEvent = std::function<void(TObject* Sender, AnsiString& buffer)>;
// Called on the window's thread when the reader stopped because the port failed (for example
// "Read Error: 5" when a USB adapter is unplugged). The port stays open but receives nothing
// more; ComInit opens it again.
using TReadErrorEvent = std::function<void(TObject* Sender, const AnsiString& errorText)>;

// The reader thread of an open component: one read after the other, each completed read
// with bytes is one packet, delivered through Synchronize while the reader waits.
class TComport : public TThread
{
public:
    // Sender: passed to the events. PortHandle: the component's open port (not owned; it
    // outlives the reader). StartNow: start the thread at once. The handlers are copied:
    // later changes to the component's handlers do not reach this reader.
    TComport(TObject* Sender, SerialPort* PortHandle, bool StartNow, std::uint32_t PacketSize,
             const TPacketReceivedEvent& OnPacketReceived, const TReadErrorEvent& OnReadError);
    ~TComport() override;

    // The current packet; the handler's `buffer` refers to it.
    AnsiString Data;
    // True from construction until Execute has left its loop; ComClose waits for it to fall.
    std::atomic<bool> Running{true};
    // "Read Error: " + the system's error code when the reader stopped on a failed read;
    // empty otherwise. Written by the reader before Running falls.
    AnsiString ReadErrorText;

protected:
    void Execute() override;
    // Reads until the terminate request is set or a read fails.
    virtual void ReadPort();
    // Copies one read into Data.
    virtual void StorePacket(const char* buffer, std::uint32_t count);
    // On the window's thread: calls the handler unless the terminate request is set.
    virtual void DoPacketReceived();

    // One read and, when it brought bytes, its delivery. False when the read failed: the
    // failure is recorded in ReadErrorText and reported, and reading must stop.
    bool ReadOnce();
    // Runs one of the Do... calls on the window's thread; an exception that a handler lets
    // escape is shown there with Application->ShowException and reception goes on.
    void Deliver(const std::function<void()>& call);
    // On the window's thread: reports ReadErrorText unless the terminate request is set.
    void DoReadError();
    // Execute's stop condition: terminate request or a recorded read failure.
    bool Stopping() const { return Terminated() || !ReadErrorText.empty(); }

    // Keeps Running true while Execute runs and lowers it on every way out, so that
    // ComClose and the component's destructor always complete.
    class RunningScope
    {
    public:
        explicit RunningScope(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
        ~RunningScope() { flag_ = false; }
        RunningScope(const RunningScope&) = delete;
        RunningScope& operator=(const RunningScope&) = delete;

    private:
        std::atomic<bool>& flag_;
    };

    TObject* EventSender;
    SerialPort* PortHandle;
    std::vector<char> Buffer;
    std::uint32_t PacketSize;
    TPacketReceivedEvent OnPacketReceived;
    TReadErrorEvent OnReadError;
};

class TComThread : public TComponent
{
public:
    explicit TComThread(QObject* Owner);
    // Closes the port. Called from inside one of this component's handlers, the reader
    // cannot stop yet: the port is then closed as soon as the handler has returned.
    ~TComThread() override;

    // True after the last InitPort finished without error; false after a failed open and
    // after a Write found no open port.
    bool Initialized = false;
    // The message of the last failure recorded by InitPort, Write or the reader.
    AnsiString ErrorText;
    // The operating system's reason for the last failed open (for example
    // "/dev/ttyUSB0: Permission denied"), for the log; emptied by a successful open.
    // ErrorText stays "Comport Unavailable." for the operator.
    AnsiString SystemErrorText;
    // The driver's outcome of the last open (Ok after a successful one), for the advice
    // on what to do about a port that did not open.
    SerialResult OpenResult = SerialResult::Ok;
    // Non-null exactly while the port is open.
    std::unique_ptr<TComport> Reader;

    // Published properties: getter, and the setter that stores and then applies the value
    // to an open port at once.
    std::uint32_t BufSize() const { return FBufSize; }
    std::uint32_t Baud() const { return FBaud; }
    std::uint32_t DataBits() const { return FDataBits; }
    TParity Parity() const { return FParity; }
    TStopBits StopBits() const { return FStopBits; }
    std::uint32_t Port() const { return FPort; }
    std::uint32_t PacketSize() const { return FPacketSize; }
    std::uint32_t Timeout() const { return FTimeout; }

    // Refuses with "SetupComm Failed - try reducing buffer size." (the value stays stored)
    // when the open port cannot have queues of this size.
    virtual void SetBufSize(std::uint32_t value);
    virtual void SetBaud(std::uint32_t value);
    // Refuses 6, 7 or 8 data bits while StopBits is s1_5 (the value is then not stored).
    virtual void SetDataBits(std::uint32_t value);
    virtual void SetParity(TParity value);
    // Refuses s1_5 while DataBits is greater than 5.
    virtual void SetStopBits(TStopBits value);
    // Port and PacketSize can be set only while the port is closed; they take effect at
    // the next ComInit.
    virtual void SetPort(std::uint32_t value);
    virtual void SetPacketSize(std::uint32_t value);
    virtual void SetTimeout(std::uint32_t value);

    // Handlers, copied into the reader at ComInit: a change takes effect at the next ComInit.
    TPacketReceivedEvent OnPacketReceived;
    TReadErrorEvent OnReadError;

    // Opens (or reopens) "COM" + Port with the current settings and starts the reader.
    // Never raises for a failed open: see Initialized, ErrorText and SystemErrorText.
    // Like ComClose, it must not be called from inside this component's handlers.
    void ComInit();
    // Stops the reader and closes the port; does nothing when nothing is open. Handles
    // window messages while it waits for the reader. Raises Exception when called from
    // inside one of this component's handlers, where the reader cannot stop.
    void ComClose();
    // Abandons pending transfers (a Write waiting for the line returns, the bytes it had not
    // handed over dropped; a pending read ends and reception goes on) and empties the input
    // queue. What Writes handed over still goes out, and the peer's XOFF hold is kept.
    void Purge();

    // Sends the bytes as they are. Returns when all were handed to the driver, or when a
    // Purge (or ComClose) abandoned them. While the line is held (the peer's XOFF) it keeps
    // the window alive by handling window messages between bounded waits. Without an open
    // port it records "Com not initialized." and clears Initialized; a failure of the
    // device raises "Send Error: " + the system's error code. A Write called from a handler
    // while another Write waits is queued and sent after the waiting one's bytes.
    void Write(const AnsiString& s);
    void Write(const char* buf, int count);

    // Sends without waiting: the bytes are queued behind those sent before and handed to the
    // driver by the port's transmitter, under the peer's XOFF hold; OnSendProgress tells what
    // became of them. A Purge does not drop them; AbandonSends does. Without an open port it
    // records "Com not initialized.", clears Initialized and returns false. Do not mix with
    // Write on one open port: each hands bytes to the driver on its own.
    bool Send(const AnsiString& bytes);
    // Drops what the transmitter has not handed to the driver yet.
    void AbandonSends();
    // Ends the peer's XOFF hold as its XON would (a peer that is gone owes it).
    void ReleaseHold();
    // On the window's thread, after the transmitter's figures or the peer's hold changed (see
    // TSendReport). Read when delivered: a change takes effect at once.
    TSendProgressEvent OnSendProgress;

    // The open port's driver, null while closed; for diagnostics and tests.
    SerialPort* PortDriver() const { return PortHandle.get(); }

protected:
    void InitPort();
    // Records a failed opening and closes the port.
    void FailOpen(const AnsiString& message);
    virtual void SetupThread();
    virtual void SetupState();
    virtual void SetupBuffers();
    virtual void SetupTimeouts();

    // The reader's report of a failed read, as handed to the reader: records it in
    // ErrorText, then calls the given copy of the owner's OnReadError.
    TReadErrorEvent ReadErrorReporter();

    std::unique_ptr<SerialPort> PortHandle;
    // The transmitter of the open port, destroyed before it.
    std::unique_ptr<TComSender> Sender;
    std::uint32_t FPacketSize = 80;
    std::uint32_t FBaud = 19200;
    std::uint32_t FDataBits = 8;
    TParity FParity = TParity::none;
    TStopBits FStopBits = TStopBits::s1;
    std::uint32_t FBufSize = 128;
    std::uint32_t FPort = 1;
    std::uint32_t FTimeout = 100;

private:
    void WriteBytes(const char* buf, std::size_t count);
    // Hands one run of bytes to the driver in bounded slices; false when a purge, a close
    // or the driver abandoned it.
    bool SendRun(const char* buf, std::size_t count);
    // Stops a reader whose handler is running on this very stack, once it has returned.
    static void CloseLater(std::unique_ptr<TComport> reader, std::unique_ptr<SerialPort> port);

    // Counts opens and purges, so a waiting Write notices either between its slices.
    unsigned openGeneration_ = 0;
    // Counts readers started and stopped, so ComClose knows whether the reader it waits for
    // is still the one it stopped (an address can be reused).
    unsigned readerGeneration_ = 0;
    unsigned purgeGeneration_ = 0;
    // A Write is waiting for the line; nested Writes queue their bytes here.
    bool writing_ = false;
    AnsiString queuedWrites_;
};
