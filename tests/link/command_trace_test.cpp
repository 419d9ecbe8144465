// SPDX-License-Identifier: GPL-3.0-or-later
// The exact calls and waits of each exchange with the controller, on the
// scripted device: the drains, the time-out of every byte, the probe's wait
// and the version query's waits.

#include <gtest/gtest.h>

#include <string>

#include "FakeLine.h"
#include "LinkTestSupport.h"
#include "link/Commands.h"

namespace {

const std::array<uint8_t, 5> kStamp{'0', '.', '9', 'g', ' '};

// The device answers like the controller: every byte comes back, and
// "1.4" follows the carriage return that ends the version query "!SCVER?".
class ControllerLine : public FakeLine {
protected:
    void SetUp() override {
        open();
        device->echo = true;
        device->onWrite = [this](uint8_t b) {
            if (b == 0x0D && previous == '?')
                for (char c : std::string("1.4")) device->input.push_back(static_cast<uint8_t>(c));
            previous = b;
        };
    }
    uint8_t previous = 0;
};

// Drain, then what the probe sends and reads once nothing is waiting.
Calls probeCalls(const std::string& readResult) {
    return joined({discardNothing(), {"wait 50"}, sendByte(0x55, 250),
                   {"timeouts 0 0 50 0 0", "read 1 -> " + readResult}});
}

TEST_F(ControllerLine, PositionCommandIsFramedByTwoDrains) {
    device->input = {0x99};  // something stale on the line
    sendPositionCommand(*port, 3, 7, 1500, 10);
    const std::vector<uint8_t> bytes{0x21, 0x53, 0x43, 0x03, 0x07, 0xF3, 0x02, 0x0D};
    EXPECT_EQ(trace.entries,
              joined({{"timeouts MAX 0 0 0 0", "status in 1", "read 1 -> 1", "status"},
                      sendBytes(bytes, 150),
                      {"timeouts MAX 0 0 0 0", "status in 8", "read 8 -> 8", "status"}}));
    EXPECT_EQ(ticks.totalSlept(), 0u);
}

TEST_F(ControllerLine, DownloadDrainsThenSendsEveryByte) {
    Sequence seq;
    seq.frame(0).frameUsed = 1;
    seq.channel(0, 1) = {1500, 5, 0, 300, 1, {}};
    device->input = {0x99};
    sendDownloadStream(*port, seq, kStamp);
    const std::vector<uint8_t> stream{'K', 'D', 'X', '0', '.', '9', 'g', 'F', 0, 1, 5, 0x05, 0xDC, 0x01, 0x2C};
    EXPECT_EQ(trace.entries, joined({{"timeouts MAX 0 0 0 0", "status in 1", "read 1 -> 1", "status"},
                                     sendBytes(stream, 150)}));
    EXPECT_EQ(ticks.totalSlept(), 0u);
}

TEST_F(ControllerLine, ProbeWaitsSendsAndReadsTheEcho) {
    EXPECT_TRUE(port->Probe());
    EXPECT_EQ(trace.entries, probeCalls("1"));

    trace.clear();
    device->echo = false;
    const uint32_t t0 = ticks.GetTickCount();
    EXPECT_FALSE(port->Probe());
    EXPECT_EQ(trace.entries, probeCalls("0"));
    EXPECT_EQ(ticks.GetTickCount() - t0, 100u);  // the 50 ms wait and the 50 ms read

    device->onWrite = [this](uint8_t) { device->input.push_back('T'); };
    EXPECT_FALSE(port->Probe());
}

TEST_F(ControllerLine, VersionQueryWaitsProbesAsksAndReads) {
    RecordingStatus status;
    EXPECT_TRUE(runVersionQuery(*port, 1, status));
    Calls query;
    int echoed = 0;  // the line returns each byte of the query as it goes
    for (char c : std::string("!SCVER?")) {
        query.insert(query.end(), {echoed == 0 ? "status" : "status in " + std::to_string(echoed),
                                   "timeouts 0 0 0 0 150", "write " + hexByte(static_cast<uint8_t>(c))});
        ++echoed;
    }
    EXPECT_EQ(trace.entries, joined({{"wait 500"}, probeCalls("1"), query, sendByte(0x0D, 125),
                                     {"wait 500", "timeouts MAX 0 0 0 0", "read 11 -> 11"}}));
    ASSERT_EQ(status.calls.size(), 2u);
    EXPECT_EQ(status.calls[1].text, "      Version: 1.4");
}

TEST_F(ControllerLine, VersionQueryStopsAtAFailedProbe) {
    device->echo = false;
    RecordingStatus status;
    EXPECT_FALSE(runVersionQuery(*port, 1, status));
    EXPECT_EQ(trace.entries, joined({{"wait 500"}, probeCalls("0")}));
    EXPECT_TRUE(device->sent == std::vector<uint8_t>{0x55});
}

}  // namespace
