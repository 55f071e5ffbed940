#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>

#include "imaging/pixel_buffer.h"

namespace quintalis {

// The encoded pictures of one screen's latest frame, so that asking again for
// an unchanged screen costs a lookup instead of a scale and an encode.
//
// Entries belong to one frame. A frame that is another object but has the
// same pixels (a capture device sends the same picture again) keeps them;
// any other frame, even one pixel apart, drops them all. At most `capacity`
// entries are kept, the least recently asked for going first.
//
// Thread rule: any thread; a mutex guards the state, and encoding runs
// outside it, so a slow encode holds up no other request.
class EncodedFrameCache {
public:
    // What an encoding depends on besides the frame: the part of the frame
    // it shows, the picture's size and its format.
    struct Key {
        int x = 0, y = 0, width = 0, height = 0;
        int imageWidth = 0, imageHeight = 0;
        bool png = false;
        bool operator==(const Key&) const = default;
    };
    using Encode = std::function<std::optional<std::string>()>;

    static constexpr size_t kCapacity = 4;
    explicit EncodedFrameCache(size_t capacity = kCapacity);

    // The bytes `encode` makes for `key` of `frame`, from the cache when it
    // has them; nothing when `encode` fails (which is not remembered).
    std::optional<std::string> encoded(const PixelBufferRef& frame, const Key& key, const Encode& encode);

    size_t size() const;

private:
    using Entry = std::pair<Key, std::string>;
    // Makes `frame` the one the entries belong to; under mutex_.
    void follow(const PixelBufferRef& frame);

    const size_t capacity_;
    mutable std::mutex mutex_;
    PixelBufferRef frame_;
    std::list<Entry> entries_;  // most recently asked for first
};

}  // namespace quintalis
