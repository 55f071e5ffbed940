#include "imaging/encoded_frame_cache.h"

#include "imaging/image_ops.h"

namespace quintalis {

EncodedFrameCache::EncodedFrameCache(size_t capacity) : capacity_(capacity) {}

void EncodedFrameCache::follow(const PixelBufferRef& frame) {
    if (frame_ == frame) return;
    // Comparing the pixels costs a fraction of an encode, and only once per
    // new frame object: the next request finds the same pointer.
    if (!frame_ || !samePixels(*frame_, *frame)) entries_.clear();
    frame_ = frame;
}

std::optional<std::string> EncodedFrameCache::encoded(const PixelBufferRef& frame, const Key& key,
                                                      const Encode& encode) {
    {
        std::lock_guard lock(mutex_);
        follow(frame);
        for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
            if (entry->first != key) continue;
            entries_.splice(entries_.begin(), entries_, entry);
            return entry->second;
        }
    }
    auto bytes = encode();
    if (!bytes) return std::nullopt;
    std::lock_guard lock(mutex_);
    // Another request may have moved the cache on to a newer frame meanwhile;
    // following this one again keeps every entry true to its frame.
    follow(frame);
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (entry->first == key) {
            entries_.erase(entry);
            break;
        }
    }
    entries_.emplace_front(key, *bytes);
    if (entries_.size() > capacity_) entries_.pop_back();
    return bytes;
}

size_t EncodedFrameCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace quintalis
