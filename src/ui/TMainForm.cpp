// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TMainForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QToolButton>

#include "editor/SimulatedController.h"
#include "link/TickSource.h"
#include "sequence/SequenceFile.h"
#include "ui/ChannelStripWidget.h"
#include "ui/Pictures.h"
#include "ui/ServoView.h"
#include "ui/StripControls.h"
#include "ui/TAboutForm.h"
#include "ui/SoundtrackController.h"
#include "ui/TimelineWindow.h"
#include "ui/WindowPlacement.h"

namespace {

QFont windowFont(int pixelSize, bool bold) {
    QFont f;
    // The design's font first, then look-alikes of similar width.
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                   QStringLiteral("DejaVu Sans")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QLabel* caption(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(windowFont(16, true));
    label->setGeometry(geometry);
    return label;
}

QFrame* raisedPanel(QWidget* parent, const char* name, QRect geometry, int lineWidth) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(lineWidth);
    panel->setGeometry(geometry);
    return panel;
}

// A label of a raised panel: the panel font, a hint, optionally blue.
template <typename Label = QLabel>
Label* panelLabel(QWidget* panel, const char* name, const QString& text, QRect geometry,
                  const QString& hint, bool blue) {
    auto* label = new Label(text, panel);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(windowFont(14, true));
    label->setGeometry(geometry);
    label->setToolTip(hint);
    if (blue) {
        QPalette p;
        p.setColor(QPalette::WindowText, QColor(0, 0, 255));
        label->setPalette(p);
    }
    return label;
}

// Texts from the controller and the system are bytes; a NUL ends what an
// edit field can show.
QString statusText(const std::string& text) {
    const auto end = text.find('\0');
    const std::string shown = end == std::string::npos ? text : text.substr(0, end);
    return QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
}

}  // namespace

TMainForm::TMainForm(TickSource& ticks, EditorCore::PortLister ports, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      ticks_(ticks) {
    initKdxResources();
    core_ = std::make_unique<EditorCore>(*this, *this, ticks, std::move(ports));
    soundtrack_ = std::make_unique<SoundtrackController>(*core_, ticks, this);

    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Vantorel Servo Controller Interface v0.9h Beta"));
    setWindowIcon(windowIcon());
    setFont(windowFont(11, false));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(796, 600);
    setCentralWidget(client);

    buildMenus();
    buildLeftColumn(client);
    buildTabs(client);
    buildStrips();

    // The file dialogs live as long as the window and remember the last name.
    // The filter takes the extension in any letter case.
    const QString filter = QStringLiteral("Sequence files (*.[Kk][Dd][Xx])");
    OpenDialog1 = new QFileDialog(this, QStringLiteral("Open"), QString(), filter);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);  // the file need not exist
    OpenDialog1->setDefaultSuffix(QString::fromLatin1(kSequenceFileExtension));
    OpenDialog1->selectFile(QString::fromLatin1(kOpenDialogInitialName));
    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save As"), QString(), filter);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    SaveDialog1->setDefaultSuffix(QString::fromLatin1(kSequenceFileExtension));
    SaveDialog1->selectFile(QString::fromLatin1(kSaveDialogInitialName));

    // The first tab and its page.
    TabBar->setCurrentIndex(0);
    TabSet1Change(0);

    core_->FormCreate();
    for (auto* s : strips_) s->refreshCaption();
    Msg->clear();

    const int menuHeight = menuBar()->sizeHint().height();
    setFixedSize(796, 600 + menuHeight);
}

TMainForm::~TMainForm() {
    // The widgets go before the core; they must not call into it meanwhile.
    if (servoView_) servoView_->setSimulator(nullptr);
    if (timelineWindow_) timelineWindow_->detach();
    if (soundtrack_) soundtrack_->detach();
    closed_ = true;
    detachStrips();
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    // A menu item named like the window's control, running a core handler.
    auto item = [this](QMenu* menu, const char* caption, const char* name, auto handler) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, coreHandler(handler));
        return action;
    };
    auto menu = [bar](const char* caption, const char* name) {
        QMenu* m = bar->addMenu(QString::fromLatin1(caption));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };

    QMenu* file = menu("File", "File1");
    SelCommPort = file->addMenu(QStringLiteral("Select Comm Port"));
    SelCommPort->setObjectName(QStringLiteral("SelCommPort"));
    GetVer = item(file, "Get KDX Version", "GetVer", &EditorCore::ReadClick);
    Exit = item(file, "Exit", "Exit", &EditorCore::QuitClick);

    QMenu* sequence = menu("Sequence", "Sequence1");
    Open1 = item(sequence, "Open", "Open1", &EditorCore::Open1Click);
    Save1 = item(sequence, "Save", "Save1", &EditorCore::Save1Click);
    Download = item(sequence, "Download", "Download", &EditorCore::DownloadClick);
    sequence->addSeparator();
    Timeline = sequence->addAction(QStringLiteral("Timeline"));
    Timeline->setObjectName(QStringLiteral("Timeline"));
    connect(Timeline, &QAction::triggered, this, &TMainForm::TimelineClick);
    Soundtrack = sequence->addAction(QStringLiteral("Soundtrack..."));
    Soundtrack->setObjectName(QStringLiteral("Soundtrack"));
    connect(Soundtrack, &QAction::triggered, this, &TMainForm::SoundtrackClick);

    QMenu* help = menu("Help", "Help1");
    Readme1 = help->addAction(QStringLiteral("Readme"));
    Readme1->setObjectName(QStringLiteral("Readme1"));
    connect(Readme1, &QAction::triggered, this, &TMainForm::Readme1Click);
    About1 = help->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, &TMainForm::About1Click);
}

QToolButton* TMainForm::pictureButton(QWidget* parent, const char* name, const char* picture,
                                       const QString& hint, QRect geometry, QSize iconSize) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(svgIcon(QStringLiteral(":/kdx/buttons/%1.svg").arg(QLatin1String(picture)), iconSize));
    b->setIconSize(iconSize);
    b->setToolTip(hint);
    b->setGeometry(geometry);
    // Picture buttons do not take the focus (the box keeps it, so typing
    // can go on); their handlers end typing mode themselves.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

template <typename Result>
std::function<void()> TMainForm::coreHandler(Result (EditorCore::*handler)()) {
    return [this, handler] {
        if (closed_) return;
        // Picture buttons and menus take no focus: the click itself ends
        // typing mode, so that the box, the slider and the servo agree
        // before the handler stores, shows or sends anything.
        core_->endTypingMode();
        (core_.get()->*handler)();
    };
}

void TMainForm::buildLeftColumn(QWidget* client) {
    auto guard = [this](void (EditorCore::*handler)()) { return coreHandler(handler); };

    QFrame* panel3 = raisedPanel(client, "Panel3", QRect(12, 23, 110, 178), 2);
    auto* image1 = new QLabel(panel3);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setGeometry(2, 2, 105, 175);
    image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image1->setPixmap(svgPixmap(QStringLiteral(":/kdx/marionette.svg"), QSize(105, 174),
                                qApp ? qApp->devicePixelRatio() : 1.0));

    caption(client, "Label3", QStringLiteral("Servo Position"), QRect(10, 208, 116, 20));
    caption(client, "Label4", QStringLiteral("Servo Rate"), QRect(34, 240, 91, 20));
    caption(client, "Label21", QStringLiteral("Pause (mS)"), QRect(32, 272, 94, 20));

    Msg = new QLineEdit(client);
    Msg->setObjectName(QStringLiteral("Msg"));
    Msg->setReadOnly(true);
    Msg->setGeometry(12, 318, 112, 21);

    QFrame* panel1 = raisedPanel(client, "Panel1", QRect(12, 348, 112, 33), 1);
    const QString frameHint = QStringLiteral("Current Frame");
    panelLabel(panel1, "FrameText", QStringLiteral("Frame:"), QRect(8, 5, 76, 22), frameHint, false);
    Label1 = panelLabel(panel1, "Label1", QStringLiteral("0"), QRect(86, 5, 25, 22), frameHint, true);

    const QSize icon(16, 16);
    PlayButton = pictureButton(client, "PlayButton", "play", QStringLiteral("Play Sequence"),
                               QRect(12, 382, 28, 22), icon);
    PauseButton = pictureButton(client, "PauseButton", "pause", QStringLiteral("Pause"),
                                QRect(40, 382, 28, 22), icon);
    StopButton = pictureButton(client, "StopButton", "stop", QStringLiteral("Stop"),
                               QRect(68, 382, 28, 22), icon);
    WriteButton = pictureButton(client, "WriteButton", "write", QStringLiteral("Write Frame"),
                                QRect(96, 382, 28, 22), icon);
    StartFrame = pictureButton(client, "StartFrame", "first", QStringLiteral("First Frame"),
                               QRect(12, 404, 28, 22), icon);
    PriorFrame = pictureButton(client, "PriorFrame", "prior", QStringLiteral("Prior Frame"),
                               QRect(40, 404, 28, 22), icon);
    NextFrame = pictureButton(client, "NextFrame", "next", QStringLiteral("Next Frame"),
                              QRect(68, 404, 28, 22), icon);
    LastFrame = pictureButton(client, "LastFrame", "last", QStringLiteral("Last Frame"),
                              QRect(96, 404, 28, 22), icon);
    InsertButton = pictureButton(client, "InsertButton", "insert", QStringLiteral("Insert Frame"),
                                 QRect(12, 426, 41, 22), QSize(32, 16));
    ResetButton = pictureButton(client, "ResetButton", "reset",
                                QStringLiteral("Reset frame parameters to their defaults"),
                                QRect(53, 426, 30, 22), QSize(20, 16));
    DelButton = pictureButton(client, "DelButton", "delete", QStringLiteral("Delete Frame"),
                              QRect(83, 426, 41, 22), QSize(32, 16));

    connect(PlayButton, &QToolButton::clicked, this, guard(&EditorCore::RunClick));
    connect(PauseButton, &QToolButton::clicked, this, guard(&EditorCore::PauseButtonClick));
    connect(StopButton, &QToolButton::clicked, this, guard(&EditorCore::StopClick));
    connect(WriteButton, &QToolButton::clicked, this, guard(&EditorCore::WriteFrameClick));
    connect(StartFrame, &QToolButton::clicked, this, guard(&EditorCore::StartFrameClick));
    connect(PriorFrame, &QToolButton::clicked, this, guard(&EditorCore::PriorFrameClick));
    connect(NextFrame, &QToolButton::clicked, this, guard(&EditorCore::NextFrameClick));
    connect(LastFrame, &QToolButton::clicked, this, guard(&EditorCore::LastFrameClick));
    connect(InsertButton, &QToolButton::clicked, this, guard(&EditorCore::InsFrameClick));
    connect(ResetButton, &QToolButton::clicked, this, guard(&EditorCore::FrameResetClick));
    connect(DelButton, &QToolButton::clicked, this, guard(&EditorCore::DelFrameClick));

    QFrame* panel2 = raisedPanel(client, "Panel2", QRect(12, 448, 112, 33), 1);
    const QString jumpHint = QStringLiteral("Jump to Frame");
    panelLabel(panel2, "JumpText", QStringLiteral("Go to:"), QRect(8, 7, 56, 20), jumpHint, false);
    Label2 = panelLabel<DoubleClickLabel>(panel2, "Label2", QStringLiteral("-1"),
                                          QRect(64, 7, 30, 20), jumpHint, true);
    Label2->onDoubleClick = guard(&EditorCore::Label2DblClick);
    IncButton = pictureButton(panel2, "IncButton", "inc", QString(), QRect(94, 2, 14, 14), QSize(8, 8));
    DecButton = pictureButton(panel2, "DecButton", "dec", QString(), QRect(94, 16, 14, 14), QSize(8, 8));
    connect(IncButton, &QToolButton::clicked, this, guard(&EditorCore::IncButtonClick));
    connect(DecButton, &QToolButton::clicked, this, guard(&EditorCore::DecButtonClick));

    caption(client, "Label6", QStringLiteral("Servo Position"), QRect(9, 490, 116, 20));
    caption(client, "Label7", QStringLiteral("Servo Rate"), QRect(33, 522, 91, 20));
    caption(client, "Label8", QStringLiteral("Pause (mS)"), QRect(32, 554, 94, 20));
}

void TMainForm::buildTabs(QWidget* client) {
    TabSet1 = new QWidget(client);
    TabSet1->setObjectName(QStringLiteral("TabSet1"));
    TabSet1->setGeometry(138, 0, 649, 591);

    auto page = [this](const char* name) {
        auto* p = new QFrame(TabSet1);
        p->setObjectName(QString::fromLatin1(name));
        p->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        p->setGeometry(0, 20, 649, 571);
        return p;
    };
    Page1 = page("Page1");
    Page2 = page("Page2");

    // Above the pages, so the selected tab joins its page.
    TabBar = new QTabBar(TabSet1);
    TabBar->setObjectName(QStringLiteral("TabBar"));
    TabBar->setDrawBase(false);
    TabBar->setExpanding(false);
    TabBar->addTab(QStringLiteral("Channel 0-15"));
    TabBar->addTab(QStringLiteral("Channel 16-31"));
    TabBar->setGeometry(0, 0, 649, 21);
    connect(TabBar, &QTabBar::currentChanged, this, &TMainForm::TabSet1Change);

    // The help panel covers the pages, not the tabs, and stays on top of
    // whichever page is shown.
    HelpPanel = new QFrame(TabSet1);
    HelpPanel->setObjectName(QStringLiteral("HelpPanel"));
    HelpPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    HelpPanel->setAutoFillBackground(true);
    HelpPanel->setGeometry(0, 22, 648, 568);
    HelpMemo = new QPlainTextEdit(HelpPanel);
    HelpMemo->setObjectName(QStringLiteral("HelpMemo"));
    HelpMemo->setReadOnly(true);
    HelpMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    HelpMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    HelpMemo->setGeometry(12, 12, 625, 481);
    QFile readme(QStringLiteral(":/kdx/readme.txt"));
    if (readme.open(QIODevice::ReadOnly)) HelpMemo->setPlainText(QString::fromUtf8(readme.readAll()));
    CloseButton = new QPushButton(QStringLiteral("Close"), HelpPanel);
    CloseButton->setObjectName(QStringLiteral("Close"));
    CloseButton->setGeometry(270, 510, 91, 37);
    connect(CloseButton, &QPushButton::clicked, this, &TMainForm::CloseClick);
    HelpPanel->hide();
}

void TMainForm::buildStrips() {
    for (int i = 0; i < kChannelCount; ++i) {
        QWidget* page = i < 16 ? Page1 : Page2;
        auto* strip = new ChannelStripWidget(*core_, i, [this] { Beep(0, 0); }, page);
        strip->setGeometry(TChannel::layoutLeft(i), TChannel::layoutTop(i),
                           TChannel::kGroupBox.width, TChannel::kGroupBox.height);
        strips_[i] = strip;
    }
}

void TMainForm::detachStrips() {
    for (auto* s : strips_)
        if (s) s->detach();
}

// --- MainWindowView ---

void TMainForm::ShowStatus(const std::string& text, std::optional<Rgb> colour, bool repaintNow) {
    Msg->setText(statusText(text));
    if (colour) {
        QPalette p = Msg->palette();
        p.setColor(QPalette::Base, QColor(colour->red, colour->green, colour->blue));
        Msg->setPalette(p);
    }
    // The caller may go on with a busy wait that handles no events.
    if (repaintNow) Msg->repaint();
}

void TMainForm::setFrameLabel(const std::string& text) { Label1->setText(QString::fromStdString(text)); }

void TMainForm::setJumpLabel(const std::string& text) { Label2->setText(QString::fromStdString(text)); }

void TMainForm::setButtonEnabled(ViewButton button, bool enabled) {
    QToolButton* b = nullptr;
    switch (button) {
    case ViewButton::Play: b = PlayButton; break;
    case ViewButton::Pause: b = PauseButton; break;
    case ViewButton::Stop: b = StopButton; break;
    case ViewButton::Write: b = WriteButton; break;
    case ViewButton::Insert: b = InsertButton; break;
    case ViewButton::Delete: b = DelButton; break;
    }
    if (b) b->setEnabled(enabled);
}

void TMainForm::showErrorBox(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void TMainForm::showWarningBox(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, kApplicationTitle, QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
}

std::optional<std::string> TMainForm::runFileDialog(QFileDialog* dialog) {
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    dialog->selectFile(files.first());  // proposed again next time
    return QFile::encodeName(files.first()).toStdString();
}

std::optional<std::string> TMainForm::askOpenFileName() { return runFileDialog(OpenDialog1); }

std::optional<std::string> TMainForm::askSaveFileName() { return runFileDialog(SaveDialog1); }

void TMainForm::setPortMenu(const std::vector<std::string>& portNames) {
    SelCommPort->clear();
    for (const std::string& name : portNames) {
        QString caption = QString::fromStdString(name);
        caption.replace(QLatin1Char('&'), QLatin1String("&&"));  // no mnemonic
        QAction* entry = SelCommPort->addAction(caption);
        connect(entry, &QAction::triggered, this, [this, name] {
            if (closed_) return;
            core_->endTypingMode();
            core_->ComPortComboClick(name);
            portSelected();
        });
    }
    // After the system's ports, also when there are none.
    SimulatedController = nullptr;
    if (core_->simulatorAvailable()) {
        SelCommPort->addSeparator();
        SimulatedController = SelCommPort->addAction(QString::fromLatin1(kSimulatedControllerCaption));
        SimulatedController->setObjectName(QStringLiteral("SimulatedController"));
        connect(SimulatedController, &QAction::triggered, this, &TMainForm::SimulatedControllerClick);
    }
}

void TMainForm::SimulatedControllerClick() {
    if (closed_) return;
    core_->endTypingMode();
    core_->SimulatedControllerClick();
    if (!core_->simulatorChosen()) return;
    if (!servoView_) {
        servoView_ = new ServoView(this);
        servoView_->setAttribute(Qt::WA_QuitOnClose, false);
        placeBeside(*servoView_, *this, {timelineWindow_});
    }
    portSelected();
    servoView_->show();
    servoView_->raise();
}

void TMainForm::TimelineClick() {
    if (closed_) return;
    core_->endTypingMode();
    if (!timelineWindow_) {
        timelineWindow_ = new TimelineWindow(*core_, ticks_, this);
        timelineWindow_->setAttribute(Qt::WA_QuitOnClose, false);
        timelineWindow_->resize(timelineWindow_->width(), height());  // level with the main window
        placeBeside(*timelineWindow_, *this, {servoView_});
        soundtrack_->showOn(timelineWindow_);
    }
    timelineWindow_->show();
    timelineWindow_->raise();
}

void TMainForm::SoundtrackClick() {
    if (closed_) return;
    core_->endTypingMode();
    soundtrack_->ask();
}

bool TMainForm::soundtrackChangedSinceSaved() const { return soundtrack_->changedSinceSaved(); }

void TMainForm::portSelected() {
    // A released simulated controller keeps its last picture on view.
    if (servoView_) servoView_->setSimulator(core_->simulator());
}

void TMainForm::processPendingEvents() { QCoreApplication::processEvents(); }

void TMainForm::repaintNow() { repaint(); }

uint32_t TMainForm::redrawWhileWaiting() {
    // Each window draws when its own frame is due; the wait comes back for
    // the sooner of the two.
    const uint32_t servos = servoView_ ? servoView_->redrawWhileWaiting() : 0;
    const uint32_t timeline = timelineWindow_ ? timelineWindow_->redrawWhileWaiting() : 0;
    if (servos == 0 || timeline == 0) return std::max(servos, timeline);
    return std::min(servos, timeline);
}

void TMainForm::quitApplication() {
    quitRequested_ = true;
    if (onQuit) {
        onQuit();
        return;
    }
    // Ends the event loop once the event being handled is done.
    QCoreApplication::exit(0);
}

// --- Notifier ---

void TMainForm::Beep(unsigned, unsigned) {
    ++beeps_;
    QApplication::beep();
}

void TMainForm::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
}

// --- the window's own handlers ---

void TMainForm::TabSet1Change(int index) {
    if (!closed_) core_->endTypingMode();
    Page1->setVisible(index == 0);
    Page2->setVisible(index != 0);
}

void TMainForm::Readme1Click() {
    if (!closed_) core_->endTypingMode();
    HelpPanel->show();
    HelpPanel->raise();
}

void TMainForm::CloseClick() {
    if (!closed_) core_->endTypingMode();
    HelpPanel->hide();
}

void TMainForm::About1Click() {
    if (!closed_) core_->endTypingMode();
    if (aboutForm_) aboutForm_->About1Click();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        if (servoView_) servoView_->setSimulator(nullptr);
        core_->FormClose();
        // From here on nothing reaches the core: no handler can touch the
        // released port, whatever events are still pending.
        closed_ = true;
        detachStrips();
        if (aboutForm_) aboutForm_->hide();
        if (servoView_) servoView_->close();
        if (timelineWindow_) {
            timelineWindow_->detach();
            timelineWindow_->close();
        }
    }
    event->accept();
}

void TMainForm::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        centreOnScreen(*this);
    }
    QMainWindow::showEvent(event);
}
