// Exception kinds of the image model. Messages are fixed texts that callers
// and users see verbatim, so they are passed in whole at the throw site.
#pragma once

#include <string>

#include "base/error.h"

namespace velmora {

class DibError : public virtual Error {
 public:
  explicit DibError(const std::string& message) : Error(message) {}

 protected:
  DibError() : Error(std::string()) {}
};

// DibImage's reader refusing a file or a packed DIB: a decoding error too.
class InvalidDibError : public DibError, public DecodeError {
 public:
  explicit InvalidDibError(const std::string& message)
      : Error(message), DibError(), DecodeError(DecodeKind::kInvalidData) {}
};
class InvalidDibFileError : public DibError, public DecodeError {
 public:
  explicit InvalidDibFileError(const std::string& message)
      : Error(message), DibError(), DecodeError(DecodeKind::kInvalidData) {}
};
class DibParameterError : public DibError {
 public:
  explicit DibParameterError(const std::string& message) : Error(message), DibError() {}
};
class DibTypeError : public DibError {
 public:
  explicit DibTypeError(const std::string& message) : Error(message), DibError() {}
};
class PaletteRangeError : public DibError {
 public:
  explicit PaletteRangeError(const std::string& message) : Error(message), DibError() {}
};
class InvalidPaletteError : public DibError {
 public:
  explicit InvalidPaletteError(const std::string& message) : Error(message), DibError() {}
};

// The platform's out-of-resources error (palette objects, memory mappings).
class OutOfResourcesError : public Error {
 public:
  using Error::Error;
};

// The platform's "invalid graphic" error: a graphic that cannot take the data
// it is given (wrong clipboard format, unknown extension).
class InvalidGraphicError : public Error {
 public:
  using Error::Error;
};

}  // namespace velmora
