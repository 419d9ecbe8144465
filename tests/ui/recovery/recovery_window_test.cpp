// SPDX-License-Identifier: GPL-3.0-or-later
// The window's recovery copy: kept while there are unsaved changes, left by
// a program killed after an edit, offered at the next start, recovered whole
// or discarded; two programs at once keep two copies; an unreadable copy is
// moved aside and the start goes on; a copy that cannot be written is said
// once.
//
// The programs killed are this test program started again as the window
// program runs: `test_ui_recovery --child NAME SEED FOLDER` opens the main
// window on the offscreen platform and starts its recovery in the user's
// state folder (XDG_STATE_HOME, a temporary folder here), puts in a show
// made from SEED and makes an edit as a user, waits until its copy on disk
// holds all of it, writes the sequence to FOLDER/NAME.expected, says
// "ready" and waits to be killed.

#include <signal.h>

#include <QAbstractButton>
#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QToolButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <set>

#include "TempFolder.h"
#include "UiTestSupport.h"
#include "editor/RecoveryKeeper.h"
#include "editor/RecoveryStore.h"

namespace fs = std::filesystem;

namespace {

// A show in which every byte of every frame depends on seed.
std::unique_ptr<Sequence> showOf(int seed) {
    auto s = std::make_unique<Sequence>();
    for (int f = 0; f < kFrameCount; ++f) {
        for (int c = 0; c < kChannelCount; ++c) {
            ChannelSetting& ch = s->channel(f, c);
            ch.position = 500 + (f * 32 + c + seed * 7) % 2001;
            ch.rate = (f + c + seed) % 64;
            ch.offset = (f * c + seed) % 101 - 50;
            ch.pause = (f + seed) % 300;
            ch.changed = 1;
            for (int k = 0; k < 7; ++k) ch.spare[k] = static_cast<uint8_t>(f ^ c ^ k ^ seed);
        }
        s->frame(f).jumpTo = -1;
        s->frame(f).frameUsed = 1;
        for (int k = 0; k < 3; ++k) s->frame(f).padding[k] = static_cast<uint8_t>(f + k + seed);
    }
    return s;
}

std::vector<uint8_t> imageOf(const Sequence& s) { return {s.image().begin(), s.image().end()}; }

// The copies in folder, by file name, as they read.
std::map<std::string, RecoveryCopy> copiesIn(const fs::path& folder) {
    std::map<std::string, RecoveryCopy> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != ".recovery") continue;
        std::vector<uint8_t> bytes;
        try {
            bytes = readWholeFile(it->path().string());
        } catch (...) {
            continue;  // renamed meanwhile
        }
        if (auto copy = decodeRecoveryCopy(bytes)) out.emplace(it->path().filename().string(), std::move(*copy));
    }
    return out;
}

// --- the child ---

int runChild(const std::string& name, int seed, const fs::path& expected) {
    Window w;
    w.form->answerQuestion = [](QMessageBox&) -> QAbstractButton* { return nullptr; };  // leaves any copy
    w.form->startRecovery(RecoveryStore::defaultFolder());
    w.core().replaceSequence(*showOf(seed));
    QTest::mouseClick(w.strip(3).StaticTextMax, Qt::LeftButton);
    RecoveryCopy now;
    w.core().copyForRecovery(now);
    for (int waited = 0;; waited += 50) {
        bool onDisk = false;
        for (const auto& [file, copy] : copiesIn(RecoveryStore::defaultFolder()))
            onDisk = onDisk || (imageOf(copy.sequence) == imageOf(now.sequence) && copy.strips == now.strips);
        if (onDisk) break;
        if (waited > 20000) return 1;
        QTest::qWait(50);
    }
    writeWholeFile((expected / (name + ".expected")).string(), imageOf(w.core().sequence()));
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) QTest::qWait(1000);
}

// --- the parent's side ---

class Child {
public:
    Child(const fs::path& stateHome, const fs::path& expected, const std::string& name, int seed)
        : name_(name), expected_(expected) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), QString::fromStdString(stateHome.string()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--child"), QString::fromStdString(name), QString::number(seed),
                        QString::fromStdString(expected.string())});
    }
    ~Child() {
        if (process_.state() != QProcess::NotRunning) kill();
    }
    // Its copy is on disk.
    bool ready() {
        const QDeadlineTimer deadline(60000);  // room for a loaded machine
        while (!process_.readAllStandardOutput().contains("ready")) {
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) return false;
            process_.waitForReadyRead(200);
        }
        return true;
    }
    void kill() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(10000);
    }
    std::vector<uint8_t> expected() const { return readWholeFile((expected_ / (name_ + ".expected")).string()); }

private:
    QProcess process_;
    std::string name_;
    fs::path expected_;
};

QAbstractButton* buttonNamed(QMessageBox& box, const QString& text) {
    for (QAbstractButton* b : box.buttons())
        if (b->text().remove(QLatin1Char('&')) == text) return b;
    return nullptr;
}

std::size_t filesEndingIn(const fs::path& folder, const std::string& extension) {
    std::size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        n += it->path().extension() == extension;
    return n;
}

}  // namespace

class RecoveryWindowTest : public QObject {
    Q_OBJECT
private slots:
    void aProgramKilledAfterAnEditLeavesACopyThatRecoverRestoresWhole();
    void twoProgramsKeepTwoCopiesNeitherOfferedWhileRunningAndDiscardRemovesThem();
    void anUnreadableCopyIsMovedAsideWithAMessageAndTheStartGoesOn();
    void theCopyIsKeptWhileChangesAreUnsavedAndRemovedOnceNoneAre();
    void aCopyThatCannotBeWrittenIsSaidOnceAndEditingGoesOn();
};

void RecoveryWindowTest::aProgramKilledAfterAnEditLeavesACopyThatRecoverRestoresWhole() {
    TempFolder home;
    const fs::path folder = home.path() / "kdx-interface";
    std::vector<uint8_t> expected;
    {
        Child child(home.path(), home.path(), "a", 1);
        QVERIFY(child.ready());
        child.kill();
        expected = child.expected();
    }
    QCOMPARE(copiesIn(folder).size(), size_t(1));

    Window w;
    w.form->answerQuestion = [&](QMessageBox& box) {
        w.questions.push_back(box.text());
        return buttonNamed(box, QStringLiteral("Recover"));
    };
    w.form->startRecovery(folder);
    QCOMPARE(w.questions.size(), size_t(1));
    QVERIFY2(QRegularExpression(QStringLiteral("^Recover the unsaved sequence Untitled from "
                                               "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d\\?$"))
                 .match(w.questions[0])
                 .hasMatch(),
             qPrintable(w.questions[0]));
    QVERIFY(imageOf(w.core().sequence()) == expected);
    QCOMPARE(w.positionBox(3)->text(), QString("2500"));  // the strips as the edit left them
    QVERIFY(w.form->hasUnsavedChanges());
    // Now this program's copy, and removed by a clean end.
    const auto kept = copiesIn(folder);
    QCOMPARE(kept.size(), size_t(1));
    QVERIFY(kept.begin()->first.starts_with(std::to_string(getpid()) + "-"));
    w.form->answerQuestion = [](QMessageBox& box) { return box.button(QMessageBox::Discard); };
    w.form->close();
    QCOMPARE(filesEndingIn(folder, ".recovery"), size_t(0));
}

void RecoveryWindowTest::twoProgramsKeepTwoCopiesNeitherOfferedWhileRunningAndDiscardRemovesThem() {
    TempFolder home;
    const fs::path folder = home.path() / "kdx-interface";
    Child a(home.path(), home.path(), "a", 2);
    Child b(home.path(), home.path(), "b", 3);
    QVERIFY(a.ready());
    QVERIFY(b.ready());
    std::set<std::vector<uint8_t>> held;
    for (const auto& [file, copy] : copiesIn(folder)) held.insert(imageOf(copy.sequence));
    QCOMPARE(held, (std::set<std::vector<uint8_t>>{a.expected(), b.expected()}));
    {
        Window w;  // a third program meanwhile: nothing is left over
        w.form->startRecovery(folder);
        QVERIFY(w.questions.empty());
    }
    a.kill();
    b.kill();

    Window w;
    w.answer = QMessageBox::Discard;
    w.form->startRecovery(folder);
    QCOMPARE(w.questions.size(), size_t(2));
    QCOMPARE(filesEndingIn(folder, ".recovery"), size_t(0));
    QVERIFY(!w.form->hasUnsavedChanges());
}

void RecoveryWindowTest::anUnreadableCopyIsMovedAsideWithAMessageAndTheStartGoesOn() {
    TempFolder home;
    const fs::path folder = home.path() / "kdx-interface";
    fs::create_directory(folder);
    writeWholeFile((folder / "12-cut.recovery").string(), {'K', 'D', 'X', 'R', 'E', 'C'});
    Window w;
    w.form->startRecovery(folder);
    QVERIFY(w.questions.empty());
    QVERIFY(fs::exists(folder / "12-cut.unreadable"));
    auto* message = w.form->findChild<QMessageBox*>(QStringLiteral("RecoveryMessage"));
    QVERIFY(message);
    QVERIFY(message->isVisible());
    QVERIFY(!message->isModal());
    QVERIFY2(message->text().contains(QStringLiteral("moved aside")), qPrintable(message->text()));
    // The window works and keeps its own copy.
    QTest::mouseClick(w.strip(0).StaticTextMax, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(copiesIn(folder).size(), size_t(1), 10000);
}

void RecoveryWindowTest::theCopyIsKeptWhileChangesAreUnsavedAndRemovedOnceNoneAre() {
    TempFolder home;
    const fs::path folder = home.path() / "kdx-interface";
    Window w;
    w.form->startRecovery(folder);
    QVERIFY(!w.form->recovery()->untilDue());  // nothing waits, no timer runs

    QTest::mouseClick(w.strip(0).StaticTextMax, Qt::LeftButton);
    // Within 5 s of the change (the machine may be loaded: room beyond).
    QTRY_COMPARE_WITH_TIMEOUT(copiesIn(folder).size(), size_t(1), 10000);
    QCOMPARE(copiesIn(folder).begin()->second.strips[0].position, 2500);
    QVERIFY(!w.form->recovery()->untilDue());

    // Undone back to what was saved (the fresh sequence): nothing to keep.
    w.form->Undo->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(filesEndingIn(folder, ".recovery"), size_t(0), 10000);

    // Saved: removed.
    w.form->Redo->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(copiesIn(folder).size(), size_t(1), 10000);
    onNextModal([&](QWidget* modal) {
        modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(home.file("s.KDX")));
        static_cast<QDialog*>(modal)->accept();
    });
    w.form->Save1->trigger();
    QVERIFY(!w.form->hasUnsavedChanges());
    QTRY_COMPARE_WITH_TIMEOUT(filesEndingIn(folder, ".recovery"), size_t(0), 10000);

    // Discarded at Exit: removed before the program ends.
    QTest::mouseClick(w.strip(0).StaticTextMin, Qt::LeftButton);
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(copiesIn(folder).size(), size_t(1), 10000);
    w.form->Exit->trigger();
    QVERIFY(w.form->quitRequested());
    QCOMPARE(filesEndingIn(folder, ".recovery"), size_t(0));
}

void RecoveryWindowTest::aCopyThatCannotBeWrittenIsSaidOnceAndEditingGoesOn() {
    TempFolder home;
    const fs::path notAFolder = home.path() / "file";
    writeWholeFile(notAFolder.string(), {1});
    Window w;
    w.form->startRecovery(notAFolder / "kdx-interface");
    QTest::mouseClick(w.strip(0).StaticTextMax, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.form->Msg->text().startsWith(QStringLiteral("Recovery copy not written: ")), 10000);

    w.form->ShowStatus("else", std::nullopt, false);
    QTest::mouseClick(w.strip(0).StaticTextMin, Qt::LeftButton);
    QCOMPARE(w.positionBox(0)->text(), QString("500"));  // editing goes on
    QTRY_VERIFY_WITH_TIMEOUT(!w.form->recovery()->untilDue(), 10000);  // the next copy was handed over
    w.form->recovery()->flush();
    QCoreApplication::processEvents();
    QCOMPARE(w.form->Msg->text(), QString("else"));
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc == 5 && std::string(argv[1]) == "--child") return runChild(argv[2], std::atoi(argv[3]), argv[4]);
    RecoveryWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "recovery_window_test.moc"
