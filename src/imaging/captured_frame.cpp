#include "imaging/captured_frame.h"

#include "imaging/image_ops.h"

namespace quintalis {

CapturedFrame::CapturedFrame(PixelBufferRef picture) {
    if (!picture) return;
    state_ = std::make_shared<State>();
    state_->picture = std::move(picture);
    state_->converted = true;
}

CapturedFrame::CapturedFrame(std::shared_ptr<const Source> source) {
    if (!source) return;
    state_ = std::make_shared<State>();
    state_->source = std::move(source);
}

int CapturedFrame::width() const {
    if (!state_) return 0;
    return state_->source ? state_->source->width() : state_->picture->width();
}

int CapturedFrame::height() const {
    if (!state_) return 0;
    return state_->source ? state_->source->height() : state_->picture->height();
}

PixelBufferRef CapturedFrame::picture() const {
    if (!state_) return nullptr;
    if (!state_->source) return state_->picture;
    std::call_once(state_->once, [state = state_.get()] {
        state->picture = state->source->toBGRA();
        state->converted = true;
    });
    return state_->picture;
}

bool CapturedFrame::converted() const { return state_ && state_->converted; }

std::vector<uint8_t> CapturedFrame::greyThumbnail(int width, int height) const {
    if (!state_) return {};
    if (state_->source) return state_->source->greyThumbnail(width, height);
    return quintalis::greyThumbnail(*state_->picture, width, height);
}

}  // namespace quintalis
