// The reader thread: packets, handler rules, closing, purging and a vanishing device.
#include "SerialComponentsTestSupport.h"
#include "platform/PseudoTerminal.h"

#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

using namespace serialtest;

namespace {

using Clock = std::chrono::steady_clock;

class ComThreadReceiveTest : public SerialComponentTest
{
};

TEST_F(ComThreadReceiveTest, ZeroBytesArriveWithTheirCount)
{
    PacketLog log;
    Open<TComThread>(160, 10, &log);
    const std::string bytes("\0a\0\0b\xff\0", 7);
    pty.Write(bytes);
    ASSERT_TRUE(log.WaitForBytes(bytes.size()));
    EXPECT_EQ(log.Joined(), bytes);
}

TEST_F(ComThreadReceiveTest, BurstIsCutIntoPacketsOfPacketSizeInOrder)
{
    SKIP_ON_REAL_DEVICE(LINE_PAUSES_WITHIN_A_WRITE);
    PacketLog log;
    TComThread com(&owner);
    com.SetBufSize(1024); // the default 128 would overflow while a packet is delivered
    com.SetPort(kPort);
    com.SetPacketSize(160);
    com.SetTimeout(100);
    com.OnPacketReceived = log.Handler();
    com.ComInit();
    ASSERT_TRUE(com.Initialized);
    std::string burst;
    for (int i = 0; i < 400; ++i)
        burst += static_cast<char>('A' + i % 26);
    pty.Write(burst);
    ASSERT_TRUE(log.WaitForBytes(400));
    std::vector<std::size_t> sizes;
    for (const auto& p : log.packets)
        sizes.push_back(p.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{160, 160, 80}));
    EXPECT_EQ(log.Joined(), burst);
}

TEST_F(ComThreadReceiveTest, PauseLongerThanTheIntervalEndsAPacket)
{
    SKIP_ON_REAL_DEVICE(LINE_PAUSES_WITHIN_A_WRITE);
    PacketLog log;
    Open<TComThread>(160, 20, &log); // interval 3 ms
    pty.Write("first");
    ASSERT_TRUE(log.WaitForBytes(5));
    testapp::ProcessFor(kSettle);
    pty.Write("second");
    ASSERT_TRUE(log.WaitForBytes(11));
    EXPECT_EQ(log.packets, (std::vector<AnsiString>{"first", "second"}));
}

// A read ends I x PacketSize + Timeout after it began even while bytes keep coming closer
// together than I: with Timeout 1000 (I = 101 ms) and PacketSize 10 the first read ends
// 2010 ms after ComInit. Bytes sent every 25 ms from 1850 ms on would fill the packet only at
// 2075 ms, so the first packet is cut short by the total limit.
TEST_F(ComThreadReceiveTest, ReadEndsAfterItsTotalTimeout)
{
    SKIP_ON_REAL_DEVICE(
        "an emulated line on a loaded machine does not keep a 25 ms trickle's pace");
    PacketLog log;
    std::vector<Clock::duration> arrivals;
    TComThread com(&owner);
    com.SetPort(kPort);
    com.SetPacketSize(10);
    com.SetTimeout(1000);
    Clock::time_point opened;
    com.OnPacketReceived = [&](TObject*, AnsiString& buffer) {
        log.packets.push_back(buffer);
        arrivals.push_back(Clock::now() - opened);
    };
    opened = Clock::now();
    com.ComInit();
    ASSERT_TRUE(com.Initialized);
    std::thread trickle([&] {
        std::this_thread::sleep_until(opened + 1850ms);
        for (int i = 0; i < 12; ++i) {
            pty.Write(std::string(1, static_cast<char>('a' + i)));
            std::this_thread::sleep_for(25ms);
        }
    });
    const bool all = log.WaitForBytes(12, 10s);
    trickle.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(log.Joined(), "abcdefghijkl");
    ASSERT_GE(log.packets.size(), 2u);
    EXPECT_LT(log.packets[0].size(), 10u);
    EXPECT_GT(arrivals[0], 1900ms);
    EXPECT_LT(arrivals[0], 3000ms);
}

TEST_F(ComThreadReceiveTest, HandlersAreCopiedAtComInit)
{
    PacketLog early, late;
    auto* com = Open<TComThread>(160, 10, &early);

    // Replaced after ComInit: the copy taken at ComInit still gets the bytes.
    com->OnPacketReceived = late.Handler();
    pty.Write("one");
    ASSERT_TRUE(early.WaitForBytes(3));
    EXPECT_TRUE(late.packets.empty());

    // Removed after ComInit: still called.
    com->OnPacketReceived = nullptr;
    pty.Write("two");
    ASSERT_TRUE(early.WaitForBytes(6));

    // The next ComInit takes the current handler (none): bytes are read and dropped.
    com->ComInit();
    pty.Write("dropped");
    testapp::ProcessFor(kSettle);
    EXPECT_EQ(early.Joined(), "onetwo");

    com->OnPacketReceived = late.Handler();
    com->ComInit();
    pty.Write("three");
    ASSERT_TRUE(late.WaitForBytes(5));
    EXPECT_EQ(late.Joined(), "three");
    EXPECT_EQ(early.Joined(), "onetwo");
}

TEST_F(ComThreadReceiveTest, NoHandlerRunsOnceComCloseBegan)
{
    PacketLog log;
    auto* com = Open<TComThread>(160, 10, &log);
    pty.Write("waiting");
    // Without message handling the reader sits in Synchronize with the packet.
    std::this_thread::sleep_for(kSettle);
    com->ComClose();
    testapp::ProcessFor(kSettle);
    EXPECT_TRUE(log.packets.empty());
}

TEST_F(ComThreadReceiveTest, ComCloseFromInsideAHandlerRaisesAndReceptionGoesOn)
{
    PacketLog log;
    TMyCom com(&owner);
    com.SetPort(kPort);
    std::vector<AnsiString> refusals;
    com.OnPacketReceived = [&](TObject* Sender, AnsiString& buffer) {
        log.Handler()(Sender, buffer);
        for (auto call : {&TComThread::ComClose, &TComThread::ComInit}) {
            try {
                (com.*call)();
            } catch (const Exception& e) {
                refusals.push_back(e.Message);
            }
        }
    };
    com.ComInit();
    pty.Write("x");
    ASSERT_TRUE(log.WaitForBytes(1));
    ASSERT_EQ(refusals.size(), 2u);
    EXPECT_EQ(refusals[0], refusals[1]);
    EXPECT_NE(refusals[0].find("event handlers"), std::string::npos) << refusals[0];
    pty.Write("y");
    ASSERT_TRUE(log.WaitForBytes(2));
    EXPECT_NE(com.Reader, nullptr);
}

TEST_F(ComThreadReceiveTest, DestroyedFromItsOwnHandlerClosesOnceTheHandlerReturned)
{
    TComThread* com = new TComThread(&owner);
    com->SetPort(kPort);
    bool deleted = false;
    com->OnPacketReceived = [&](TObject*, AnsiString&) {
        delete com;
        deleted = true;
    };
    com->ComInit();
    pty.Write("bye");
    ASSERT_TRUE(testapp::ProcessUntil([&] { return deleted; }, kPatience));
    // The port is released a moment later; then it opens again.
    TComThread next(&owner);
    next.SetPort(kPort);
    EXPECT_TRUE(testapp::ProcessUntil(
        [&] {
            next.ComInit();
            return next.Initialized;
        },
        kPatience));
}

TEST_F(ComThreadReceiveTest, PurgeWhileAReadIsPendingKeepsReceiving)
{
    PacketLog log;
    auto* com = Open<TComThread>(160, 100, &log);
    for (int round = 0; round < 3; ++round) {
        testapp::ProcessFor(50ms); // a read is pending
        com->Purge();
        const std::string text = "after purge " + std::to_string(round);
        pty.Write(text);
        ASSERT_TRUE(log.WaitForBytes(text.size()));
        EXPECT_EQ(log.Joined(), text);
        log.packets.clear();
    }
    EXPECT_NE(com->Reader, nullptr);
}

TEST_F(ComThreadReceiveTest, SenderIsTheComponentOrItsOwner)
{
    struct Case
    {
        const char* name;
        std::function<TComThread*(QObject*)> make;
        bool ownerIsSender;
    };
    const std::vector<Case> cases = {
        {"TComThread", [](QObject* o) { return new TComThread(o); }, false},
        {"TAdvancedCom", [](QObject* o) { return new TAdvancedCom(o); }, true},
        {"TMyCom", [](QObject* o) { return new TMyCom(o); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PacketLog log;
        std::unique_ptr<TComThread> com(c.make(&owner));
        com->SetPort(kPort);
        com->OnPacketReceived = log.Handler();
        com->ComInit();
        pty.Write("s");
        ASSERT_TRUE(log.WaitForBytes(1));
        EXPECT_EQ(log.senders[0], c.ownerIsSender ? &owner : static_cast<QObject*>(com.get()));
    }
}

TEST_F(ComThreadReceiveTest, NoStatusEventOnADeviceWithoutModemLines)
{
    SKIP_ON_REAL_DEVICE("a real device has modem lines");
    PacketLog log;
    int statusEvents = 0;
    TAdvancedCom com(&owner);
    com.SetPort(kPort);
    com.OnPacketReceived = log.Handler();
    com.OnStatusChanged = [&](TObject*, bool, bool, bool, bool) { ++statusEvents; };
    com.ComInit();
    pty.Write("abc");
    ASSERT_TRUE(log.WaitForBytes(3));
    testapp::ProcessFor(kSettle);
    EXPECT_EQ(statusEvents, 0);
}

TEST_F(ComThreadReceiveTest, HandlerExceptionIsShownAndReceptionGoesOn)
{
    PacketLog log;
    TMyCom com(&owner);
    com.SetPort(kPort);
    com.OnPacketReceived = [&](TObject* Sender, AnsiString& buffer) {
        log.Handler()(Sender, buffer);
        if (buffer == "boom")
            throw Exception("handler failed");
    };
    com.ComInit();
    pty.Write("boom");
    ASSERT_TRUE(log.WaitForBytes(4));
    ASSERT_TRUE(testapp::ProcessUntil([] { return !testapp::ShownExceptions().empty(); }, 1s));
    EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{"handler failed"});
    testapp::ProcessFor(kSettle); // the packet "boom" has gone; the next is separate
    pty.Write("fine");
    ASSERT_TRUE(log.WaitForBytes(8));
    EXPECT_EQ(log.Joined(), "boomfine");
}

TEST_F(ComThreadReceiveTest, UnpluggedDeviceStopsTheReaderAndReopenWorks)
{
    SKIP_ON_REAL_DEVICE("the line is pulled by closing the pty's master");
    PacketLog log;
    std::vector<std::pair<TObject*, AnsiString>> readErrors;
    TMyCom com(&owner);
    com.SetPort(kPort);
    com.OnPacketReceived = log.Handler();
    com.OnReadError = [&](TObject* Sender, const AnsiString& text) {
        readErrors.emplace_back(Sender, text);
    };
    com.ComInit();
    pty.Write("before");
    ASSERT_TRUE(log.WaitForBytes(6));

    pty.CloseMaster(); // the reader has a read pending
    ASSERT_TRUE(testapp::ProcessUntil([&] { return !readErrors.empty(); }, kPatience));
    EXPECT_EQ(readErrors[0].first, &owner);
    EXPECT_EQ(readErrors[0].second, "Read Error: 5");
    EXPECT_EQ(com.ErrorText, "Read Error: 5");
    ASSERT_NE(com.Reader, nullptr);
    EXPECT_TRUE(testapp::ProcessUntil([&] { return !com.Reader->Running; }, kPatience));
    try {
        com.Write("lost");
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message.rfind("Send Error: ", 0), 0u) << e.Message;
    }

    // A new adapter appears under the same port number.
    PseudoTerminal replacement;
    SetPortMap({{kPort, replacement.SlavePath()}});
    com.ComInit();
    ASSERT_TRUE(com.Initialized) << com.ErrorText;
    replacement.Write("after");
    ASSERT_TRUE(log.WaitForBytes(11));
    EXPECT_EQ(log.Joined(), "beforeafter");
    com.Write("back");
    EXPECT_EQ(replacement.Read(4, kPatience), "back");
    EXPECT_EQ(readErrors.size(), 1u);
    com.ComClose();
}

} // namespace

namespace {

// A reader that the allocator places at the address of the last one whenever that one is
// gone, as a free list may: shows that ComClose does not take a new reader for the one it
// stops.
class RecycledReader : public TComport
{
public:
    using TComport::TComport;

    static void* operator new(std::size_t size)
    {
        if (size <= sizeof slot_ && !slotUsed_) {
            slotUsed_ = true;
            return slot_;
        }
        return ::operator new(size);
    }
    static void operator delete(void* p)
    {
        if (p == slot_)
            slotUsed_ = false;
        else
            ::operator delete(p);
    }

private:
    alignas(std::max_align_t) static inline unsigned char slot_[4096];
    static inline bool slotUsed_ = false;
};
static_assert(sizeof(RecycledReader) <= 4096);

class RecyclingCom : public TComThread
{
public:
    using TComThread::TComThread;

protected:
    void SetupThread() override
    {
        if (!PortHandle)
            return;
        Reader = std::make_unique<RecycledReader>(this, PortHandle.get(), true, FPacketSize,
                                                  OnPacketReceived, ReadErrorReporter());
    }
};

} // namespace

// A window message handled while ComClose waits reopens the port; its new reader sits where
// the old one was. ComClose must neither wait on that running reader nor leave it behind.
TEST_F(ComThreadReceiveTest, ReopenInsideComCloseWithTheReaderAtTheSameAddress)
{
    PacketLog log;
    RecyclingCom com(&owner);
    com.SetPort(kPort);
    com.OnPacketReceived = log.Handler();
    com.ComInit();
    ASSERT_TRUE(com.Initialized) << com.ErrorText;
    TComport* const first = com.Reader.get();
    pty.Write("pending");
    // Without message handling the reader sits in Synchronize with the packet, so it is
    // still running when ComClose begins.
    std::this_thread::sleep_for(kSettle);

    TComport* second = nullptr;
    QTimer::singleShot(0ms, &owner, [&] {
        com.ComInit();
        second = com.Reader.get();
    });
    // What breaks a wait on the wrong reader, so that a failure does not hang the test.
    QTimer::singleShot(3s, &owner, [&] {
        if (com.Reader) {
            com.Reader->Terminate();
            com.PortDriver()->WakeRead();
        }
    });
    const auto started = Clock::now();
    com.ComClose();
    const auto took = Clock::now() - started;

    ASSERT_EQ(second, first) << "the new reader was placed elsewhere: nothing shown";
    EXPECT_LT(took, 1s);
    // ComClose leaves the component closed, the reopened port included.
    EXPECT_EQ(com.Reader, nullptr);
    EXPECT_EQ(com.PortDriver(), nullptr);
    com.ComInit();
    EXPECT_TRUE(com.Initialized) << com.ErrorText;
    pty.Write("again");
    EXPECT_TRUE(log.WaitForBytes(5));
    EXPECT_EQ(log.Joined(), "again");
}
