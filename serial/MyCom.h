// TMyCom: the serial component the program uses: TAdvancedCom with XON/XOFF output flow
// control (the port's previous state saved and restored around it) and the driver's error
// and status queries.
#pragma once

#include "serial/AdvancedCom.h"

#include <cstdint>

class TMyCom : public TAdvancedCom
{
public:
    explicit TMyCom(QObject* Owner);
    ~TMyCom() override;

    // Opens the port as TComThread::ComInit does, then applies XonXoff to it.
    void ComInit();

    // XON/XOFF output flow control wanted: the driver stops sending on the peer's XOFF
    // (0x13) and resumes on its XON (0x11); these two bytes never reach a packet.
    bool XonXoff() const { return FXonXoff; }
    // Records the value and applies it to an open port. Switching on saves the port's state
    // the first time; switching off writes the saved state back. Reports nothing.
    void SetXonXoff(bool on);

    // Queries the driver (clearing its error flags) and returns the error flags (CE_ bits).
    std::uint32_t GetErrors();
    // Queries the driver and returns its status record; Flags bit 3 (fXoffHold) is set while
    // the peer's XOFF holds output. A failed query returns the previous values.
    SerialStatus GetStatus();

protected:
    bool FXonXoff = false;
    SerialState SavedState;
    bool StateSaved = false;
    std::uint32_t Errors = 0;
    SerialStatus ComStat;

private:
    void QueryDriver();
};
