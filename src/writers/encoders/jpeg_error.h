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
};

inline void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

// Warnings are not shown: a decodable file is decoded.
inline void OnMessage(j_common_ptr, int) {}

}  // namespace velmora::jpeg
