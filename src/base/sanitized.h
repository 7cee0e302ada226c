// VELMORA_SANITIZED is defined in a build under AddressSanitizer (or
// UndefinedBehaviorSanitizer with clang), where the sanitizer owns standard
// error and reserves terabytes of address space: code that redirects one or
// limits the other steps aside there.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define VELMORA_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_SANITIZED 1
#endif
