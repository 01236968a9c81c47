// The sanitizer a test program was built with, for the few checks whose
// bounds the sanitizer's own time or memory would otherwise defeat.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REGKEY_TEST_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define REGKEY_TEST_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(REGKEY_TEST_ASAN)
#define REGKEY_TEST_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__) && !defined(REGKEY_TEST_TSAN)
#define REGKEY_TEST_TSAN 1
#endif

namespace regkey::test {

#if defined(REGKEY_TEST_TSAN)
// Shadow memory and slower code: several times the memory and time.
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

}  // namespace regkey::test
