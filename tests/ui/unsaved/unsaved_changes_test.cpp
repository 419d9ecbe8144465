// SPDX-License-Identifier: GPL-3.0-or-later
// The window does not lose work without asking: Exit, closing and Open with
// unsaved changes ask, and each answer does what it says; the Edit menu's
// Undo and Redo; Ctrl+Z in a box being typed into.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>
#include <QTest>
#include <filesystem>

#include "ShowTime.h"
#include "TempFolder.h"
#include "UiTestSupport.h"
#include "ui/SoundtrackController.h"

namespace {

// Records a frame with channel 0 at 2500, as a user clicks it: an unsaved change.
void recordFrame(Window& w) {
    QTest::mouseClick(w.strip(0).StaticTextMax, Qt::LeftButton);
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
}

// Answers the next file dialog with path, or cancels it when path is empty.
void answerFileDialog(const QString& path) {
    onNextModal([path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

// Counts how often a widget was shown.
struct ShowCounter : QObject {
    int shown = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        shown += e->type() == QEvent::Show;
        return false;
    }
};

}  // namespace

class UnsavedChangesTest : public QObject {
    Q_OBJECT
private slots:
    void exitCloseAndOpenAskOnlyWhileChangesAreUnsaved();
    void cancelLeavesEverythingAndDiscardGoesOn();
    void saveSavesFirstAndAFailedOrCancelledSaveKeepsTheWindowOpen();
    void duringPlaybackTheQuestionComesOnceThePlayerHasStopped();
    void theEditMenuNamesTheStepAndIsDisabledWithoutOneAndDuringPlayback();
    void ctrlZInABoxBeingTypedIntoTakesBackTheTypingElsewhereItIsTheProgramsUndo();
};

void UnsavedChangesTest::exitCloseAndOpenAskOnlyWhileChangesAreUnsaved() {
    {
        Window w;  // the fresh sequence
        w.form->Exit->trigger();
        QVERIFY(w.questions.empty());
        QVERIFY(w.form->quitRequested());
    }
    {
        Window w;
        recordFrame(w);
        w.answer = QMessageBox::Cancel;
        w.form->Exit->trigger();
        w.form->close();
        ShowCounter dialog;
        w.form->openDialog()->installEventFilter(&dialog);
        w.form->Open1->trigger();
        QCOMPARE(w.questions, (std::vector<QString>(3, QStringLiteral("Save changes to Untitled?"))));
        QCOMPARE(dialog.shown, 0);
        // Undone back to the fresh sequence: nothing to ask about.
        w.form->Undo->trigger();
        w.form->Undo->trigger();
        QVERIFY(!w.core().unsavedChanges());
        w.questions.clear();
        w.form->close();
        QVERIFY(w.questions.empty());
        QVERIFY(!w.form->isVisible());
    }
    {
        Window w;  // a soundtrack chosen and not saved is a change too
        w.form->soundtrack().choose({"/no/such/sound.wav", 0});
        w.form->close();
        QCOMPARE(w.questions.size(), size_t(1));
    }
}

void UnsavedChangesTest::cancelLeavesEverythingAndDiscardGoesOn() {
    Window w;
    sim::ControllerSimulator s;
    QVERIFY2(s.start(), s.error().c_str());
    w.core().ComPortComboClick(s.portName());
    recordFrame(w);
    const std::vector<uint8_t> edited(w.core().sequence().image().begin(), w.core().sequence().image().end());
    w.ticks.seen.clear();

    // Cancel: the port stays open, nothing waited or shown, the window stays.
    w.answer = QMessageBox::Cancel;
    w.form->Exit->trigger();
    QVERIFY(!w.form->quitRequested());
    QVERIFY(w.core().serialPort().isOpen());
    QVERIFY(w.ticks.seen.empty());
    w.form->close();
    QVERIFY(w.form->isVisible());
    QVERIFY(w.core().serialPort().isOpen());
    QVERIFY(std::equal(edited.begin(), edited.end(), w.core().sequence().image().begin()));
    QVERIFY(w.core().unsavedChanges());

    // Discard on Open: the file dialog comes; cancelled, the changes stay.
    w.answer = QMessageBox::Discard;
    answerFileDialog({});
    w.form->Open1->trigger();
    QVERIFY(w.core().unsavedChanges());
    answerFileDialog(QStringLiteral(KDX_TEST_DATA "/cli_sample.KDX"));
    w.form->Open1->trigger();
    QVERIFY(!w.core().unsavedChanges());
    QCOMPARE(w.core().documentName(), std::string("cli_sample.KDX"));

    // Discard on Exit: the program ends as it always did.
    recordFrame(w);
    w.form->Exit->trigger();
    QVERIFY(w.form->quitRequested());
    QVERIFY(!w.core().serialPort().isOpen());
    QCOMPARE(w.ticks.seen.back().text, QString("    Ending Session"));
    QCOMPARE(w.questions.back(), QString("Save changes to cli_sample.KDX?"));
}

void UnsavedChangesTest::saveSavesFirstAndAFailedOrCancelledSaveKeepsTheWindowOpen() {
    TempFolder folder;
    Window w;
    recordFrame(w);
    w.answer = QMessageBox::Save;

    answerFileDialog({});  // the Save dialog cancelled
    w.form->close();
    QVERIFY(w.form->isVisible());

    // A folder that does not exist: the error box, and the window stays.
    QString error;
    onNextModal([&](QWidget* modal) {
        qobject_cast<QFileDialog*>(modal)->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(
            QString::fromStdString(folder.file("missing/show.KDX")));
        static_cast<QDialog*>(modal)->accept();
        onNextModal([&](QWidget* box) {
            error = qobject_cast<QMessageBox*>(box)->text();
            box->close();
        });
    });
    w.form->close();
    QVERIFY(!error.isEmpty());
    QVERIFY(w.form->isVisible());
    QVERIFY(w.core().unsavedChanges());

    answerFileDialog(QString::fromStdString(folder.file("show.KDX")));
    w.form->close();
    QVERIFY(!w.form->isVisible());
    QVERIFY(std::filesystem::exists(folder.file("show.KDX")));
    QVERIFY(!w.core().unsavedChanges());
}

void UnsavedChangesTest::duringPlaybackTheQuestionComesOnceThePlayerHasStopped() {
    Window w;
    // Two frames of 100 ms.
    for (int frame = 0; frame < 2; ++frame) {
        QTest::mouseClick(frame ? w.strip(0).StaticTextMin : w.strip(0).StaticTextMax, Qt::LeftButton);
        w.strip(0).PauseEdit->edit()->setFocus();
        QTest::keyClicks(w.strip(0).PauseEdit->edit(), "100");
        QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    }
    bool playingWhenAsked = true;
    QString frameWhenAsked;
    w.answer = QMessageBox::Cancel;
    w.form->answerQuestion = [&](QMessageBox& box) -> QAbstractButton* {
        w.questions.push_back(box.text());
        playingWhenAsked = w.core().state().playing;
        frameWhenAsked = w.form->Label1->text();
        return box.button(w.answer);
    };
    uint64_t sleptAtExit = 0;
    // Chosen from the menu while the player handles events at frame 0.
    QTimer::singleShot(0, w.form.get(), [&] {
        sleptAtExit = w.ticks.totalSlept();
        w.form->Exit->trigger();
    });
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    // Stopped as Stop stops it: the pass under way ends (its command's wire
    // time and its pause), frame 1 is never played, frame 0 is shown.
    QCOMPARE(w.ticks.totalSlept(), sleptAtExit + playedMs(100, 1));
    QCOMPARE(w.form->Msg->text(), QString("           Stopped"));
    QTRY_COMPARE(w.questions.size(), size_t(1));
    QVERIFY(!playingWhenAsked);
    QCOMPARE(frameWhenAsked, QString("0"));
    QVERIFY(!w.form->quitRequested());  // cancelled

    // Closed during a playback, discarded: the window closes once stopped.
    w.answer = QMessageBox::Discard;
    QTimer::singleShot(0, w.form.get(), &QWidget::close);
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    QTRY_VERIFY(!w.form->isVisible());
    QCOMPARE(w.questions.size(), size_t(2));
    QVERIFY(!playingWhenAsked);
}

void UnsavedChangesTest::theEditMenuNamesTheStepAndIsDisabledWithoutOneAndDuringPlayback() {
    Window w;
    QStringList menus;
    for (QAction* a : w.form->menuBar()->actions()) menus << a->text();
    QCOMPARE(menus, (QStringList{"File", "Edit", "Sequence", "Help"}));
    QCOMPARE(w.form->Undo->shortcuts(), (QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+Z"))}));
    QCOMPARE(w.form->Redo->shortcuts(),
             (QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+Shift+Z")), QKeySequence(QStringLiteral("Ctrl+Y"))}));
    auto state = [&] {
        return QStringList{w.form->Undo->text(), w.form->Undo->isEnabled() ? "on" : "off", w.form->Redo->text(),
                           w.form->Redo->isEnabled() ? "on" : "off"};
    };
    QCOMPARE(state(), (QStringList{"Undo", "off", "Redo", "off"}));
    recordFrame(w);
    QTest::mouseClick(w.form->PriorFrame, Qt::LeftButton);
    QTest::mouseClick(w.form->DelButton, Qt::LeftButton);
    QCOMPARE(state(), (QStringList{"Undo Delete Frame", "on", "Redo", "off"}));
    w.form->Undo->trigger();
    QCOMPARE(state(), (QStringList{"Undo Write Frame", "on", "Redo Delete Frame", "on"}));

    // During a playback both are off, named as before; on again once it ends.
    w.editSequence([](Sequence& seq) {
        seq.channel(0, 0) = {2500, 0, 0, 100, 1, {}};
        seq.frame(0).frameUsed = 1;
    });
    QStringList during;
    w.ticks.onSleep = [&](uint64_t) {
        if (during.isEmpty()) during = state();
    };
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    QCOMPARE(during, (QStringList{"Undo Write Frame", "off", "Redo Delete Frame", "off"}));
    QTest::mouseClick(w.form->StopButton, Qt::LeftButton);
    QCOMPARE(state(), (QStringList{"Undo Write Frame", "on", "Redo Delete Frame", "on"}));
}

void UnsavedChangesTest::ctrlZInABoxBeingTypedIntoTakesBackTheTypingElsewhereItIsTheProgramsUndo() {
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QTest::mouseClick(w.strip(0).StaticTextMax, Qt::LeftButton);  // a step to undo
    QCOMPARE(w.positionBox(0)->text(), QString("2500"));

    NumberEdit* box = w.positionBox(1);
    box->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, "9");
    QCOMPARE(box->text(), QString("15009"));
    QVERIFY(w.core().state().typingPosition);
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(box->text(), QString("1500"));  // the typing, and only it
    QCOMPARE(w.positionBox(0)->text(), QString("2500"));
    QCOMPARE(w.form->Undo->text(), QString("Undo Position Change"));

    // Nothing typed any more: the program's Undo, from the same box.
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.positionBox(0)->text(), QString("1500"));
    QVERIFY(box->hasFocus());
    QVERIFY(!w.form->Undo->isEnabled());

    // A rate box the same way.
    NumberEdit* rate = w.strip(2).RateEdit->edit();
    rate->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(rate, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(rate, "12");
    QTest::keyClick(rate, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rate->text(), QString("0"));

    // Elsewhere (a slider has the focus) it is the program's Undo and Redo.
    QTest::mouseClick(w.strip(3).StaticTextMin, Qt::LeftButton);
    w.strip(3).Track->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(w.strip(3).Track, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.strip(3).PositionEdit->edit()->text(), QString("1500"));
    QTest::keyClick(w.strip(3).Track, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(w.strip(3).PositionEdit->edit()->text(), QString("500"));

    // Ctrl pressed and let go alone still ends typing mode, as any other key.
    box->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(box, "7");
    QVERIFY(w.core().state().typingPosition);
    QTest::keyPress(box, Qt::Key_Control);
    QVERIFY(w.core().state().typingPosition);  // held until it is known what it is for
    QTest::keyRelease(box, Qt::Key_Control);
    QVERIFY(!w.core().state().typingPosition);
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    UnsavedChangesTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "unsaved_changes_test.moc"
