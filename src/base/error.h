// The one error Velmora raises on purpose: a kind and the message the user
// sees. Catch sites that decide something ("try another decoder", "fail
// this file") read the kind; std::bad_alloc and logic errors are never
// taken for "this file is not that format". A class of its own exists only
// where someone catches it differently (OutputRefused, the command line's
// UsageError).
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

enum class ErrorKind {
  kInvalidData,  // the data contradicts its own format
  kTruncated,    // the data ends before the picture does
  kUnsupported,  // valid, but a variant or a request this program does not handle
  kTooLarge,     // beyond a limit: size, memory
  kIo,           // a file or folder cannot be read or written
  kCancelled,    // the user stopped it
  kInternal,     // a library or this program failed
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

// The kind as scripts read it: "invalid_data", "truncated", ...
const char* KindName(ErrorKind kind);

}  // namespace velmora
