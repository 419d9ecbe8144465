// SPDX-License-Identifier: GPL-3.0-or-later
// The window's soundtrack on the offscreen platform: Sequence >
// Soundtrack..., the choice saved beside the sequence file and read back by
// Open, a missing sound at Open, the waveform on the timeline window, and a
// playback with no sound server to play to. One program of its own: the
// sound server it names (none) holds for the whole process.

#include "soundtrack_window_test.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QSpinBox>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SoundFiles.h"
#include "TempFolder.h"
#include "ui/SoundtrackController.h"
#include "ui/SoundtrackDialog.h"
#include "ui/TimelineWindow.h"

namespace fs = std::filesystem;

namespace {

// The timeline window's colour of the waveform.
const QColor kWaveform(60, 130, 80);

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Channel 0 at its maximum, then its minimum, 400 ms each, written.
void recordTwoFrames(Window& w) {
    w.core().userStrip(0).PauseEdit.setText("400");
    for (ClickableText* text : {w.strip(0).StaticTextMax, w.strip(0).StaticTextMin}) {
        QTest::mouseClick(text, Qt::LeftButton);
        QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    }
}

// Sequence > Soundtrack..., answered with a file and an offset.
void chooseInDialog(Window& w, const std::string& sound, int offsetMs) {
    bool answered = false;
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<SoundtrackDialog*>(modal);
        QVERIFY(dialog);
        dialog->pathEdit()->setText(QString::fromStdString(sound));
        dialog->offsetBox()->setValue(offsetMs);
        dialog->accept();
        answered = true;
    });
    w.form->Soundtrack->trigger();
    QVERIFY(answered);
}

// Answers the next file dialog (Open or Save) with a name.
void answerFileDialog(const std::string& name) {
    onNextModal([name](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        edit->setText(QString::fromStdString(name));
        static_cast<QDialog*>(dialog)->accept();
    });
}

QList<QMessageBox*> soundtrackMessages(Window& w) {
    return w.form->findChildren<QMessageBox*>(QStringLiteral("SoundtrackMessage"));
}

// The viewport's pixel column where the waveform lane (the top rows) is
// drawn highest.
int tallestWaveformColumn(TimelineWindow& t) {
    const QImage image = t.viewport()->grab().toImage();
    int best = -1, tallest = 0;
    for (int x = 0; x < image.width(); ++x) {
        int height = 0;
        for (int y = 0; y < 48 && y < image.height(); ++y) height += image.pixelColor(x, y) == kWaveform;
        if (height > tallest) {
            tallest = height;
            best = x;
        }
    }
    return tallest > 20 ? best : -1;
}

}  // namespace

void SoundtrackWindowTest::initTestCase() {
    // Tests close windows one by one; none of that may end anything.
    QApplication::setQuitOnLastWindowClosed(false);
    // No sound server for anything here: a socket that nobody serves.
    qputenv("PULSE_SERVER", QByteArray("unix:") + QFile::encodeName(QDir::tempPath()) + "/kdx-no-sound-server-here");
    qunsetenv("PULSE_SINK");
}

void SoundtrackWindowTest::theSoundtrackEntryFollowsTimelineInTheSequenceMenu() {
    Window w;
    QMenu* menu = w.form->findChild<QMenu*>(QStringLiteral("Sequence1"));
    QVERIFY(menu);
    const auto entries = menu->actions();
    const qsizetype at = entries.indexOf(w.form->Timeline);
    QVERIFY(at >= 0 && at + 1 < entries.size());
    QCOMPARE(entries[at + 1], w.form->Soundtrack);
    QCOMPARE(w.form->Soundtrack->text(), QString("Soundtrack..."));
    // Cancelled, it changes nothing.
    onNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    w.form->Soundtrack->trigger();
    QVERIFY(w.form->soundtrack().choice().none());
    QVERIFY(!w.form->soundtrackChangedSinceSaved());
}

void SoundtrackWindowTest::aChoiceInTheDialogIsSavedBesideTheSequenceRelativeAndReadBackByOpen() {
    TempFolder dir;
    fs::create_directory(dir.path() / "songs");
    const std::string sound = dir.file("songs/skull.flac"), sequence = dir.file("skull.KDX");
    QVERIFY(writeClickTrack(sound, SoundFormat::flac, 500, {100}));
    {
        Window w;
        recordTwoFrames(w);
        chooseInDialog(w, sound, 250);
        QVERIFY(w.form->soundtrackChangedSinceSaved());
        answerFileDialog(sequence);
        w.form->Save1->trigger();
        QVERIFY(fs::exists(sequence));
        QCOMPARE(fs::file_size(sequence), uintmax_t{16384});
        const std::string text = readText(dir.file("skull.kdxshow"));
        QVERIFY2(text.find(R"("soundtrack": "songs/skull.flac")") != std::string::npos, text.c_str());
        QVERIFY2(text.find(R"("offset_ms": 250)") != std::string::npos, text.c_str());
        QVERIFY(!w.form->soundtrackChangedSinceSaved());
    }
    // Moved with its sound, the sequence finds it again.
    fs::rename(dir.path() / "songs", dir.path() / "moved-songs");
    fs::create_directory(dir.path() / "show");
    fs::rename(dir.path() / "moved-songs", dir.path() / "show/songs");
    fs::rename(dir.path() / "skull.KDX", dir.path() / "show/skull.KDX");
    fs::rename(dir.path() / "skull.kdxshow", dir.path() / "show/skull.kdxshow");

    Window w;
    answerFileDialog(dir.file("show/skull.KDX"));
    w.form->Open1->trigger();
    QCOMPARE(w.core().sequence().frame(1).frameUsed, uint8_t{1});
    const SoundtrackChoice read = w.form->soundtrack().choice();
    QCOMPARE(fs::path(read.path), (dir.path() / "show/songs/skull.flac").lexically_normal());
    QCOMPARE(read.offsetMs, 250);
    QVERIFY(!w.form->soundtrackChangedSinceSaved());
    QTRY_VERIFY(w.form->soundtrack().sound() != nullptr);
    QVERIFY(w.form->soundtrack().messages().empty());
    // The dialog shows what Open read.
    QString shownPath;
    int shownOffset = 0;
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<SoundtrackDialog*>(modal);
        QVERIFY(dialog);
        shownPath = dialog->pathEdit()->text();
        shownOffset = dialog->offsetBox()->value();
        dialog->reject();
    });
    w.form->Soundtrack->trigger();
    QCOMPARE(shownPath, QString::fromStdString(read.path));
    QCOMPARE(shownOffset, 250);
}

void SoundtrackWindowTest::aMissingSoundAtOpenGivesOneMessageNamingItAndWhyAndTheSequenceOpens() {
    TempFolder dir;
    const std::string sequence = dir.file("bird.KDX");
    {
        Window w;
        recordTwoFrames(w);
        answerFileDialog(sequence);
        w.form->Save1->trigger();
        QVERIFY(fs::exists(sequence));
    }
    std::ofstream(dir.file("bird.kdxshow")) << R"({"soundtrack": "gone.mp3", "offset_ms": 0})";

    Window w;
    answerFileDialog(sequence);
    w.form->Open1->trigger();
    // The sequence opened as usual, on frame 0, nothing in the way.
    QCOMPARE(w.core().sequence().frame(1).frameUsed, uint8_t{1});
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QTRY_COMPARE(soundtrackMessages(w).size(), 1);
    QMessageBox* box = soundtrackMessages(w).first();
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(box->text(), QString("The soundtrack gone.mp3: No such file or directory; the sequence plays without it."));
    QCOMPARE(w.form->soundtrack().messages().size(), size_t{1});
    QCOMPARE(w.form->soundtrack().sound(), nullptr);
}

void SoundtrackWindowTest::theWaveformReachesTheTimelineOnceDecodedAtTheOffset() {
    TempFolder dir;
    const std::string sound = dir.file("click.wav");
    // A click 300 ms into the track; frame 0 is 100 ms into it, so the
    // click is drawn at 200 ms of the pass.
    QVERIFY(writeClickTrack(sound, SoundFormat::wav, 1000, {300}));
    Window w;
    recordTwoFrames(w);
    w.form->Timeline->trigger();
    TimelineWindow* t = w.form->timelineWindow();
    QVERIFY(t && QTest::qWaitForWindowExposed(t));
    QTRY_VERIFY(t->pass().timeline.frames.size() >= 2);
    QCOMPARE(tallestWaveformColumn(*t), -1);  // no lane without a soundtrack

    chooseInDialog(w, sound, 100);
    // Decoded in the background: the window went on meanwhile.
    QTRY_VERIFY(tallestWaveformColumn(*t) != -1);
    const int clickX = t->lanePoint(0, 200, 1500).x();
    const int unshiftedX = t->lanePoint(0, 300, 1500).x();
    QVERIFY(unshiftedX - clickX > 10);  // the offset is visible at this scale
    QVERIFY2(std::abs(tallestWaveformColumn(*t) - clickX) <= 3,
             qPrintable(QString("drawn at %1, expected %2").arg(tallestWaveformColumn(*t)).arg(clickX)));

    // None: the lane goes.
    chooseInDialog(w, "", 0);
    QTRY_COMPARE(tallestWaveformColumn(*t), -1);
}

void SoundtrackWindowTest::withoutASoundServerThePlaybackRunsToItsEndAndTheReasonIsShownWithoutBlocking() {
    TempFolder dir;
    const std::string sound = dir.file("tone.wav");
    std::vector<double> clicks;
    for (double at = 0; at < 2000; at += 50) clicks.push_back(at);
    QVERIFY(writeClickTrack(sound, SoundFormat::wav, 2000, clicks));
    Window w;
    w.form->SimulatedControllerClick();
    QVERIFY(w.core().simulatorChosen());
    recordTwoFrames(w);
    chooseInDialog(w, sound, 0);
    QTRY_VERIFY(w.form->soundtrack().sound() != nullptr);

    // What the user sees at every wait of the player: a message, nothing
    // modal in the way.
    bool modalSeen = false;
    w.ticks.onSleep = [&](uint64_t) { modalSeen = modalSeen || QApplication::activeModalWidget(); };
    w.ticks.realTime = true;
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    w.ticks.realTime = false;
    w.ticks.onSleep = nullptr;
    QCOMPARE(w.form->Msg->text(), QString(" Sequence Complete "));
    QVERIFY(!modalSeen);

    QTRY_COMPARE(soundtrackMessages(w).size(), 1);
    QMessageBox* box = soundtrackMessages(w).first();
    QVERIFY2(box->text().startsWith("no sound output: "), qPrintable(box->text()));
    QVERIFY(box->text().size() > QString("no sound output: ").size());  // and why
    QVERIFY(box->isVisible() && !box->isModal());

    // Once per run: a second playback says nothing more.
    w.ticks.realTime = true;
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    w.ticks.realTime = false;
    QCOMPARE(w.form->Msg->text(), QString(" Sequence Complete "));
    QCOMPARE(w.form->soundtrack().messages().size(), size_t{1});
}

QTEST_MAIN(SoundtrackWindowTest)
