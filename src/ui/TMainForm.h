// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: menus, the left-hand column with the status field, the
// frame and transport buttons and the labels, and the tab control with the
// 32 channel strips and the help panel. It is the view of the editor core:
// every user action goes to a handler of the core, and the core shows its
// results through MainWindowView.

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "editor/EditorCore.h"
#include "link/Notifier.h"
#include "link/TickSource.h"

class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QToolButton;
class ChannelStripWidget;
class DoubleClickLabel;
class TAboutForm;
class ServoView;
class TimelineWindow;
class SoundtrackController;

class TMainForm : public QMainWindow, public MainWindowView, public Notifier {
    Q_OBJECT
public:
    explicit TMainForm(TickSource& ticks = systemTickSource(), EditorCore::PortLister ports = {},
                       QWidget* parent = nullptr);
    ~TMainForm() override;

    EditorCore& core() { return *core_; }
    void setAboutForm(TAboutForm* about) { aboutForm_ = about; }
    ChannelStripWidget* strip(int channel) const { return strips_[channel]; }

    // --- MainWindowView ---
    void ShowStatus(const std::string& text, std::optional<Rgb> colour, bool repaintNow) override;
    void setFrameLabel(const std::string& text) override;
    void setJumpLabel(const std::string& text) override;
    void setButtonEnabled(ViewButton button, bool enabled) override;
    void showErrorBox(const std::string& text) override;
    void showWarningBox(const std::string& text) override;
    std::optional<std::string> askOpenFileName() override;
    std::optional<std::string> askSaveFileName() override;
    void setPortMenu(const std::vector<std::string>& portNames) override;
    void processPendingEvents() override;
    void quitApplication() override;
    void repaintNow() override;
    uint32_t redrawWhileWaiting() override;

    // --- Notifier (the serial port's complaints) ---
    void Beep(unsigned frequencyHz, unsigned durationMs) override;
    void ShowMessage(const std::string& text) override;

    // --- the window's own handlers ---
    void TabSet1Change(int index);
    void Readme1Click();
    void CloseClick();
    void About1Click();
    // File > Select Comm Port > Simulated controller: selects it as any
    // port, then shows the servo view (brought back if it was closed).
    void SimulatedControllerClick();
    // The servo view; null until the simulated controller was first chosen.
    ServoView* servoView() const { return servoView_; }
    // Sequence > Timeline: shows the timeline window (made at the first
    // call, brought back if closed), beside the main window.
    void TimelineClick();
    // The timeline window; null until first opened.
    TimelineWindow* timelineWindow() const { return timelineWindow_; }

    // Sequence > Soundtrack...: chooses the open sequence's soundtrack
    // (kept beside the file by Save, read by Open) and plays it in step.
    void SoundtrackClick();
    SoundtrackController& soundtrack() { return *soundtrack_; }
    // The soundtrack's choice differs from what the last Open read or Save
    // wrote: an unsaved change of the sequence.
    bool soundtrackChangedSinceSaved() const;
    // Replaces the end of the event loop (tests, which run no loop).
    std::function<void()> onQuit;

    // For tests and diagnostics.
    int beepCount() const { return beeps_; }
    bool quitRequested() const { return quitRequested_; }
    QFileDialog* openDialog() const { return OpenDialog1; }
    QFileDialog* saveDialog() const { return SaveDialog1; }

    // Controls, named as in the window's design (also their object names).
    QLineEdit* Msg;
    QLabel* Label1;
    DoubleClickLabel* Label2;
    QToolButton *PlayButton, *PauseButton, *StopButton, *WriteButton;
    QToolButton *StartFrame, *PriorFrame, *NextFrame, *LastFrame;
    QToolButton *InsertButton, *ResetButton, *DelButton;
    QToolButton *IncButton, *DecButton;
    QWidget* TabSet1;
    QTabBar* TabBar;
    QFrame* Page1;
    QFrame* Page2;
    QFrame* HelpPanel;
    QPlainTextEdit* HelpMemo;
    QPushButton* CloseButton;
    QMenu* SelCommPort;
    QAction* SimulatedController = nullptr;  // null where there is none
    QAction *GetVer, *Exit, *Open1, *Save1, *Download, *Timeline, *Soundtrack, *Readme1, *About1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void buildLeftColumn(QWidget* client);
    void buildTabs(QWidget* client);
    void buildStrips();
    QToolButton* pictureButton(QWidget* parent, const char* name, const char* picture,
                               const QString& hint, QRect geometry, QSize iconSize);
    std::optional<std::string> runFileDialog(QFileDialog* dialog);
    // A core handler for a button or menu item: it ends typing mode in a
    // position box first, and does nothing once the window has closed.
    template <typename Result> std::function<void()> coreHandler(Result (EditorCore::*handler)());
    void detachStrips();

    // Made after the core, gone after it (told to let go of it first).
    std::unique_ptr<SoundtrackController> soundtrack_;
    std::unique_ptr<EditorCore> core_;
    std::array<ChannelStripWidget*, kChannelCount> strips_{};
    void portSelected();  // the servo view follows the simulated controller

    TAboutForm* aboutForm_ = nullptr;
    ServoView* servoView_ = nullptr;
    TimelineWindow* timelineWindow_ = nullptr;
    TickSource& ticks_;  // the player's clock, which the timeline's play head follows
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    int beeps_ = 0;
    bool quitRequested_ = false;
    bool closed_ = false;
    bool centred_ = false;
};
