// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SoundtrackDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

SoundtrackDialog::SoundtrackDialog(const SoundtrackChoice& current, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SoundtrackDialog"));
    setWindowTitle(QStringLiteral("Soundtrack"));
    path_ = new QLineEdit(QString::fromStdString(current.path), this);
    path_->setObjectName(QStringLiteral("SoundtrackPath"));
    path_->setPlaceholderText(QStringLiteral("None"));
    path_->setMinimumWidth(320);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("SoundtrackBrowse"));
    auto* none = new QPushButton(QStringLiteral("None"), this);
    none->setObjectName(QStringLiteral("SoundtrackNone"));
    auto* row = new QHBoxLayout;
    row->addWidget(path_, 1);
    row->addWidget(browse);
    row->addWidget(none);

    offset_ = new QSpinBox(this);
    offset_->setObjectName(QStringLiteral("SoundtrackOffset"));
    offset_->setRange(-kLongestOffsetMs, kLongestOffsetMs);
    offset_->setSuffix(QStringLiteral(" ms"));
    offset_->setValue(current.offsetMs);
    offset_->setToolTip(QStringLiteral("Where in the track frame 0 begins (below 0: the track begins after frame 0)"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Sound file:"), row);
    form->addRow(QStringLiteral("Frame 0 at:"), offset_);
    form->addRow(buttons);

    connect(browse, &QPushButton::clicked, this, &SoundtrackDialog::browse);
    connect(none, &QPushButton::clicked, path_, &QLineEdit::clear);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SoundtrackDialog::browse() {
    const QString start = path_->text().isEmpty() ? QString() : QFileInfo(path_->text()).absolutePath();
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Soundtrack"), start,
        QStringLiteral("Sound files (*.wav *.flac *.ogg *.mp3 *.WAV *.FLAC *.OGG *.MP3);;All files (*)"));
    if (!chosen.isEmpty()) path_->setText(chosen);
}

SoundtrackChoice SoundtrackDialog::choice() const {
    return {path_->text().trimmed().toStdString(), offset_->value()};
}

std::optional<SoundtrackChoice> SoundtrackDialog::ask(const SoundtrackChoice& current, QWidget* parent) {
    SoundtrackDialog dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.choice();
}
