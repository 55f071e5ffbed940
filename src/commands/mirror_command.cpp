#include "commands/mirror_command.h"

#include "imaging/image_file.h"
#include "commands/command_line.h"
#include "mirror/content_rect.h"
#include "screen/text_recognition.h"

namespace quintalis {

void detectRectCommand(const std::vector<std::string>& args) {
    const std::string usage = "usage: detect-rect <image> [--aspect W/H] [--prefer portrait|landscape]";
    if (args.empty()) fail(usage);
    std::optional<PixelBuffer> image;
    try {
        image = loadImage(args[0]);
    } catch (const ImageFileError& error) {
        fail(error.kind() == ImageFileError::Kind::tooLarge ? error.what() : usage);
    }
    out(detectContent(pixelsOf(*image), parseAspect(option(args, "--aspect")), option(args, "--prefer")).json());
}

void ocrCommand(const std::vector<std::string>& args, Deferred<TextRecognizer> recognizer) {
    if (args.empty()) fail("usage: ocr <image>");
    std::optional<PixelBuffer> image;
    try {
        image = loadImage(args[0]);
    } catch (const ImageFileError& error) {
        fail(error.what());
    }
    out(recognize(*recognizer, *image));
}

}  // namespace quintalis
