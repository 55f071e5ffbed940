#pragma once

#include <string>
#include <vector>

#include "commands/command_line.h"
#include "mirror/window_capture.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// The AirPlay commands, given the arguments after the command word. They
// print their answer on standard output; one that fails throws
// CommandFailure, which says why on standard error and ends with status 1.

// "airplay-list [--all]": the receiver window candidates, or every window of
// at least 100 × 100 with its score.
void airplayListCommand(const std::vector<std::string>& args, CaptureBackends& backends);

// "airplay-capture <out> [--window ID] [--max N] [--ocr] [--no-crop] [--timeout S]":
// one rendered frame written to <out>, its description printed. Returns
// status 1 when nothing was rendered or written.
int airplayCaptureCommand(const std::vector<std::string>& args, Deferred<CaptureBackends> backends,
                          Deferred<TextRecognizer> recognizer);

// "capture-latency [--window ID] [--timeout S] [--seconds S]": the frames
// received and the times of visible changes while it watched.
void captureLatencyCommand(const std::vector<std::string>& args, CaptureBackends& backends);

}  // namespace quintalis
