// The one root of every error Velmora raises on purpose. Catch sites that
// decide something ("try another decoder", "fail this file") catch Error or
// DecodeError; std::bad_alloc and logic errors are never taken for "this
// file is not that format".
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Why a decoder refused its input.
enum class DecodeKind {
  kInvalidData,     // the data contradicts its own format
  kIncompleteData,  // the data ends before the picture does
  kTooLarge,        // the picture exceeds a decoding limit
  kUnsupported,     // valid, but a variant this program does not read
};

// The family of every decoder's refusal. Virtual inheritance lets a
// component's own error class (DibError, say) be a decoding error too.
class DecodeError : public virtual Error {
 public:
  DecodeError(DecodeKind kind, const std::string& message) : Error(message), kind_(kind) {}
  DecodeKind Kind() const { return kind_; }

 protected:
  // For classes that also derive from another Error: the most derived class
  // initialises the Error base with the message.
  explicit DecodeError(DecodeKind kind) : Error(std::string()), kind_(kind) {}

 private:
  DecodeKind kind_;
};

}  // namespace velmora
