// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sequence > Soundtrack...: chooses the sound file that a show plays to and
// where in it frame 0 begins, or no soundtrack. Modal; the choice is only
// returned, the caller keeps it.

#include <QDialog>
#include <optional>
#include <string>

#include "show/SoundtrackFile.h"

class QLineEdit;
class QSpinBox;


class SoundtrackDialog : public QDialog {
    Q_OBJECT
public:
    SoundtrackDialog(const SoundtrackChoice& current, QWidget* parent = nullptr);

    SoundtrackChoice choice() const;

    // Asks; nothing when the dialog was cancelled.
    static std::optional<SoundtrackChoice> ask(const SoundtrackChoice& current, QWidget* parent);

    QLineEdit* pathEdit() const { return path_; }
    QSpinBox* offsetBox() const { return offset_; }

private:
    void browse();
    QLineEdit* path_;
    QSpinBox* offset_;
};
