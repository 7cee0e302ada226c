// Libraries print on the standard error stream (libjxl's checks, the AV1
// encoder's notes): beside our own reason line they read as noise, and in a
// script's log as a second, unexplained failure. A program that tells its
// own messages on standard error calls CaptureLibraryOutput once at start;
// from then on what reaches descriptor 2 is kept instead, std::cerr and
// MessageFd() still reach the terminal, and a failure folds what a library
// printed into its one reason (LibraryOutputSince).
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

// Once, before any thread starts. Not under the sanitizers (their reports
// go to descriptor 2) nor when VELMORA_LIBRARY_OUTPUT is set.
void CaptureLibraryOutput();
// Where the program's own messages go: the real standard error.
int MessageFd();
// A mark before a library call, and what libraries printed since it, on
// one line ("; " between lines, at most a kilobyte); empty when nothing
// was printed or nothing is captured.
uint64_t LibraryOutputMark();
std::string LibraryOutputSince(uint64_t mark);

}  // namespace velmora::platform
