#include "base/cancellation.h"

namespace quintalis {

void Cancellation::cancel() {
    std::map<int, std::function<void()>> wakers;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        cancelled_ = true;
        wakers = wakers_;
    }
    for (auto& [id, wake] : wakers) wake();
}

bool Cancellation::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void Cancellation::check() const {
    if (cancelled()) throw Cancelled();
}

Cancellation::Waking Cancellation::onCancel(std::function<void()> wake) const {
    std::unique_lock lock(mutex_);
    int id = nextID_++;
    wakers_.emplace(id, wake);
    if (cancelled_) {
        lock.unlock();
        wake();
    }
    return Waking(this, id);
}

Cancellation::Waking::Waking(Waking&& other) noexcept : owner_(other.owner_), id_(other.id_) { other.owner_ = nullptr; }

Cancellation::Waking::~Waking() {
    if (!owner_) return;
    std::lock_guard lock(owner_->mutex_);
    owner_->wakers_.erase(id_);
}

const Cancellation& Cancellation::never() {
    static const Cancellation* const none = new Cancellation;
    return *none;
}

}  // namespace quintalis
