// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/RecoveryWriter.h"

#include <utility>

#include "editor/RecoveryStore.h"

RecoveryWriter::RecoveryWriter(RecoveryStore& store, std::function<void()> failed)
    : store_(store), failed_(std::move(failed)), thread_([this] { run(); }) {}

RecoveryWriter::~RecoveryWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

std::unique_ptr<RecoveryCopy> RecoveryWriter::spare() {
    {
        std::lock_guard lock(mutex_);
        if (spare_) return std::move(spare_);
    }
    return std::make_unique<RecoveryCopy>();
}

void RecoveryWriter::submit(std::unique_ptr<RecoveryCopy> copy) {
    {
        std::lock_guard lock(mutex_);
        std::unique_ptr<RecoveryCopy> dropped = std::exchange(waiting_, std::move(copy));
        if (dropped) spare_ = std::move(dropped);
    }
    wake_.notify_one();
}

void RecoveryWriter::submit(const RecoveryCopy& copy) {
    std::unique_ptr<RecoveryCopy> filled = spare();
    *filled = copy;
    submit(std::move(filled));
}

void RecoveryWriter::remove() {
    {
        std::lock_guard lock(mutex_);
        if (waiting_) spare_ = std::move(waiting_);
        removeWanted_ = true;
    }
    wake_.notify_one();
}

void RecoveryWriter::flush() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_ && !waiting_ && !removeWanted_; });
}

std::optional<std::string> RecoveryWriter::takeFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(failure_, std::nullopt);
}

void RecoveryWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || waiting_ || removeWanted_; });
        if (!waiting_ && !removeWanted_) return;  // stopping, nothing left
        // A removal asked for after a submit has dropped that submit, so a
        // removal always comes first.
        const bool removing = std::exchange(removeWanted_, false);
        std::unique_ptr<RecoveryCopy> copy = std::move(waiting_);
        busy_ = true;
        lock.unlock();
        if (removing) store_.remove();
        FileResult result;
        if (copy) result = store_.write(*copy);
        const bool wrote = copy != nullptr;
        lock.lock();
        if (copy) spare_ = std::move(copy);
        busy_ = false;
        bool newFailure = false;
        if (wrote && !result.ok()) {
            if (!failing_) failure_ = "Recovery copy not written: " + result.error;
            newFailure = !failing_;
            failing_ = true;
        } else if (wrote) {
            failing_ = false;
        }
        if (!waiting_ && !removeWanted_) idle_.notify_all();
        if (newFailure && failed_) {
            lock.unlock();
            failed_();
            lock.lock();
        }
    }
}
