#pragma once

#include <string>
#include <vector>

#include "commands/command_line.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// The command-line commands, given the arguments after the command word.
// They print their answer on standard output; one that fails ends the
// process with status 1.
void detectRectCommand(const std::vector<std::string>& args);
void ocrCommand(const std::vector<std::string>& args, Deferred<TextRecognizer> recognizer);

}  // namespace quintalis
