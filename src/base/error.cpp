#include "base/error.h"

namespace velmora {

const char* KindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kInvalidData: return "invalid_data";
    case ErrorKind::kTruncated: return "truncated";
    case ErrorKind::kUnsupported: return "unsupported";
    case ErrorKind::kTooLarge: return "too_large";
    case ErrorKind::kIo: return "io";
    case ErrorKind::kCancelled: return "cancelled";
    case ErrorKind::kInternal: return "internal";
  }
  return "internal";
}

}  // namespace velmora
