// The serial line settings without a device: which records are accepted, the line time of a
// character, and the mapping of a record to the kernel's termios2 and back.
#include "platform/SerialLineSettings.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// What a device might hold before the driver applies its settings: every bit the mapping
// decides set the other way, and others it must keep.
termios2 DeviceBefore()
{
    termios2 t{};
    t.c_cflag =
        CS8 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | B1200 | (B300 << IBSHIFT);
    t.c_iflag = IXON | IXOFF | IXANY | IGNBRK | ICRNL;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO;
    t.c_cc[VMIN] = 5;
    t.c_cc[VTIME] = 7;
    t.c_ispeed = 300;
    t.c_ospeed = 1200;
    return t;
}

struct MappingCase
{
    std::uint32_t baud;
    std::uint8_t size, parity, stop;
    bool ctsFlow;
    std::uint8_t rtsControl;
    tcflag_t format; // expected among CSIZE|PARENB|PARODD|CMSPAR|CSTOPB|CRTSCTS
    tcflag_t speed;  // expected CBAUD bits
};

const MappingCase kMappings[] = {
    {115200, 8, 0, 0, false, 1, CS8, B115200},
    {9600, 7, 2, 2, false, 1, CS7 | PARENB | CSTOPB, B9600},
    {19200, 7, 1, 0, false, 1, CS7 | PARENB | PARODD, B19200},
    {4800, 6, 3, 2, false, 1, CS6 | PARENB | PARODD | CMSPAR | CSTOPB, B4800},
    {300, 8, 4, 0, false, 1, CS8 | PARENB | CMSPAR, B300},
    {110, 5, 0, 1, false, 1, CS5 | CSTOPB, B110},
    {4000000, 8, 0, 0, false, 1, CS8, B4000000},
    {31250, 8, 0, 0, false, 1, CS8, BOTHER},
    {1, 8, 0, 0, false, 1, CS8, BOTHER},
    {12345678, 8, 0, 0, false, 1, CS8, BOTHER},
    {57600, 8, 0, 0, true, 1, CS8 | CRTSCTS, B57600},
    {57600, 8, 0, 0, false, 2, CS8 | CRTSCTS, B57600},
    {57600, 8, 0, 0, false, 3, CS8, B57600},
    {57600, 8, 0, 0, false, 0, CS8, B57600},
};

SerialState StateOf(const MappingCase& c)
{
    SerialState s;
    s.BaudRate = c.baud;
    s.ByteSize = c.size;
    s.Parity = c.parity;
    s.StopBits = c.stop;
    s.fOutxCtsFlow = c.ctsFlow;
    s.fRtsControl = c.rtsControl;
    s.fOutX = true;
    s.XonChar = 'Q';
    s.XoffChar = 'S';
    return s;
}

TEST(SerialLineSettingsTest, ARecordMapsToTermios2AndKeepsTheRestOfTheDevice)
{
    const termios2 before = DeviceBefore();
    for (const auto& c : kMappings) {
        const SerialState s = StateOf(c);
        ASSERT_TRUE(ValidLineState(s)) << c.baud;
        termios2 t = before;
        MapLineState(s, t);
        constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        EXPECT_EQ(t.c_cflag & kFormat, c.format) << c.baud;
        EXPECT_EQ(t.c_cflag & CBAUD, c.speed) << c.baud;
        EXPECT_EQ(t.c_cflag & (CBAUD << IBSHIFT), 0u) << "input speed follows output";
        EXPECT_EQ(t.c_ispeed, c.baud);
        EXPECT_EQ(t.c_ospeed, c.baud);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), CLOCAL | CREAD | HUPCL) << c.baud;
        // XON/XOFF is the driver's, not the line discipline's.
        EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNBRK | ICRNL)) << c.baud;
        EXPECT_EQ(t.c_cc[VSTART], 'Q');
        EXPECT_EQ(t.c_cc[VSTOP], 'S');
        EXPECT_EQ(t.c_oflag, before.c_oflag);
        EXPECT_EQ(t.c_lflag, before.c_lflag);
        EXPECT_EQ(t.c_cc[VMIN], 5);
        EXPECT_EQ(t.c_cc[VTIME], 7);
    }
}

TEST(SerialLineSettingsTest, TheDevicesFormatAndRateReadBackAsTheRecord)
{
    for (const auto& c : kMappings) {
        termios2 t = DeviceBefore();
        MapLineState(StateOf(c), t);
        const SerialState back = DeviceLineState(t.c_cflag, t.c_ospeed);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, c.size) << c.baud;
        EXPECT_EQ(back.Parity, c.parity) << c.baud;
        EXPECT_EQ(back.StopBits, c.stop) << c.baud;
        // The rest is not the device's to say: the port starts without flow control.
        EXPECT_FALSE(back.fOutX);
        EXPECT_FALSE(back.fOutxCtsFlow);
        EXPECT_EQ(back.fRtsControl, 1);
        EXPECT_EQ(back.fDtrControl, 1);
    }
    // A device without a speed starts at 9600 bit/s.
    EXPECT_EQ(DeviceLineState(CS8, 0).BaudRate, 9600u);
}

TEST(SerialLineSettingsTest, OnlyRecordsATtyCanTakeAreValid)
{
    const struct
    {
        const char* what;
        void (*change)(SerialState&);
        bool valid;
    } cases[] = {
        {"the defaults", [](SerialState&) {}, true},
        {"1.5 stop bits with 5 data bits",
         [](SerialState& s) {
             s.ByteSize = 5;
             s.StopBits = 1;
         },
         true},
        {"2 stop bits with 6 data bits",
         [](SerialState& s) {
             s.ByteSize = 6;
             s.StopBits = 2;
         },
         true},
        {"the same XON and XOFF without XON/XOFF", [](SerialState& s) { s.XonChar = s.XoffChar; },
         true},
        {"the same XON and XOFF for input flow",
         [](SerialState& s) {
             s.fInX = true;
             s.XonChar = s.XoffChar;
         },
         false},
        {"the same XON and XOFF for output flow",
         [](SerialState& s) {
             s.fOutX = true;
             s.XonChar = s.XoffChar;
         },
         false},
        {"zero rate", [](SerialState& s) { s.BaudRate = 0; }, false},
        {"4 data bits", [](SerialState& s) { s.ByteSize = 4; }, false},
        {"9 data bits", [](SerialState& s) { s.ByteSize = 9; }, false},
        {"parity 5", [](SerialState& s) { s.Parity = 5; }, false},
        {"1.5 stop bits with 7 data bits",
         [](SerialState& s) {
             s.ByteSize = 7;
             s.StopBits = 1;
         },
         false},
        {"2 stop bits with 5 data bits",
         [](SerialState& s) {
             s.ByteSize = 5;
             s.StopBits = 2;
         },
         false},
        {"DTR control 3", [](SerialState& s) { s.fDtrControl = 3; }, false},
        {"RTS control 4", [](SerialState& s) { s.fRtsControl = 4; }, false},
    };
    for (const auto& c : cases) {
        SerialState s;
        c.change(s);
        EXPECT_EQ(ValidLineState(s), c.valid) << c.what;
    }
}

// A UART or USB adapter that cannot make a rate does not fail TCSETS2: it keeps the old rate
// or falls back to 9600 and reports that. Only the rate read back tells.
TEST(SerialLineSettingsTest, ARateIsTakenOnlyWhenTheDeviceReportsIt)
{
    const struct
    {
        const char* what;
        std::uint32_t asked;
        std::uint32_t reported;
        bool taken;
    } cases[] = {
        {"16550A, 230400 beyond its clock: falls back to 9600", 230400, 9600, false},
        {"16550A, 460800: keeps the rate it had", 460800, 115200, false},
        {"FTDI, beyond 3 Mbit/s: falls back to 9600", 4000000, 9600, false},
        {"dropped to 0: a hang-up", 9600, 0, false},
        {"exactly the rate", 115200, 115200, true},
        {"the divisor's rate, within 1 part in 50", 115200, 115384, true},
        {"at the edge of the tolerance", 1000, 1020, true},
        {"just beyond it", 1000, 1021, false},
        {"below, just beyond it", 1000, 979, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LineSpeedTaken(c.asked, c.reported), c.taken) << c.what;
}

TEST(SerialLineSettingsTest, LineTimeCountsEveryBitOfACharacter)
{
    const struct
    {
        std::uint32_t baud;
        std::uint8_t size, parity, stop;
        std::size_t bytes;
        std::chrono::microseconds expected;
    } cases[] = {
        {9600, 8, 0, 0, 96, 100000us}, // 10 bits a byte
        {115200, 8, 0, 0, 11520, 1s},  // 10 bits a byte
        {9600, 7, 2, 2, 96, 110000us}, // start, 7 data, parity, 2 stop bits
        {850, 5, 1, 1, 100, 1s},       // start, 5 data, parity, 1.5 stop bits
        {1, 8, 0, 0, 1000000, 3600s},  // at most an hour
        {115200, 8, 0, 0, 0, 0us},
    };
    for (const auto& c : cases) {
        SerialState s;
        s.BaudRate = c.baud;
        s.ByteSize = c.size;
        s.Parity = c.parity;
        s.StopBits = c.stop;
        using Micros = std::chrono::duration<double, std::micro>;
        const double took = std::chrono::duration_cast<Micros>(LineTime(s, c.bytes)).count();
        EXPECT_NEAR(took, static_cast<double>(c.expected.count()), 1.0) << c.baud << " " << c.bytes;
    }
}

} // namespace
