// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing a port from the "Select Comm Port" submenu: the statuses, their
// colours and the waits between them, against a real pseudo-terminal served
// by the controller simulator; and the submenu built at start-up.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FakeTicks.h"
#include "FakeView.h"
#include "RecordingNotifier.h"
#include "editor/EditorCore.h"
#include "link/PortEnumeration.h"
#include "sim/ControllerSimulator.h"

namespace {

struct Shown {
    std::string text;
    std::optional<Rgb> colour;
    bool repaintNow;
    uint32_t atMs;  // fake ticks since the click began
    friend bool operator==(const Shown&, const Shown&) = default;
};

std::ostream& operator<<(std::ostream& os, const Shown& s) {
    os << '"' << s.text << "\" ";
    if (s.colour)
        os << "rgb(" << int(s.colour->red) << ',' << int(s.colour->green) << ','
           << int(s.colour->blue) << ')';
    else
        os << "no colour";
    return os << (s.repaintNow ? " repainted" : " not repainted") << " at +" << s.atMs;
}

Shown closing(uint32_t at) { return {"   Closing old Port", kYellow, true, at}; }
Shown opening(uint32_t at) { return {" Opening Comm Port", kAqua, true, at}; }
Shown open(uint32_t at) { return {"  Comm Port Open", kLime, true, at}; }

class PortSelection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start()) << sim.error();
        core.FormCreate();
        view.onStatus = [this](const FakeView::Status& s) {
            shown.push_back({s.text, s.colour, s.repaintNow, ticks.GetTickCount() - clickStart});
        };
    }
    void TearDown() override { core.FormClose(); }

    // One click on a submenu entry; returns the fake milliseconds it took.
    uint32_t click(const std::string& caption) {
        shown.clear();
        notifier.calls.clear();
        clickStart = ticks.GetTickCount();
        core.ComPortComboClick(caption);
        return ticks.GetTickCount() - clickStart;
    }

    // A command sent through the core's port reaches the simulator.
    bool reachesTheSimulator() {
        sim.clear();
        core.sendPosition(3, 0, 1800, 0);
        return sim.waitFor(
            [](const std::vector<sim::Event>& ev) {
                return !ev.empty() && ev.back().kind == sim::Event::Kind::Position &&
                       ev.back().position.channel == 3;
            },
            std::chrono::seconds(10));
    }

    sim::ControllerSimulator sim;
    FakeView view;
    RecordingNotifier notifier;
    FakeTicks ticks;
    EditorCore core{view, notifier, ticks, [] { return std::vector<std::string>{}; }};
    std::vector<Shown> shown;
    uint32_t clickStart = 0;
};

TEST_F(PortSelection, FirstOpenHasNoCloseStep) {
    EXPECT_EQ(click(sim.portName()), 1000u);
    EXPECT_EQ(shown, (std::vector<Shown>{opening(500), open(1000)}));
    EXPECT_EQ(core.state().portStatus, 0);
    EXPECT_TRUE(core.serialPort().isOpen());
    EXPECT_EQ(core.serialPort().portName(), sim.portName());
    EXPECT_TRUE(notifier.calls.empty());
    // It is the simulator's line that was opened.
    EXPECT_TRUE(reachesTheSimulator());
}

TEST_F(PortSelection, ChoosingTheOpenPortClosesAndReopensIt) {
    click(sim.portName());
    EXPECT_EQ(click(sim.portName()), 1500u);
    EXPECT_EQ(shown, (std::vector<Shown>{closing(500), opening(1000), open(1500)}));
    EXPECT_EQ(core.state().portStatus, 1);
    EXPECT_TRUE(core.serialPort().isOpen());
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_TRUE(reachesTheSimulator());
}

TEST_F(PortSelection, FailedOpenAfterASuccessfulOneKeepsPortStatus) {
    click(sim.portName());
    EXPECT_EQ(click("nosuchport"), 1500u);
    EXPECT_EQ(shown, (std::vector<Shown>{closing(500), opening(1000)}));
    EXPECT_EQ(view.statusText, " Opening Comm Port");
    EXPECT_EQ(view.statusColour, kAqua);
    EXPECT_EQ(core.state().portStatus, 0);
    EXPECT_FALSE(core.serialPort().isOpen());
    ASSERT_EQ(notifier.calls.size(), 2u);
    EXPECT_EQ(notifier.calls[0].kind, RecordingNotifier::Call::Beep);
    EXPECT_EQ(notifier.calls[0].frequency, 1000u);
    EXPECT_EQ(notifier.calls[0].duration, 75u);
    EXPECT_EQ(notifier.calls[1].kind, RecordingNotifier::Call::Message);
    EXPECT_EQ(notifier.calls[1].text,
              "Could not open port: nosuchport.  This port does not exist or is not configured "
              "properly.");

    // A port was open once: the next choice starts with the close step again.
    EXPECT_EQ(click(sim.portName()), 1500u);
    EXPECT_EQ(shown, (std::vector<Shown>{closing(500), opening(1000), open(1500)}));
    EXPECT_EQ(core.state().portStatus, 1);
    EXPECT_TRUE(core.serialPort().isOpen());
}

TEST_F(PortSelection, RefusedNameFailsWithoutAMessage) {
    EXPECT_EQ(click("../" + sim.portName()), 1000u);
    EXPECT_EQ(shown, (std::vector<Shown>{opening(500)}));
    EXPECT_EQ(view.statusText, " Opening Comm Port");
    EXPECT_EQ(view.statusColour, kAqua);
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_EQ(core.state().portStatus, -1);
    EXPECT_FALSE(core.serialPort().isOpen());

    // Nothing was ever open, so the next choice has no close step either.
    EXPECT_EQ(click(sim.portName()), 1000u);
    EXPECT_EQ(shown, (std::vector<Shown>{opening(500), open(1000)}));
    EXPECT_EQ(core.state().portStatus, 0);
}

// ------------------------------------------------------------ the submenu ----

struct MenuCore {
    explicit MenuCore(EditorCore::PortLister lister) : core(view, notifier, ticks, std::move(lister)) {}
    FakeView view;
    RecordingNotifier notifier;
    FakeTicks ticks;
    EditorCore core;
};

TEST(PortMenu, ListsThePortsInTheOrderFound) {
    MenuCore m([] { return std::vector<std::string>{"ttyUSB0", "ttyS1", "pts/3", "ttyACM0"}; });
    m.core.FormCreate();
    EXPECT_EQ(m.view.portMenu, (std::vector<std::string>{"ttyUSB0", "ttyS1", "pts/3", "ttyACM0"}));
    EXPECT_TRUE(m.view.errors.empty());
}

TEST(PortMenu, NoPortsGiveAnEmptyMenuAndNoMessage) {
    MenuCore m([] { return std::vector<std::string>{}; });
    m.core.FormCreate();
    EXPECT_EQ(m.view.portMenuBuilds, 1);
    EXPECT_TRUE(m.view.portMenu.empty());
    EXPECT_TRUE(m.view.errors.empty());
    EXPECT_TRUE(m.view.warnings.empty());
    EXPECT_TRUE(m.notifier.calls.empty());
}

TEST(PortMenu, EnumerationErrorIsShownAndStartUpCompletes) {
    MenuCore m([]() -> std::vector<std::string> {
        throw PortEnumerationError("Could not create device info list!");
    });
    m.view.portMenu = {"placeholder"};
    ASSERT_NO_THROW(m.core.FormCreate());
    EXPECT_TRUE(m.view.portMenu.empty());
    EXPECT_EQ(m.view.errors, std::vector<std::string>{"Could not create device info list!"});
    EXPECT_EQ(m.core.state().portStatus, -1);
    EXPECT_EQ(m.core.state().currentFrame, 0);
}

TEST(PortMenu, WithoutAListerThePlatformIsAsked) {
    std::vector<std::string> expected;
    ASSERT_NO_THROW(expected = EnumerateComPorts());
    MenuCore m({});
    m.core.FormCreate();
    EXPECT_EQ(m.view.portMenu, expected);
    EXPECT_TRUE(m.view.errors.empty());
}

}  // namespace
