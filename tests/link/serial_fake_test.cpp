// SPDX-License-Identifier: GPL-3.0-or-later
// The port's own logic on the scripted device, for what a pseudo-terminal
// cannot show: modem lines, parity, failing line settings, a full output
// queue, short writes and the time a stalled line takes.

#include <gtest/gtest.h>

#include <string>

#include "FakeLine.h"

namespace {

TEST_F(FakeLine, OpenSetsTheLineThenLowersDtrAndRts) {
    ASSERT_TRUE(port->Open("COM3", "2400", "None", "8", true));
    // Whatever the device had (9600, 7 bits, odd parity, two stop bits,
    // flow control) is replaced.
    EXPECT_EQ(trace.entries, (Calls{"open COM3", "get-state", "get-state",
                                    "set-state 2400 8 parity 0 stop 0 flags 0", "escape 6",
                                    "escape 4", "timeouts 0 0 0 0 0"}));
    EXPECT_TRUE(notifier.calls.empty());
}

TEST_F(FakeLine, LineSettingTexts) {
    struct Case {
        const char *baud, *parity, *bits;
        uint32_t appliedBaud;
        uint8_t appliedBits, appliedParity;
    };
    // Only "None" exactly means no parity; a text that is no number leaves
    // the device's own value.
    const Case cases[] = {
        {"2400", "None", "8", 2400, 8, 0},   {"2400", "none", "8", 2400, 8, 2},
        {"2400", "NONE", "8", 2400, 8, 2},   {"2400", "None ", "8", 2400, 8, 2},
        {"2400", "", "8", 2400, 8, 2},       {"19200", "Even", "7", 19200, 7, 2},
        {"24OO", "None", "8x", 9600, 7, 0}, {"", "None", "", 9600, 7, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(port->Open("COM3", c.baud, c.parity, c.bits, true));
        EXPECT_EQ(device->applied, (LineSettings{c.appliedBaud, 0, c.appliedBits, c.appliedParity, 0}))
            << c.baud << " " << c.parity << " " << c.bits;
        port->Close();
    }
}

TEST_F(FakeLine, UnknownOpenErrorShowsNoReason) {
    device->openError = 31;
    EXPECT_FALSE(port->Open("COM3", "2400", "None", "8", true));
    EXPECT_EQ(port->lastError(), 31u);
    EXPECT_EQ(trace.entries, (Calls{"open COM3"}));
    ASSERT_EQ(notifier.calls.size(), 2u);
    EXPECT_EQ(notifier.calls[0].kind, RecordingNotifier::Call::Beep);
    EXPECT_EQ(notifier.calls[1].text, "Could not open port: COM3.  Reason is unknown.");
}

TEST_F(FakeLine, UnreadableLineSettingsAtOpenCloseTheDeviceAgain) {
    device->commStateReads = 0;
    EXPECT_FALSE(port->Open("COM3", "2400", "None", "8", false));
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_FALSE(port->Open("COM3", "2400", "None", "8", true));
    EXPECT_EQ(trace.entries, (Calls{"open COM3", "get-state", "close", "open COM3", "get-state", "close"}));
    ASSERT_EQ(notifier.calls.size(), 2u);
    EXPECT_EQ(notifier.calls[0].kind, RecordingNotifier::Call::Beep);
    EXPECT_EQ(notifier.calls[0].frequency, 1000u);
    EXPECT_EQ(notifier.calls[0].duration, 75u);
    EXPECT_EQ(notifier.calls[1].text, "Unable to build data control block for serial port.");
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->handle(), SerialDevice::kInvalidHandle);
    EXPECT_EQ(port->buffer(), nullptr);
}

// Reported even without show errors; the port is open all the same, and
// the modem lines are left alone.
TEST_F(FakeLine, UnreadableLineSettingsInConfigureAreReportedAlways) {
    device->commStateReads = 1;
    EXPECT_TRUE(port->Open("COM3", "2400", "None", "8", false));
    EXPECT_EQ(trace.entries, (Calls{"open COM3", "get-state", "get-state", "timeouts 0 0 0 0 0"}));
    ASSERT_EQ(notifier.calls.size(), 2u);
    EXPECT_EQ(notifier.calls[0].kind, RecordingNotifier::Call::Beep);
    EXPECT_EQ(notifier.calls[1].text, "Unable to set configuration on serial port.");
    EXPECT_TRUE(port->isOpen());
}

TEST_F(FakeLine, AClosedPortTouchesNothing) {
    uint8_t buf[16] = {};
    EXPECT_EQ(port->Read(buf, 16), 0);
    EXPECT_EQ(port->ReadByte(50), 1000);
    EXPECT_FALSE(port->SendByte(0x55, 150));
    EXPECT_FALSE(port->SendString("abc"));
    EXPECT_EQ(port->pendingOutput(), "");  // the text is not kept
    EXPECT_EQ(port->Drain(0, 100), -1);
    EXPECT_EQ(port->Drain(10, 100), -1);
    EXPECT_FALSE(port->Probe());
    port->Configure("2400", "None", "8");
    port->SetDtr(false);
    port->SetRts(false);
    port->Close();
    EXPECT_TRUE(trace.entries.empty());
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_FALSE(port->deviceGone());
}

TEST_F(FakeLine, SendStringChecksTheQueueBeforeEachCharacter) {
    open();
    EXPECT_TRUE(port->SendString(std::string("A\0B", 3)));  // the zero is dropped
    EXPECT_EQ(trace.entries, (Calls{"status", "timeouts 0 0 0 0 150", "write 41", "status",
                                    "timeouts 0 0 0 0 150", "write 42"}));
}

// A queue of 4096 bytes or more refuses an attempt; the tenth attempt is
// still made, and the first one below the limit writes.
TEST_F(FakeLine, ACharacterHasTenAttemptsAgainstAFullQueue) {
    open();
    device->outQueues = {4096, 5000, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4095};
    EXPECT_TRUE(port->SendString("A"));
    Calls expected{"status out 4096", "status out 5000"};
    expected.insert(expected.end(), 7, "status out 4096");
    expected.insert(expected.end(), {"status out 4095", "timeouts 0 0 0 0 150", "write 41"});
    EXPECT_EQ(trace.entries, expected);
    EXPECT_EQ(ticks.totalSlept(), 0u);  // no wait between attempts
}

TEST_F(FakeLine, TenRefusedAttemptsGiveUpAndKeepTheRest) {
    open();
    device->outQueues.assign(10, 4096);
    EXPECT_FALSE(port->SendString("ABC"));
    EXPECT_EQ(trace.entries, Calls(10, "status out 4096"));
    EXPECT_EQ(port->pendingOutput(), "BC");
    // The next call drops the refused character and sends the rest first.
    EXPECT_TRUE(port->SendString("D"));
    EXPECT_EQ(device->sent, (std::vector<uint8_t>{'B', 'C', 'D'}));
    // The last character of a text failing is a failure too.
    device->outQueues.assign(10, 4096);
    EXPECT_FALSE(port->SendString("E"));
}

// A line that takes nothing: the first write waits the whole budget, the
// nine others 1 ms each, and the character is given up well within a
// second. A write that takes the byte at the tenth attempt still counts.
TEST_F(FakeLine, AStalledLineSharesOneBudgetOverTheAttempts) {
    open();
    device->writeAccepts.assign(10, 0);
    const uint32_t t0 = ticks.GetTickCount();
    EXPECT_FALSE(port->SendString("AB"));
    Calls expected{"status", "timeouts 0 0 0 0 150", "write 41 -> 0"};
    for (int i = 0; i < 9; ++i) expected.insert(expected.end(), {"status", "timeouts 0 0 0 0 1", "write 41 -> 0"});
    EXPECT_EQ(trace.entries, expected);
    EXPECT_EQ(ticks.GetTickCount() - t0, 159u);
    EXPECT_EQ(port->pendingOutput(), "B");

    device->writeAccepts.assign(9, 0);
    EXPECT_TRUE(port->SendString(""));
    EXPECT_EQ(device->sent, (std::vector<uint8_t>{'B'}));
}

// "No time-out" from a caller is bounded by the per-byte write time-out of
// the command set; a write that took time leaves less for the line to drain.
TEST_F(FakeLine, EveryWaitIsBounded) {
    open();
    port->SendByte('x', 0);
    port->ReadByte(0);
    port->Drain(3, -1);
    port->ReadByte(1);
    EXPECT_EQ(trace.entries,
              (Calls{"timeouts 0 0 0 0 150", "write 78", "wait-drained 150", "timeouts 0 0 150 0 0",
                     "read 1 -> 0", "timeouts 0 0 150 0 0", "read 3 -> 0", "timeouts 0 0 1 0 0",
                     "read 1 -> 0"}));

    trace.clear();
    device->onWrite = [this](uint8_t) { ticks.advance(40); };
    EXPECT_TRUE(port->SendByte('a', 150));
    device->onWrite = [this](uint8_t) { ticks.advance(150); };
    EXPECT_TRUE(port->SendByte('b', 150));
    device->writeAccepts = {0};
    EXPECT_TRUE(port->SendByte('c', 100));  // timed out: success without a byte, as the platform says
    EXPECT_EQ(trace.entries, (Calls{"timeouts 0 0 0 0 150", "write 61", "wait-drained 110",
                                    "timeouts 0 0 0 0 150", "write 62", "timeouts 0 0 0 0 100",
                                    "write 63 -> 0"}));
}

TEST_F(FakeLine, ReadsTakeAtMost4096BytesAtATime) {
    open();
    device->input.assign(5000, 'x');
    EXPECT_EQ(port->Drain(0, 100), 5000);
    EXPECT_EQ(trace.entries, (Calls{"timeouts MAX 0 0 0 0", "status in 5000", "read 4096 -> 4096",
                                    "status in 904", "read 904 -> 904", "status"}));

    trace.clear();
    device->input.assign(5000, 'y');
    std::vector<uint8_t> dest(5000);
    EXPECT_EQ(port->Read(dest.data(), 5000), 4096);
    EXPECT_EQ(port->Drain(4096, 20), 904);
    EXPECT_EQ(port->Drain(1, 20), 0);
    EXPECT_EQ(port->Drain(4097, 20), 0);
    EXPECT_EQ(trace.entries,
              (Calls{"timeouts MAX 0 0 0 0", "read 4096 -> 4096", "timeouts 0 0 20 0 0",
                     "read 4096 -> 904", "timeouts 0 0 20 0 0", "read 1 -> 0",
                     "timeouts MAX 0 0 0 0", "status"}));

    // A count of 0 or below takes nothing, and leaves the destination alone.
    trace.clear();
    device->input = {'z'};
    dest[0] = 'd';
    EXPECT_EQ(port->Read(dest.data(), 0), 0);
    EXPECT_EQ(port->Read(dest.data(), -3), 0);
    EXPECT_EQ(dest[0], 'd');
    EXPECT_EQ(device->input.size(), 1u);
}

// A line whose status counts bytes that no read yields ends the discard
// instead of polling it for ever.
TEST_F(FakeLine, DiscardEndsWhenAReadYieldsNothing) {
    open();
    device->unreadable = 3;
    EXPECT_EQ(port->Drain(0, 100), 0);
    EXPECT_EQ(trace.entries, (Calls{"timeouts MAX 0 0 0 0", "status in 3", "read 3 -> 0"}));
}

TEST_F(FakeLine, CloseReleasesTheDevice) {
    open();
    port->Close();
    EXPECT_EQ(trace.entries, (Calls{"close"}));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->buffer(), nullptr);
}

}  // namespace
