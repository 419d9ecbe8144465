// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Qt faces of the strip controls. Each renders one model of
// editor/ControlModels.h and feeds it the user's actions; the models decide
// when a change handler runs.

#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QWidget>
#include <functional>

class QKeyEvent;
class QToolButton;
class NumberBoxModel;
class SliderModel;

// Windows virtual-key code of a Qt key press, as the key handlers number
// keys: main-keyboard digits 48..57, keypad digits 96..105, letters 65..90.
// Keys without a code of their own give 0xFF, which no handler knows.
int virtualKeyFor(const QKeyEvent& event);

// A slider whose every user movement notification reaches the model, even
// when the position stays.
class ModelSlider : public QSlider {
    Q_OBJECT
public:
    ModelSlider(SliderModel& model, Qt::Orientation orientation, QWidget* parent);
    void detach();  // stops feeding the model (the window is closing)
    QRect handleRect() const;  // where the thumb is drawn

    // Runs at every user movement before the model hears of it (the wheel
    // moves a slider that does not have the focus).
    std::function<void()> onUserMove;

protected:
    // Releasing the key or the mouse closes a movement, which is one more
    // notification of its own; a press on the thumb and its release tell the
    // model where a drag begins and ends.
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void render();
    SliderModel* model_;
};

// The text field of a number box: filters typed characters, hands key codes
// to the model before editing, and reports leaving the field.
class NumberEdit : public QLineEdit {
    Q_OBJECT
public:
    NumberEdit(NumberBoxModel& model, std::function<void()> beep, QWidget* parent);
    void detach();
    void render();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    NumberBoxModel* model_;
    std::function<void()> beep_;
};

// A text field with two small up/down buttons that repeat while held
// (first after 400 ms, then every 100 ms).
class NumberBox : public QWidget {
    Q_OBJECT
public:
    NumberBox(NumberBoxModel& model, std::function<void()> beep, QWidget* parent);
    NumberEdit* edit() const { return edit_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }
    void detach();

    // Runs when an up/down button is pressed, before the step.
    std::function<void()> onButtonPress;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    NumberBoxModel* model_;
    NumberEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
};

// A text that runs an action when clicked and never takes the focus.
class ClickableText : public QLabel {
    Q_OBJECT
public:
    ClickableText(const QString& text, std::function<void()> onClick, QWidget* parent);
    void detach() { onClick_ = nullptr; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void()> onClick_;
    bool pressed_ = false;
};

// A label that reports a double-click (the jump-to value).
class DoubleClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    std::function<void()> onDoubleClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
