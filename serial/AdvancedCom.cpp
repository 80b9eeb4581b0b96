#include "serial/AdvancedCom.h"

// --- TAdvComport ----------------------------------------------------------------------

TAdvComport::TAdvComport(TObject* Sender, SerialPort* PortHandle, bool StartNow,
                         std::uint32_t PacketSize, const TPacketReceivedEvent& OnPacketReceived,
                         const TReadErrorEvent& OnReadError,
                         const TStatusChangedEvent& OnStatusChanged)
    : TComport(Sender, PortHandle, false, PacketSize, OnPacketReceived, OnReadError),
      OnStatusChanged(OnStatusChanged)
{
    if (StartNow)
        Start();
}

TAdvComport::~TAdvComport()
{
    // Execute uses this object's members: end the thread before they go.
    Shutdown();
}

void TAdvComport::Execute()
{
    RunningScope running(Running);
    std::uint32_t status = 0;
    if (PortHandle->GetModemStatus(&status)) {
        CtsOn = (status & MS_CTS_ON) != 0;
        DsrOn = (status & MS_DSR_ON) != 0;
        RingOn = (status & MS_RING_ON) != 0;
        RlsdOn = (status & MS_RLSD_ON) != 0;
        if ((CtsOn || DsrOn || RingOn || RlsdOn) && !Terminated())
            Deliver([this] { DoStatusChanged(); });
    }
    while (!Stopping())
        ReadPort();
}

void TAdvComport::ReadPort()
{
    while (!Stopping()) {
        if (!ReadOnce())
            return;
        if (!OnStatusChanged)
            continue;
        const bool cts = CtsOn, dsr = DsrOn, ring = RingOn, rlsd = RlsdOn;
        std::uint32_t status = 0;
        if (!PortHandle->GetModemStatus(&status))
            continue; // a device without modem lines (a pseudo-terminal): nothing to report
        CtsOn = (status & MS_CTS_ON) != 0;
        DsrOn = (status & MS_DSR_ON) != 0;
        RingOn = (status & MS_RING_ON) != 0;
        RlsdOn = (status & MS_RLSD_ON) != 0;
        const bool changed = cts != CtsOn || dsr != DsrOn || ring != RingOn || rlsd != RlsdOn;
        if (changed && !Terminated())
            Deliver([this] { DoStatusChanged(); });
    }
}

void TAdvComport::DoStatusChanged()
{
    if (OnStatusChanged && !Terminated())
        OnStatusChanged(EventSender, CtsOn, DsrOn, RingOn, RlsdOn);
}

// --- TAdvancedCom ---------------------------------------------------------------------

TAdvancedCom::TAdvancedCom(QObject* Owner) : TComThread(Owner) {}

TAdvancedCom::~TAdvancedCom() = default;

void TAdvancedCom::SetDtrControl(TDtrControl value)
{
    FDtrControl = value;
    SetupState();
}

void TAdvancedCom::SetRtsControl(TRtsControl value)
{
    FRtsControl = value;
    SetupState();
}

void TAdvancedCom::SetDtr(bool on)
{
    if (!Reader)
        throw Exception("Initialize port before setting DTR");
    if (FDtrControl == dtrHandshake)
        throw Exception("Can't set DTR when DtrControl is dtrHandshake");
    (void)PortHandle->EscapeFunction(on ? SETDTR : CLRDTR);
}

void TAdvancedCom::SetRts(bool on)
{
    if (!Reader)
        throw Exception("Initialize port before setting RTS");
    if (FRtsControl == rtsHandshake)
        throw Exception("Can't set RTS when RtsControl is rtsHandshake");
    (void)PortHandle->EscapeFunction(on ? SETRTS : CLRRTS);
}

void TAdvancedCom::SetupState()
{
    if (!PortHandle)
        return;
    SerialState state;
    if (!PortHandle->GetState(state))
        throw Exception("GetCommState Failed.");
    state.BaudRate = FBaud;
    state.ByteSize = static_cast<std::uint8_t>(FDataBits & 0xFFu);
    state.Parity = static_cast<std::uint8_t>(FParity);
    state.StopBits = static_cast<std::uint8_t>(FStopBits);
    state.fDtrControl = static_cast<std::uint8_t>(FDtrControl & 0x3u);
    state.fRtsControl = static_cast<std::uint8_t>(FRtsControl & 0x3u);
    if (!PortHandle->SetState(state))
        throw Exception("SetCommState Failed.");
}

void TAdvancedCom::SetupThread()
{
    if (!PortHandle)
        return;
    Reader = std::make_unique<TAdvComport>(Owner(), PortHandle.get(), true, FPacketSize,
                                           OnPacketReceived, ReadErrorReporter(), OnStatusChanged);
}
