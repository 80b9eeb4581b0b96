// TAdvancedCom: the serial component with control of the DTR and RTS output lines and an
// event when one of the input status lines (CTS, DSR, RI, carrier detect) changes. Its reader
// (TAdvComport) samples the lines after every read.
#pragma once

#include "serial/ComThread.h"

#include <cstdint>
#include <functional>

// The ordinal goes unchanged into the port state's two-bit control fields.
enum TDtrControl : std::uint8_t
{
    dtrDisable = 0,
    dtrEnable = 1,
    dtrHandshake = 2
};
enum TRtsControl : std::uint8_t
{
    rtsDisable = 0,
    rtsEnable = 1,
    rtsHandshake = 2,
    rtsToggle = 3
};

using TStatusChangedEvent =
    std::function<void(TObject* Sender, bool ctsOn, bool dsrOn, bool ringOn, bool rlsdOn)>;

class TAdvComport : public TComport
{
public:
    // As TComport, with a copy of the status handler. Starts the thread itself once its own
    // members are set, when StartNow is set.
    TAdvComport(TObject* Sender, SerialPort* PortHandle, bool StartNow, std::uint32_t PacketSize,
                const TPacketReceivedEvent& OnPacketReceived, const TReadErrorEvent& OnReadError,
                const TStatusChangedEvent& OnStatusChanged);
    ~TAdvComport() override;

    // The line states last seen; all off at creation.
    bool CtsOn = false;
    bool DsrOn = false;
    bool RingOn = false;
    bool RlsdOn = false;

protected:
    void Execute() override;
    // Reads as TComport does, and after each read samples the lines when a status handler
    // was given.
    void ReadPort() override;
    // On the window's thread: calls the status handler unless the terminate request is set.
    virtual void DoStatusChanged();

    TStatusChangedEvent OnStatusChanged;
};

class TAdvancedCom : public TComThread
{
public:
    // DtrControl dtrEnable, RtsControl rtsToggle.
    explicit TAdvancedCom(QObject* Owner);
    ~TAdvancedCom() override;

    TDtrControl DtrControl() const { return FDtrControl; }
    TRtsControl RtsControl() const { return FRtsControl; }
    // Store, then apply to an open port at once (SetupState).
    virtual void SetDtrControl(TDtrControl value);
    virtual void SetRtsControl(TRtsControl value);
    // Raise (true) or lower (false) DTR / RTS on the open port. Raise Exception without an
    // open port, or while the line is in handshake mode. A device without modem lines (a
    // pseudo-terminal) ignores them silently.
    virtual void SetDtr(bool on);
    virtual void SetRts(bool on);

    // Copied into the reader at ComInit; its Sender, like that of OnPacketReceived and
    // OnReadError, is the component's owner.
    TStatusChangedEvent OnStatusChanged;

protected:
    void SetupThread() override;
    void SetupState() override;

    TDtrControl FDtrControl = dtrEnable;
    TRtsControl FRtsControl = rtsToggle;
};
