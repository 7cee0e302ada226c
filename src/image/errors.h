// Exception kinds of the image model. Messages are fixed texts that callers
// and users see verbatim, so they are passed in whole at the throw site.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

class DibError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class InvalidDibError : public DibError {
 public:
  using DibError::DibError;
};
class InvalidDibFileError : public DibError {
 public:
  using DibError::DibError;
};
class DibParameterError : public DibError {
 public:
  using DibError::DibError;
};
class DibTypeError : public DibError {
 public:
  using DibError::DibError;
};
class PaletteRangeError : public DibError {
 public:
  using DibError::DibError;
};
class InvalidPaletteError : public DibError {
 public:
  using DibError::DibError;
};

// The platform's out-of-resources error (palette objects, memory mappings).
class OutOfResourcesError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A short read from a stream: the stream's own read error.
class StreamReadError : public std::runtime_error {
 public:
  StreamReadError() : std::runtime_error("Stream read error") {}
};

// Raised for an image whose pixel count exceeds kMaxPixels, before allocating.
class ImageTooLargeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora

namespace velmora {

// The platform's "invalid graphic" error: a graphic that cannot take the data
// it is given (wrong clipboard format, unknown extension).
class InvalidGraphicError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora
