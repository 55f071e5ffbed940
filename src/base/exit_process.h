#pragma once

namespace quintalis {

// The lifetime rule for process-wide objects: they are made once, on first
// use, and never destroyed, because queued work and other threads may reach
// them until the very end. So the process never returns from main or calls
// exit(), which would destroy statics under running threads. It ends here:
// standard output, standard error and the log are flushed, then the process
// quick-exits without running any destructor.
[[noreturn]] void exitProcess(int status);

}  // namespace quintalis
