#include "serial/ComThread.h"

#include "platform/Application.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <new>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A Write hands bytes to the driver in slices of at most this wait, so that it can look
// after the window between them.
constexpr auto kWriteSlice = 5ms;
// A Write that has waited this long in all starts handling window messages between slices.
constexpr auto kKeepWindowAliveAfter = 20ms;
// ComClose's wait for the reader: rounds of message handling with this pause between them,
// so the wait neither spins a core nor delays the close noticeably.
constexpr auto kCloseRound = 1ms;
const char* const kSetupCommFailed = "SetupComm Failed - try reducing buffer size.";

// A reader with a packet size of 0 has nothing to read; it idles in steps of this length.
constexpr auto kIdleStep = 100ms;

void HandleWindowMessages()
{
    if (Application)
        Application->ProcessMessages();
    else if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

struct Leftover
{
    std::unique_ptr<TComport> reader;
    std::unique_ptr<SerialPort> port;
};

// Ends a reader (then closes its port) that a component destroyed from inside its own
// handler left behind, once the handler has returned and the reader has left its loop.
void FinishClose(const std::shared_ptr<Leftover>& leftover)
{
    if (leftover->reader->InSynchronize() || leftover->reader->Running) {
        QTimer::singleShot(10ms, QCoreApplication::instance(),
                           [leftover] { FinishClose(leftover); });
        return;
    }
    leftover->reader.reset();
    leftover->port.reset();
}

} // namespace

// --- TComport -------------------------------------------------------------------------

TComport::TComport(TObject* Sender, SerialPort* PortHandle, bool StartNow, std::uint32_t PacketSize,
                   const TPacketReceivedEvent& OnPacketReceived, const TReadErrorEvent& OnReadError)
    : TThread(true), EventSender(Sender), PortHandle(PortHandle), Buffer(PacketSize + 1u),
      PacketSize(PacketSize), OnPacketReceived(OnPacketReceived), OnReadError(OnReadError)
{
    // Running is already true (see its initialiser), so a ComClose that comes before the
    // thread has started still waits for it.
    if (StartNow)
        Start();
}

TComport::~TComport()
{
    // Execute uses this object's members: end the thread before they go.
    Shutdown();
}

void TComport::Execute()
{
    RunningScope running(Running);
    while (!Stopping())
        ReadPort();
}

void TComport::ReadPort()
{
    while (!Stopping()) {
        if (!ReadOnce())
            return;
    }
}

bool TComport::ReadOnce()
{
    if (PacketSize == 0) {
        // A read of nothing completes at once; looping on it would spin a core.
        Sleep(kIdleStep);
        return true;
    }
    std::size_t received = 0;
    const SerialResult result = PortHandle->Read(Buffer.data(), PacketSize, &received);
    if (result == SerialResult::Aborted)
        return true; // a Purge ended the read: reception goes on
    if (result != SerialResult::Ok) {
        ReadErrorText = "Read Error: " + std::to_string(PortHandle->LastErrno());
        if (!Terminated())
            Deliver([this] { DoReadError(); });
        return false;
    }
    if (received > 0) {
        StorePacket(Buffer.data(), static_cast<std::uint32_t>(received));
        if (!Terminated())
            Deliver([this] { DoPacketReceived(); });
    }
    return true;
}

void TComport::StorePacket(const char* buffer, std::uint32_t count)
{
    Data.assign(buffer, count);
}

void TComport::DoPacketReceived()
{
    if (OnPacketReceived && !Terminated())
        OnPacketReceived(EventSender, Data);
}

void TComport::DoReadError()
{
    if (OnReadError && !Terminated())
        OnReadError(EventSender, ReadErrorText);
}

void TComport::Deliver(const std::function<void()>& call)
{
    // A handler's exception is shown on the window's thread and goes no further: letting it
    // reach the reader would end reception for good.
    Synchronize([&call] {
        try {
            call();
        } catch (const std::exception& e) {
            if (Application)
                Application->ShowException(e);
        } catch (...) {
            if (Application)
                Application->ShowException(Exception("Unknown error in a serial port handler."));
        }
    });
}

// --- TComThread -----------------------------------------------------------------------

TComThread::TComThread(QObject* Owner) : TComponent(Owner) {}

TComThread::~TComThread()
{
    if (Reader && Reader->InSynchronize()) {
        // Destroyed from inside one of its own handlers: the reader is waiting for that
        // handler, so it can only stop after it has returned.
        Reader->Terminate();
        PortHandle->WakeRead();
        Sender.reset();
        CloseLater(std::move(Reader), std::move(PortHandle));
        return;
    }
    ComClose();
}

void TComThread::CloseLater(std::unique_ptr<TComport> reader, std::unique_ptr<SerialPort> port)
{
    auto leftover = std::make_shared<Leftover>(Leftover{std::move(reader), std::move(port)});
    QTimer::singleShot(0ms, QCoreApplication::instance(), [leftover] { FinishClose(leftover); });
}

void TComThread::SetBufSize(std::uint32_t value)
{
    FBufSize = value;
    try {
        SetupBuffers();
    } catch (const std::bad_alloc&) {
        throw Exception(kSetupCommFailed);
    }
}

void TComThread::SetBaud(std::uint32_t value)
{
    FBaud = value;
    SetupState();
}

void TComThread::SetDataBits(std::uint32_t value)
{
    if (value > 5 && FStopBits == TStopBits::s1_5)
        throw Exception("1.5 Stop Bits with 6,7, or 8 Data Bits is an invalid combination");
    FDataBits = value;
    SetupState();
}

void TComThread::SetParity(TParity value)
{
    FParity = value;
    SetupState();
}

void TComThread::SetStopBits(TStopBits value)
{
    if (value == TStopBits::s1_5 && FDataBits > 5)
        throw Exception("1.5 Stop Bits with 6,7, or 8 Data Bits is an invalid combination");
    FStopBits = value;
    SetupState();
}

void TComThread::SetPort(std::uint32_t value)
{
    if (Reader)
        throw Exception("Port can only be set before ComInit()!");
    FPort = value;
}

void TComThread::SetPacketSize(std::uint32_t value)
{
    if (Reader)
        throw Exception("Packet Size can only be set before ComInit()!");
    FPacketSize = value;
}

void TComThread::SetTimeout(std::uint32_t value)
{
    FTimeout = value;
    SetupTimeouts();
}

void TComThread::ComInit()
{
    ComClose();
    InitPort();
    SetupThread();
    if (Reader) {
        ++readerGeneration_;
        Sender = std::make_unique<TComSender>(this, *PortHandle, [this](const TSendReport& report) {
            if (OnSendProgress)
                OnSendProgress(Owner() ? Owner() : this, report);
        });
    }
}

bool TComThread::Send(const AnsiString& bytes)
{
    if (!Reader || !Sender) {
        Initialized = false;
        ErrorText = "Com not initialized.";
        return false;
    }
    Sender->Send(bytes.data(), bytes.size());
    return true;
}

void TComThread::AbandonSends()
{
    if (Sender)
        Sender->Abandon();
}

void TComThread::ReleaseHold()
{
    if (PortHandle)
        PortHandle->ReleaseOutputHold();
}

void TComThread::InitPort()
{
    ++openGeneration_;
    try {
        SerialResult result = SerialResult::Ok;
        std::string reason;
        PortHandle = SerialPort::Open("COM" + std::to_string(FPort), &result, &reason);
        OpenResult = result;
        if (!PortHandle) {
            SystemErrorText = reason;
            throw Exception("Comport Unavailable.");
        }
        SetupState();
        SetupTimeouts();
        SetupBuffers();
        Initialized = true;
        SystemErrorText.clear();
    } catch (const Exception& e) {
        FailOpen(e.Message);
    } catch (const std::bad_alloc&) {
        // The queues the settings ask for cannot be had: a failed opening like any other.
        FailOpen(kSetupCommFailed);
    }
}

void TComThread::FailOpen(const AnsiString& message)
{
    if (PortHandle) {
        if (PortHandle->LastErrno() != 0)
            SystemErrorText = PortHandle->Path() + ": " + PortHandle->LastErrorText();
        PortHandle.reset();
    }
    ErrorText = message;
    Initialized = false;
}

void TComThread::SetupState()
{
    if (!PortHandle)
        return;
    SerialState state;
    if (!PortHandle->GetState(state)) {
        if (Application)
            Application->MessageBox(PortHandle->LastErrorText(), "GetLastError", MB_OK);
        throw Exception("GetCommState Failed.");
    }
    state.BaudRate = FBaud;
    state.ByteSize = static_cast<std::uint8_t>(FDataBits & 0xFFu);
    state.Parity = static_cast<std::uint8_t>(FParity);
    state.StopBits = static_cast<std::uint8_t>(FStopBits);
    if (!PortHandle->SetState(state))
        throw Exception("SetCommState Failed.");
}

void TComThread::SetupTimeouts()
{
    if (!PortHandle)
        return;
    SerialTimeouts timeouts;
    if (!PortHandle->GetTimeouts(timeouts))
        throw Exception("GetCommTimeouts Failed.");
    timeouts.ReadIntervalTimeout = FTimeout / 10 + 1;
    timeouts.ReadTotalTimeoutMultiplier = FTimeout / 10 + 1;
    timeouts.ReadTotalTimeoutConstant = FTimeout;
    if (!PortHandle->SetTimeouts(timeouts))
        throw Exception("SetCommTimeouts Failed.");
}

void TComThread::SetupBuffers()
{
    if (!PortHandle)
        return;
    if (!PortHandle->SetupQueues(FBufSize, FBufSize))
        throw Exception(kSetupCommFailed);
}

void TComThread::SetupThread()
{
    if (!PortHandle)
        return;
    Reader = std::make_unique<TComport>(this, PortHandle.get(), true, FPacketSize, OnPacketReceived,
                                        ReadErrorReporter());
}

TReadErrorEvent TComThread::ReadErrorReporter()
{
    return [this, handler = OnReadError](TObject* Sender, const AnsiString& errorText) {
        ErrorText = errorText;
        if (handler)
            handler(Sender, errorText);
    };
}

void TComThread::ComClose()
{
    // A window message handled while waiting may close the port, or reopen it with a new
    // reader, which the allocator may place where the old one was: the generation, not the
    // address, tells them apart. A reopened port is closed too, as the caller asked.
    while (Reader) {
        if (Reader->InSynchronize())
            throw Exception("The serial port cannot be closed or reopened from inside one of "
                            "its own event handlers.");
        const unsigned generation = readerGeneration_;
        TComport* const reader = Reader.get();
        reader->Terminate();
        PortHandle->WakeRead();
        // The reader may be waiting in Synchronize: serve it while waiting.
        auto mine = [&] { return readerGeneration_ == generation && reader->Running; };
        while (mine()) {
            HandleWindowMessages();
            if (mine())
                std::this_thread::sleep_for(kCloseRound);
        }
        if (readerGeneration_ != generation)
            continue;
        Reader.reset();
        Sender.reset();
        PortHandle.reset();
        ++readerGeneration_;
        ++openGeneration_;
    }
}

void TComThread::Purge()
{
    ++purgeGeneration_;
    // Bytes that Writes from handlers queued behind a waiting Write are abandoned as well.
    queuedWrites_.clear();
    if (PortHandle)
        PortHandle->Purge();
}

void TComThread::Write(const AnsiString& s)
{
    const AnsiString copy = s;
    WriteBytes(copy.data(), copy.size());
}

void TComThread::Write(const char* buf, int count)
{
    WriteBytes(buf, count < 1 ? 0 : static_cast<std::size_t>(count));
}

void TComThread::WriteBytes(const char* buf, std::size_t count)
{
    if (!Reader) {
        Initialized = false;
        ErrorText = "Com not initialized.";
        return;
    }
    if (count < 1)
        return;
    if (writing_) {
        // Called from a handler while a Write waits for the line: sending now would mix
        // these bytes into the middle of the waiting one's.
        queuedWrites_.append(buf, count);
        return;
    }
    writing_ = true;
    struct WritingScope
    {
        TComThread* self;
        ~WritingScope()
        {
            self->writing_ = false;
            self->queuedWrites_.clear();
        }
    } scope{this};

    const unsigned opened = openGeneration_;
    SendRun(buf, count);
    while (openGeneration_ == opened && PortHandle && !queuedWrites_.empty()) {
        AnsiString next;
        next.swap(queuedWrites_);
        SendRun(next.data(), next.size());
    }
}

bool TComThread::SendRun(const char* buf, std::size_t count)
{
    const unsigned opened = openGeneration_;
    const unsigned purged = purgeGeneration_;
    const auto started = std::chrono::steady_clock::now();
    while (count > 0) {
        std::size_t written = 0;
        const SerialResult result = PortHandle->Write(buf, count, &written, kWriteSlice);
        written = std::min(written, count);
        buf += written;
        count -= written;
        if (result == SerialResult::Aborted)
            return false;
        if (result != SerialResult::Ok && result != SerialResult::Timeout)
            throw Exception("Send Error: " + std::to_string(PortHandle->LastErrno()));
        if (count == 0)
            break;
        if (std::chrono::steady_clock::now() - started > kKeepWindowAliveAfter) {
            // The line is held or slow: keep the window responsive (Cancel, packets, ticks).
            HandleWindowMessages();
            if (openGeneration_ != opened || !PortHandle || purgeGeneration_ != purged)
                return false;
        }
    }
    return true;
}
