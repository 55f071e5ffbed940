#include "mirror/render_frame.h"

#include <algorithm>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "screen/text_recognition.h"

namespace quintalis {
namespace {

RenderedFrame failure(const std::string& message) { return {JSON{{"ok", false}, {"error", message}}, ""}; }

}  // namespace

RenderedFrame renderFrame(WindowCapture& capture, const RenderOptions& options, TextRecognizer& recognizer) {
    auto frame = capture.latest();
    if (!frame) return failure("no frame yet from the AirPlay window");
    const PixelBuffer& buffer = *frame->buffer;
    const int W = buffer.width(), H = buffer.height();
    const ContentRect content = capture.content(frame->buffer);

    // The crop in whole pixels, as "content" reports it, clipped to the frame.
    int x = 0, y = 0, fw = W, fh = H;
    if (options.crop) {
        x = std::clamp(static_cast<int>(content.rect.x), 0, W);
        y = std::clamp(static_cast<int>(content.rect.y), 0, H);
        fw = std::clamp(static_cast<int>(content.rect.width), 0, W - x);
        fh = std::clamp(static_cast<int>(content.rect.height), 0, H - y);
    }
    if (fw <= 0 || fh <= 0) return failure("cannot render frame");

    // Named, not bound: clang cannot capture structured bindings in the lambda below.
    const auto fitted = imageSize(fw, fh, std::nullopt, options.maxDim);
    const int w = fitted.width, h = fitted.height;
    const bool shrink = w != fw || h != fh;
    const EncodedFrameCache::Key key{x, y, fw, fh, w, h, options.png};
    auto data = capture.encodings().encoded(frame->buffer, key, [&] {
        PixelBuffer picture = shrink ? scaledPart(buffer, x, y, fw, fh, w, h) : cropped(buffer, x, y, fw, fh);
        return encodePicture(picture, options.png);
    });
    if (!data) return failure("cannot encode");

    const WinInfo info = capture.info();
    const int64_t now = capture.clock().wallMillis();
    JSON result{
        {"ok", true},
        {"w", w},
        {"h", h},
        {"fw", fw},
        {"fh", fh},
        {"content", content.json()},
        {"window", JSON{{"id", capture.windowID()}, {"w", W}, {"h", H}, {"owner", info.window.owner},
                        {"title", info.window.title}}},
        {"age_ms", now - frame->frameAt},
        {"still_ms", frame->lastChange > 0 ? now - frame->lastChange : -1},
        {"frames", frame->frames},
        {"mime", pictureMime(options.png)},
    };
    if (options.withOCR) result["ocr"] = recognize(recognizer, cropped(buffer, x, y, fw, fh));
    return {std::move(result), std::move(*data)};
}

}  // namespace quintalis
