// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StripControls.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>

#include "editor/ControlModels.h"

int virtualKeyFor(const QKeyEvent& event) {
    const int key = event.key();
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return (keypad ? vk::Numpad0 : vk::Digit0) + (key - Qt::Key_0);
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return vk::Back;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return vk::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return vk::Return;
    case Qt::Key_Shift: return vk::Shift;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_Escape: return vk::Escape;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return vk::End;
    case Qt::Key_Home: return vk::Home;
    case Qt::Key_Left: return vk::Left;
    case Qt::Key_Up: return vk::Up;
    case Qt::Key_Right: return vk::Right;
    case Qt::Key_Down: return vk::Down;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return vk::Delete;
    case Qt::Key_Asterisk: return keypad ? 106 : 0xFF;
    case Qt::Key_Plus: return keypad ? 107 : 187;
    case Qt::Key_Minus: return keypad ? 109 : 189;
    case Qt::Key_Period: return keypad ? 110 : 190;
    case Qt::Key_Slash: return keypad ? 111 : 191;
    case Qt::Key_Comma: return 188;
    case Qt::Key_Equal: return 187;
    default: return 0xFF;
    }
}

// --- ModelSlider ---

ModelSlider::ModelSlider(SliderModel& model, Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent), model_(&model) {
    setRange(model.minimum(), model.maximum());
    setSingleStep(model.lineStep());
    setPageStep(model.pageStep());
    setValue(model.position());
    // actionTriggered carries every key, click, wheel and drag step (the
    // pending position is already set). The release that closes a movement
    // is the release events' own notification (sliderReleased would make a
    // second one at the end of a drag).
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int) {
        const int position = sliderPosition();  // before onUserMove can render anything
        if (onUserMove) onUserMove();
        if (model_) model_->userMove(position);
    });
    // A press on the thumb starts a drag; its release (below) ends it.
    connect(this, &QAbstractSlider::sliderPressed, this, [this] {
        if (model_) model_->userPress();
    });
    model.onRender = [this] { render(); };
}

void ModelSlider::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    switch (event->key()) {
    case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Left: case Qt::Key_Right:
    case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End:
        if (!event->isAutoRepeat() && model_) model_->userMove(sliderPosition());
        break;
    default:
        break;
    }
}

void ModelSlider::mouseReleaseEvent(QMouseEvent* event) {
    const bool dragged = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && model_) model_->userMove(sliderPosition());
    // The drag ends after its last notification.
    if (dragged && !isSliderDown() && model_) model_->userRelease();
}

void ModelSlider::render() {
    if (!model_) return;
    const QSignalBlocker block(this);
    setValue(model_->position());
}

QRect ModelSlider::handleRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

void ModelSlider::detach() {
    onUserMove = nullptr;
    if (model_) model_->onRender = nullptr;
    model_ = nullptr;
}

// --- NumberEdit ---

NumberEdit::NumberEdit(NumberBoxModel& model, std::function<void()> beep, QWidget* parent)
    : QLineEdit(parent), model_(&model), beep_(std::move(beep)) {
    setText(QString::fromStdString(model.text()));
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (model_) model_->setText(text.toStdString());
    });
}

void NumberEdit::render() {
    if (!model_) return;
    const QString shown = QString::fromStdString(model_->text());
    if (shown == text()) return;  // keeps the cursor where the user left it
    const QSignalBlocker block(this);
    setText(shown);
}

void NumberEdit::detach() { model_ = nullptr; }

void NumberEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    // Tab and Shift+Tab only move the focus; the key handler never sees them.
    if (!model_ || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QPointer<NumberEdit> self(this);
    // The key-down: Up and Down step inside the model before its handler.
    const int left = model_->pressKey(virtualKeyFor(*event));
    if (!self || !model_) return;

    // Then the character, if the key types one. Delete types none, and
    // Ctrl or Alt combinations are commands (select all, copy, paste).
    const QString text = event->text();
    const bool command = event->modifiers().testAnyFlags(Qt::ControlModifier | Qt::AltModifier |
                                                         Qt::MetaModifier);
    if (!text.isEmpty() && key != Qt::Key_Delete && !command) {
        const char32_t ch = text.toUcs4().value(0);
        if (!NumberBoxModel::acceptsCharacter(ch)) {
            if (beep_) beep_();
            event->accept();
            return;
        }
    }
    // Stepped by the model already, or consumed by the handler.
    if (key == Qt::Key_Up || key == Qt::Key_Down || left == 0) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);  // edits arrive through textEdited
}

void NumberEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Another window or a menu taking over is not leaving the box.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    if (model_) model_->focusLost();
}

// --- NumberBox ---

NumberBox::NumberBox(NumberBoxModel& model, std::function<void()> beep, QWidget* parent)
    : QWidget(parent), model_(&model) {
    edit_ = new NumberEdit(model, std::move(beep), this);
    auto makeButton = [this](Qt::ArrowType arrow) {
        auto* b = new QToolButton(this);
        b->setArrowType(arrow);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(400);
        b->setAutoRepeatInterval(100);
        return b;
    };
    up_ = makeButton(Qt::UpArrow);
    down_ = makeButton(Qt::DownArrow);
    // pressed comes at once and again with every repeat, so the first step
    // happens on the press, not on the release.
    connect(up_, &QAbstractButton::pressed, this, [this] {
        if (onButtonPress) onButtonPress();
        if (model_) model_->stepUp();
    });
    connect(down_, &QAbstractButton::pressed, this, [this] {
        if (onButtonPress) onButtonPress();
        if (model_) model_->stepDown();
    });
    setFocusProxy(edit_);
    model.onRender = [this] { edit_->render(); };
}

void NumberBox::detach() {
    onButtonPress = nullptr;
    if (model_) model_->onRender = nullptr;
    model_ = nullptr;
    edit_->detach();
    up_->setAutoRepeat(false);
    down_->setAutoRepeat(false);
}

void NumberBox::resizeEvent(QResizeEvent*) {
    const int bw = 14;
    const int w = width(), h = height();
    edit_->setGeometry(0, 0, w - bw, h);
    up_->setGeometry(w - bw, 0, bw, h / 2);
    down_->setGeometry(w - bw, h / 2, bw, h - h / 2);
}

// --- ClickableText ---

ClickableText::ClickableText(const QString& text, std::function<void()> onClick, QWidget* parent)
    : QLabel(text, parent), onClick_(std::move(onClick)) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void ClickableText::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickableText::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click && onClick_) onClick_();
}

// --- DoubleClickLabel ---

void DoubleClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && onDoubleClick) onDoubleClick();
}
