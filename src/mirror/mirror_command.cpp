#include "mirror/mirror_command.h"

#include <functional>
#include <map>

#include "mirror/command_line.h"
#include "mirror/content_rect.h"
#include "mirror/text_recognition.h"
#include "platform/select_device_backends.h"

namespace quintalis {

void detectRectCommand(const std::vector<std::string>& args) {
    std::optional<PixelBuffer> image;
    if (!args.empty()) image = loadImage(args[0]);
    if (!image) fail("usage: detect-rect <image> [--aspect W/H] [--prefer portrait|landscape]");
    out(detectContent(pixelsOf(*image), parseAspect(option(args, "--aspect")), option(args, "--prefer")).json());
}

void ocrCommand(const std::vector<std::string>& args, TextRecognizer& recognizer) {
    if (args.empty()) fail("usage: ocr <image>");
    auto image = loadImage(args[0]);
    if (!image) fail("cannot read " + args[0]);
    out(recognize(recognizer, *image));
}

bool mirrorCommand(const std::vector<std::string>& arguments) {
    using Command = std::function<void(const std::vector<std::string>&)>;
    static const std::map<std::string, Command> commands{
        {"ocr", [](const auto& args) { ocrCommand(args, DeviceBackends::selected().text); }},
        {"detect-rect", detectRectCommand},
    };
    if (arguments.size() < 2) return false;
    auto found = commands.find(arguments[1]);
    if (found == commands.end()) return false;
    found->second(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    return true;
}

}  // namespace quintalis
