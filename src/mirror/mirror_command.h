#pragma once

#include <string>
#include <vector>

#include "platform/text_recognizer.h"

namespace quintalis {

// Runs the command named by arguments[1] when it is one this program knows,
// and returns true; returns false for any other word (or none), so the app
// starts. A command that fails ends the process with status 1.
bool mirrorCommand(const std::vector<std::string>& arguments);

// The commands themselves, with their collaborators, for tests.
void detectRectCommand(const std::vector<std::string>& args);
void ocrCommand(const std::vector<std::string>& args, TextRecognizer& recognizer);

}  // namespace quintalis
