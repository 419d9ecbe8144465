// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application without its window: the sequence, the editor state, the
// serial port, the 32 strips, and every handler of the main window. The Qt
// window creates one, renders its state and forwards user events to it; the
// command-line tool and the tests drive it headless.
//
// Handlers run nested: the player handles pending window events between
// frames, so any handler may run inside RunClick, and RunClick goes on with
// the state it left.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/MainWindowView.h"
#include "editor/PlaybackObserver.h"
#include "editor/PlaybackSchedule.h"
#include "editor/TChannel.h"
#include "link/TSerial.h"
#include "sequence/Sequence.h"

class Notifier;
class SerialDevice;
class TickSource;
namespace sim {
class ControllerSimulator;
}

class EditorCore {
public:
    using PortLister = std::function<std::vector<std::string>()>;

    // ports defaults to this platform's EnumerateComPorts.
    EditorCore(MainWindowView& view, Notifier& notifier, TickSource& ticks,
               PortLister ports = {});
    // With the serial port on the given device instead of this platform's
    // (a model of the line, a scripted device in tests).
    EditorCore(MainWindowView& view, Notifier& notifier, TickSource& ticks, PortLister ports,
               std::unique_ptr<SerialDevice> device);
    ~EditorCore();
    EditorCore(const EditorCore&) = delete;
    EditorCore& operator=(const EditorCore&) = delete;

    // Window creation, in order: stamp, lastFrame, strips with their
    // handlers, port object, portStatus, empty status, sequence defaults,
    // port submenu, then currentFrame/playing/paused.
    void FormCreate();

    // --- state (shared by every handler) ---
    Sequence sequence;
    EditorState state;
    TSerial serialPort;
    TChannel& strip(int channel) { return *channelStrips[channel]; }
    std::array<std::unique_ptr<TChannel>, kChannelCount> channelStrips;

    // --- channel strips ---
    void TrackChange(int channel);
    void PositionChange(int channel);
    void OffsetChange(int channel);
    void rateChange(int channel);
    void PauseChange(int channel);
    void PosKeyDown(int channel, int& key);
    void PositionExit(int channel);
    // A click on another control of the window while a position box is in
    // typing mode: ends it as leaving the box would (sync and send, then
    // the clamp), before the clicked control's own handling. Does nothing
    // when no box is in typing mode.
    void endTypingMode();
    // The strip whose position box is in typing mode; -1 when none is.
    int typingChannel() const { return state.typingPosition ? typingChannel_ : -1; }
    void StaticTextOffClick(int channel);
    void StaticTextMaxClick(int channel);
    void StaticTextCtrClick(int channel);
    void StaticTextMinClick(int channel);
    void UpdateChannel(int channel);  // live position command of the strip

    // --- frame editor ---
    void LoadFrame();
    void UpdateDisplay();
    void IndexChange();
    void WriteFrameClick();
    void FrameResetClick();
    void InsFrameClick();
    void DelFrameClick();
    void StartFrameClick();
    void PriorFrameClick();
    void NextFrameClick();
    void LastFrameClick();
    void IncButtonClick();
    void DecButtonClick();
    void Label2DblClick();
    // Shows `frame` in the strips as the frame buttons do: the index set,
    // then IndexChange (which sends the channels it marks). Refused (false)
    // while a playback runs and for a frame that does not exist.
    bool showFrame(int frame);

    // Called after every operation that changed the sequence, the current
    // frame or a jump: an edit in a strip, Write, Insert, Delete, Reset, the
    // jump editor, navigation, Open and the frames a playback shows. A
    // listener only notes the change (it may be told many times by one
    // handler) and returns at once; it stays for the core's whole life.
    void addChangeListener(std::function<void()> listener);

    // --- player ---
    void RunClick();
    void PlayChannel(int channel);
    void PauseButtonClick();
    void StopClick();
    // Those told what the player does; each is told in the order added.
    // An observer stays registered until removed and must outlive that.
    void addPlaybackObserver(PlaybackObserver* observer);
    void removePlaybackObserver(PlaybackObserver* observer);

    // --- sequence file ---
    void Open1Click();
    void Save1Click();

    // --- controller services ---
    void ReadClick();
    void DownloadClick();

    // --- ports ---
    void UpdatePortDirectiveList();
    void ComPortComboClick(const std::string& caption);

    // --- the simulated controller (after the ports in the submenu) ---
    // False where the system cannot make one: the submenu leaves it out.
    bool simulatorAvailable() const;
    // Starts the simulated controller if it is not running and selects its
    // port as ComPortComboClick selects any port. When it cannot start, an
    // error box says why and the port stays as it was. Choosing a real port
    // afterwards releases it (its thread ends, its pair is closed).
    void SimulatedControllerClick();
    // The running simulated controller, null while there is none. Shared,
    // so that a display may go on reading its last state once released.
    const std::shared_ptr<sim::ControllerSimulator>& simulator() const { return simulator_; }
    // The port is open on the simulated controller.
    bool simulatorChosen() const;

    // --- window ---
    void QuitClick();
    // The window closes: ends a running playback first, so nothing touches
    // the port afterwards, then closes the port.
    void FormClose();

    // The window's busy wait (no window events handled).
    void Delay(uint32_t ms);

    // Run after every operation that used the port: when its device went
    // away (an adapter pulled), closes the port once, sets portStatus back to
    // -1 so that choosing the port again works, and shows "    Comm Port Lost"
    // on yellow at once. True when that happened in this call. A running
    // playback then ends as Stop would, at the player's next step.
    bool handlePortLost();
    // The name of the port whose device went away last; empty until then and
    // again after the next successful port selection.
    const std::string& lostPortName() const { return lostPortName_; }

    MainWindowView& view() { return view_; }

private:
    void mark(int channel);      // changed of the channel and frameUsed of the current frame
    void markFrameUsed();
    void attachHandlers(TChannel& strip);
    void showJumpLabel(int32_t jumpTo, bool emptyWhenNone);
    void showChannel(int frame, int channel);
    // Stop's own changes (playing cleared, frame 0 shown, edit buttons back)
    // without its status, which would hide the loss.
    void stopPlayback();
    void releaseSimulator();
    template <typename Call> void tellObservers(Call call);
    void changed();  // tells the change listeners

    MainWindowView& view_;
    TickSource& ticks_;
    // The pace of the commands the player causes. Shared by nested players,
    // which follow one another on one time line; Play, Stop and navigation
    // restart it. It learns the line's speed from every position command.
    PlaybackSchedule schedule_;
    int playersRunning_ = 0;    // RunClick calls under way (nested ones count)
    unsigned lossesAtPlay_ = 0;  // portLosses_ when the innermost of them began
    PortLister ports_;
    std::string lostPortName_;
    unsigned portLosses_ = 0;  // counts handlePortLost's closes; a player compares
    int typingChannel_ = 0;    // the box whose key set typingPosition
    std::shared_ptr<sim::ControllerSimulator> simulator_;
    std::vector<PlaybackObserver*> observers_;
    std::vector<std::function<void()>> changeListeners_;
};
