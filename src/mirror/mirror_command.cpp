#include "mirror/mirror_command.h"

#include "imaging/codecs.h"
#include "mirror/command_line.h"
#include "mirror/content_rect.h"
#include "mirror/text_recognition.h"

namespace quintalis {

void detectRectCommand(const std::vector<std::string>& args) {
    std::optional<PixelBuffer> image;
    if (!args.empty()) image = decodeImageFile(args[0]);
    if (!image) fail("usage: detect-rect <image> [--aspect W/H] [--prefer portrait|landscape]");
    out(detectContent(pixelsOf(*image), parseAspect(option(args, "--aspect")), option(args, "--prefer")).json());
}

void ocrCommand(const std::vector<std::string>& args, TextRecognizer& recognizer) {
    if (args.empty()) fail("usage: ocr <image>");
    auto image = decodeImageFile(args[0]);
    if (!image) fail("cannot read " + args[0]);
    out(recognize(recognizer, *image));
}

}  // namespace quintalis
