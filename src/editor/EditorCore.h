// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application without its window: the sequence, the editor state, the
// serial port, the 32 strips, and every handler of the main window. The Qt
// window creates one, renders its state and forwards user events to it; the
// command-line tool, the motion check and the tests drive it headless.
//
// The core owns its state. Others read it through the const accessors and
// change it only through the operations below: the handlers of the window's
// controls, the lower operations for those without a window (a sequence
// handed in, a pause set, a port opened by name), and the strips' controls,
// which the window's widgets feed with the user's actions.
//
// Every change a user makes is one step of the undo history, kept here:
// an edit in a strip (a drag until its release, typing until it ends, an
// arrow click or wheel step, with repeated ones on the same control less than
// a second apart joined), Write Frame, Insert, Delete, Reset, a jump edit and
// Open. Navigation, the player, the port and the core's own sets of the
// strips (showing a frame, Reset's sets, an undo's restore) make no step.
//
// Handlers run nested: the player handles pending window events between
// frames, so any handler may run inside RunClick, and RunClick goes on with
// the state it left.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/EditHistory.h"
#include "editor/MainWindowView.h"
#include "editor/PlaybackObserver.h"
#include "editor/PlaybackSchedule.h"
#include "editor/RecoveryCopy.h"
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

    // --- the state, to read ---
    const Sequence& sequence() const { return sequence_; }
    const EditorState& state() const { return state_; }
    // The port's facts (isOpen, portName, openHint, ...); it is opened and
    // closed by the operations below.
    const TSerial& serialPort() const { return serialPort_; }
    const TChannel& strip(int channel) const { return *channelStrips_.at(channel); }

    // --- channel strips ---
    // The strip as the user's hands reach it: the window's widgets bind to
    // its controls, render them and feed them the user's actions (drags,
    // typing, steps, keys, leaving a box); a test acting as the user does
    // the same. The controls run the core's change handlers, and each user
    // action becomes part of a step of the undo history. Nothing else is
    // done through it: the program sets of the controls are the core's.
    TChannel& userStrip(int channel) { return *channelStrips_.at(channel); }
    // A click on another control of the window while a position box is in
    // typing mode: ends it as leaving the box would (sync and send, then
    // the clamp), before the clicked control's own handling. Does nothing
    // when no box is in typing mode.
    void endTypingMode();
    // The strip whose position box is in typing mode; -1 when none is.
    int typingChannel() const { return state_.typingPosition ? typingChannel_ : -1; }
    void StaticTextOffClick(int channel);  // the strip's "Offset" text, clicked: offset to 0
    void StaticTextMaxClick(int channel);  // the strip's "2500" text, clicked: position 2500
    void StaticTextCtrClick(int channel);  // the strip's "1500" text, clicked: position 1500
    void StaticTextMinClick(int channel);  // the strip's "500" text, clicked: position 500

    // --- frame editor ---
    void WriteFrameClick();  // the red disc button "Write Frame", clicked
    void FrameResetClick();  // the "Reset frame parameters" button, clicked
    void InsFrameClick();    // the "Insert Frame" button, clicked
    void DelFrameClick();    // the "Delete Frame" button, clicked
    void StartFrameClick();  // the "First Frame" button, clicked
    void PriorFrameClick();  // the "Prior Frame" button, clicked
    void NextFrameClick();   // the "Next Frame" button, clicked
    void LastFrameClick();   // the "Last Frame" button, clicked
    void IncButtonClick();   // the small up button beside "Go to:", clicked: jump + 1
    void DecButtonClick();   // the small down button beside "Go to:", clicked: jump - 1
    void Label2DblClick();   // the blue "Go to:" value, double-clicked: no jump
    // Shows `frame` in the strips as the frame buttons do: the index set,
    // then IndexChange (which sends the channels it marks). Refused (false)
    // while a playback runs and for a frame that does not exist.
    bool showFrame(int frame);

    // Called after every operation that changed the sequence, the current
    // frame or a jump: an edit in a strip, Write, Insert, Delete, Reset, the
    // jump editor, navigation, Open and the frames a playback shows; and
    // after every step, Undo, Redo, Save and recovery (so the undo history
    // and unsavedChanges may have changed). A listener only notes the change
    // (it may be told many times by one handler) and returns at once; it
    // stays for the core's whole life.
    void addChangeListener(std::function<void()> listener);

    // --- undo history (the Edit menu) ---
    // Undo takes the newest step done back: the sequence, the strips (values
    // and marks) and the current and last frame become what they were before
    // it, and each channel whose position or offset that changes is sent
    // (UpdateChannel, one command each), so the servos follow. A position
    // box in typing mode ends it first, which is a step of its own. Redo does
    // the step undone last again the same way; a new step drops the steps
    // that could have been redone. Both are refused (false) while a playback
    // runs (playing set) and when there is no step to take.
    bool canUndo() const;
    bool canRedo() const;
    bool undo();
    bool redo();
    // The step Undo or Redo would take ("Delete Frame", "Position Change"),
    // also while a playback runs; empty when there is none.
    std::string undoName() const;
    std::string redoName() const;
    static constexpr std::size_t kStepsKept = EditHistory::kStepsKept;

    // --- the sequence's file ---
    // Whether the sequence (all 128 frames, jumps and marks; the version
    // stamp aside, which every save writes anew) differs from what the last
    // Open or Save held, after Open's display of frame 0, or from the fresh
    // sequence at start. A recovered sequence counts as changed until saved.
    bool unsavedChanges() const;
    // The file the sequence was last opened from or saved to; empty when none.
    const std::string& fileName() const { return fileName_; }
    // Its name without the folder, or "Untitled": what a question names.
    std::string documentName() const;

    // --- player ---
    void RunClick();           // the green "Play Sequence" button, clicked
    void PauseButtonClick();   // the yellow "Pause" button, clicked
    void StopClick();          // the black "Stop" button, clicked
    // As a pause before `frame` leaves the player: `paused` set and the index
    // at `frame`, so that the next Play resumes there. Nothing is shown or
    // sent. Refused (false) while a playback runs and for a frame that does
    // not exist.
    bool pauseAt(int frame);
    // Ends a running playback at the player's next look at the index, with
    // nothing more shown or played: the index becomes 128, no frame, as Exit
    // and closing the window leave it.
    void abandonPlayback();
    // Those told what the player does; each is told in the order added.
    // An observer stays registered until removed and must outlive that.
    void addPlaybackObserver(PlaybackObserver* observer);
    void removePlaybackObserver(PlaybackObserver* observer);

    // --- sequence file ---
    void Open1Click();  // Sequence > Open: the file read, then openSequence
    // Sequence > Save. True when the file was written (the sequence then
    // counts as saved, under that name); false when the dialog was cancelled
    // or the save failed, and nothing changed.
    bool Save1Click();
    // A sequence read from the file `name` becomes the editor's: it replaces
    // the sequence, then frame 0 is shown as First Frame shows it (which
    // marks and sends what differs from the strips). One step, "Open"; the
    // sequence then counts as saved, under that name.
    void openSequence(const Sequence& read, const std::string& name = {});
    // The sequence becomes `replacement`, as a file read leaves it before
    // anything is shown: the strips, the indices and the port are untouched
    // and nothing is sent. No step, and not what a file holds.
    void replaceSequence(const Sequence& replacement);

    // --- recovery ---
    // The editor's state into `copy`: the whole sequence, the strips, the
    // current and last frame and the file's name, taken now. A copy used
    // before is filled without allocating (beyond a longer file name).
    void copyForRecovery(RecoveryCopy& copy) const;
    // The editor takes the state of `copy` as an unsaved sequence: its
    // sequence, strips, current and last frame and file name. The channels
    // whose position or offset changes are sent, one command each, so the
    // servos follow; the labels show the frame and its jump. The undo
    // history starts afresh. Refused (false) while a playback runs and for a
    // copy whose frame indices lie outside 0..127.
    bool recover(const RecoveryCopy& copy);
    // Told after Open read a file and after Save wrote one, with the file's
    // name as given: where what is kept beside the sequence file (its
    // soundtrack) is read and written. A listener stays for the core's
    // whole life.
    enum class FileEvent { Opened, Saved };
    using FileListener = std::function<void(FileEvent, const std::string& path)>;
    void addFileListener(FileListener listener) { fileListeners_.push_back(std::move(listener)); }

    // --- controller services ---
    void ReadClick();      // File > Get KDX Version
    void DownloadClick();  // Sequence > Download
    // One position command on the port, as the strips and the player send
    // them; nothing in the editor changes.
    void sendPosition(int channel, int rate, int position, int offset);

    // --- ports ---
    void UpdatePortDirectiveList();  // fills File > Select Comm Port
    void ComPortComboClick(const std::string& caption);  // an entry of Select Comm Port, clicked
    // Opens the named port with the controller's line settings, as the port
    // submenu does but without its waits and status texts; on success
    // portStatus counts the open. reportFailure: the port's beep and message
    // box on failure.
    bool openPort(const std::string& name, bool reportFailure = true);

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
    void QuitClick();  // File > Exit
    // The window closes: ends a running playback first, so nothing touches
    // the port afterwards, then closes the port.
    void FormClose();

    // The window's busy wait (no window events handled).
    void Delay(uint32_t ms);

    // The name of the port whose device went away last; empty until then and
    // again after the next successful port selection.
    const std::string& lostPortName() const { return lostPortName_; }

    MainWindowView& view() { return view_; }

private:
    // The strips' change handlers, run by their controls.
    void TrackChange(int channel);     // the position slider moved
    void PositionChange(int channel);  // the position box's text changed
    void OffsetChange(int channel);    // the offset slider moved
    void rateChange(int channel);      // the rate box's text changed
    void PauseChange(int channel);     // the pause box's text changed
    void PosKeyDown(int channel, int& key);  // a key pressed in the position box
    void PositionExit(int channel);    // the focus left the position box
    void UpdateChannel(int channel);   // live position command of the strip

    // The transfers between the strips and the current frame.
    void LoadFrame();      // the strips into the current frame
    void UpdateDisplay();  // the current frame into the strips, for the player
    void IndexChange();    // the current frame into the strips, after navigation

    void PlayChannel(int channel);  // one channel of the frame being played

    // Run after every operation that used the port: when its device went
    // away (an adapter pulled), closes the port once, sets portStatus back to
    // -1 so that choosing the port again works, and shows "    Comm Port Lost"
    // on yellow at once. True when that happened in this call. A running
    // playback then ends as Stop would, at the player's next step.
    bool handlePortLost();

    TChannel& stripAt(int channel) { return *channelStrips_[channel]; }
    void mark(int channel);      // changed of the channel and frameUsed of the current frame
    void markFrameUsed();
    void attachHandlers(TChannel& strip);
    void showJumpLabel(int32_t jumpTo, bool emptyWhenNone);
    void showChannel(int frame, int channel);
    // Sets the strips to `values` with their handlers quiet (nothing marked
    // or sent), then sends each channel whose position or offset changed.
    void setStripsQuietly(const StripStates& values);

    // --- the undo history (EditorCore_history.cpp) ---
    // One step being made: what it starts from, and the step it may join.
    struct PendingStep {
        bool active = false;  // false: inside another step, which takes this in
        SnapshotPtr before;
        EditStep* joins = nullptr;
        Document document;  // the file before the step
    };
    // A step made by a core operation (Write Frame, Open, a text click...):
    // begun when made, recorded when it goes. A step with `clicks` set joins
    // the newest one made by the same control less than a second before.
    class StepScope {
    public:
        StepScope(EditorCore& core, const char* name, EditControl clicks = EditControl::None, int channel = -1);
        ~StepScope();
        StepScope(const StepScope&) = delete;
        StepScope& operator=(const StepScope&) = delete;

    private:
        EditorCore& core_;
        const char* name_;
        EditControl control_;
        int channel_;
        PendingStep pending_;
    };
    template <typename Joins> PendingStep beginStep(Joins joins);
    void endStep(PendingStep& pending, const char* name, int channel, EditControl control, Growth growth);
    // A user's action on a strip's control: one step, or part of one.
    void userActs(int channel, EditControl control, UserAction kind, const std::function<void()>& action);
    void sliderHeld(int channel, EditControl control, bool held);
    StripStates stripStates() const;
    SnapshotPtr snapshotNow();
    // Undo's and Redo's restore of a state (and of the document, when given).
    void restore(const EditorSnapshot& state, const Document* document);
    // Stop's own changes (playing cleared, frame 0 shown, edit buttons back)
    // without its status, which would hide the loss.
    void stopPlayback();
    void releaseSimulator();
    template <typename Call> void tellObservers(Call call);
    void changed();  // tells the change listeners
    void tellFileListeners(FileEvent event, const std::string& path) {
        for (const FileListener& l : fileListeners_) l(event, path);
    }

    Sequence sequence_;
    EditorState state_;
    TSerial serialPort_;
    std::array<std::unique_ptr<TChannel>, kChannelCount> channelStrips_;

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
    bool quiet_ = false;       // the strips' handlers do nothing (setStripsQuietly)

    EditHistory history_;
    int stepDepth_ = 0;        // a step is being made: nested actions are part of it
    struct Drag {
        int channel;
        EditControl control;
    };
    std::optional<Drag> drag_;  // a slider held down
    std::string fileName_;
    SnapshotPtr saved_;         // what the file held; null: not known to be on disk
    std::shared_ptr<sim::ControllerSimulator> simulator_;
    std::vector<PlaybackObserver*> observers_;
    std::vector<std::function<void()>> changeListeners_;
    std::vector<FileListener> fileListeners_;
};
