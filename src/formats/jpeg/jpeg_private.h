// libjpeg's error handling for both directions: errors longjmp back to the
// setjmp of the one function that makes every libjpeg call, carrying the
// library's message. Include after <jpeglib.h>.
#pragma once

#include <csetjmp>

namespace velmora::jpeg {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  char warning[JMSG_LENGTH_MAX];  // the first warning, if any
};

inline void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

// Warnings (level -1: damaged but decodable data) are counted and the first
// is kept, so the user hears about a picture that is not whole; trace
// messages are dropped.
inline void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (err->pub.num_warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->warning);
}

}  // namespace velmora::jpeg
