// The program: one event loop on the main thread, the real clock, files and sockets, and
// the timers that drive one Library (the 1 ms main cycle and link-file poll, the
// connection timer, the service-detection timer), plus SIGTERM/SIGINT, which run the
// same shutdown as closing the main window.
#pragma once

#include <string>

namespace iplib {

// Runs the library with this command line until it is stopped; the process exit code.
int runProgram(const std::string& commandLine);

}  // namespace iplib
