// The Microsoft C runtime's own string, conversion and formatting functions
// (the ones <tchar.h> maps its names onto) for systems whose C library lacks
// them. Letter case is folded for ASCII letters only. The checked ("_s")
// functions report a bad argument or a short buffer by their result and an
// emptied buffer, as Windows does when its invalid-parameter handler returns;
// the unchecked counted ones (_snprintf) always terminate what they write.
#pragma once

#ifdef _WIN32
#error "On Windows the C runtime has these functions"
#endif

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef _ERRNO_T_DEFINED
#define _ERRNO_T_DEFINED
typedef int errno_t;
#endif
#ifndef _TRUNCATE
#define _TRUNCATE (static_cast<std::size_t>(-1))
#endif
#ifndef STRUNCATE
#define STRUNCATE 80
#endif
#ifndef _countof
#define _countof(array) (sizeof(array) / sizeof((array)[0]))
#endif
#ifndef _MAX_PATH
#define _MAX_PATH 260
#endif

#if defined(__GNUC__)
#define MSVCRT_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MSVCRT_PRINTF_FORMAT(fmt, args)
#endif

namespace msvcrt_detail {

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Digits of value in radix 2 to 36, lower case, with a minus sign when asked;
// writes at most nSize bytes including the terminating zero. Returns the text's
// length, or -1 when it does not fit (then nothing is written) or radix is bad.
inline int FormatUnsigned(std::uint64_t value, bool negative, char* buffer, std::size_t nSize,
                          int radix) {
  if (radix < 2 || radix > 36) return -1;
  char digits[66];
  int n = 0;
  do {
    const int d = static_cast<int>(value % static_cast<unsigned>(radix));
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    value /= static_cast<unsigned>(radix);
  } while (value != 0);
  if (negative) digits[n++] = '-';
  if (buffer == nullptr || static_cast<std::size_t>(n) >= nSize) return -1;
  for (int i = 0; i < n; ++i) buffer[i] = digits[n - 1 - i];
  buffer[n] = '\0';
  return n;
}

// Signed conversions: decimal shows a sign, other radixes the bits of the
// value at its own width, as Windows does.
inline int FormatSigned(std::int64_t value, int bits, char* buffer, std::size_t nSize, int radix) {
  if (radix == 10 && value < 0) {
    return FormatUnsigned(0 - static_cast<std::uint64_t>(value), true, buffer, nSize, radix);
  }
  std::uint64_t bitsOf = static_cast<std::uint64_t>(value);
  if (bits < 64) bitsOf &= (std::uint64_t{1} << bits) - 1;
  return FormatUnsigned(bitsOf, false, buffer, nSize, radix);
}

// The room an unchecked conversion may use: enough for any value.
constexpr std::size_t kUncheckedRoom = 66;

inline errno_t Fail(char* buffer, std::size_t nSize, errno_t code) {
  if (buffer != nullptr && nSize > 0) buffer[0] = '\0';
  errno = code;
  return code;
}

}  // namespace msvcrt_detail

inline int _stricmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(msvcrt_detail::Lower(*a));
    const unsigned char cb = static_cast<unsigned char>(msvcrt_detail::Lower(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

inline int _strnicmp(const char* a, const char* b, std::size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(msvcrt_detail::Lower(*a));
    const unsigned char cb = static_cast<unsigned char>(msvcrt_detail::Lower(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

// A copy to release with free(); null for null.
inline char* _strdup(const char* s) { return s == nullptr ? nullptr : strdup(s); }

inline char* _strlwr(char* s) {
  for (char* p = s; *p != '\0'; ++p) *p = msvcrt_detail::Lower(*p);
  return s;
}

inline char* _strupr(char* s) {
  for (char* p = s; *p != '\0'; ++p) *p = msvcrt_detail::Upper(*p);
  return s;
}

inline char* _strrev(char* s) {
  std::size_t n = std::strlen(s);
  for (std::size_t i = 0; n > 1 && i < n - 1 - i; ++i) {
    const char t = s[i];
    s[i] = s[n - 1 - i];
    s[n - 1 - i] = t;
  }
  return s;
}

inline char* _strset(char* s, int c) {
  for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(c);
  return s;
}

inline char* _strnset(char* s, int c, std::size_t n) {
  for (char* p = s; n > 0 && *p != '\0'; ++p, --n) *p = static_cast<char>(c);
  return s;
}

inline char* strtok_s(char* s, const char* delimiters, char** context) {
  return strtok_r(s, delimiters, context);
}

inline long long _atoi64(const char* s) { return std::strtoll(s, nullptr, 10); }
inline long long _strtoi64(const char* s, char** end, int base) {
  return std::strtoll(s, end, base);
}
inline unsigned long long _strtoui64(const char* s, char** end, int base) {
  return std::strtoull(s, end, base);
}

// Integer to text. int and long are 32-bit, as on Windows; the unchecked forms
// trust the buffer to hold any value (33 bytes; 65 for 64-bit values).
inline char* _itoa(int value, char* buffer, int radix) {
  msvcrt_detail::FormatSigned(value, 32, buffer, msvcrt_detail::kUncheckedRoom, radix);
  return buffer;
}
inline char* _ltoa(std::int32_t value, char* buffer, int radix) {
  return _itoa(static_cast<int>(value), buffer, radix);
}
inline char* _ultoa(std::uint32_t value, char* buffer, int radix) {
  msvcrt_detail::FormatUnsigned(value, false, buffer, msvcrt_detail::kUncheckedRoom, radix);
  return buffer;
}
inline char* _i64toa(long long value, char* buffer, int radix) {
  msvcrt_detail::FormatSigned(value, 64, buffer, msvcrt_detail::kUncheckedRoom, radix);
  return buffer;
}
inline char* _ui64toa(unsigned long long value, char* buffer, int radix) {
  msvcrt_detail::FormatUnsigned(value, false, buffer, msvcrt_detail::kUncheckedRoom, radix);
  return buffer;
}

inline errno_t _itoa_s(int value, char* buffer, std::size_t nSize, int radix) {
  if (buffer == nullptr || nSize == 0 || radix < 2 || radix > 36) {
    return msvcrt_detail::Fail(buffer, nSize, EINVAL);
  }
  if (msvcrt_detail::FormatSigned(value, 32, buffer, nSize, radix) < 0) {
    return msvcrt_detail::Fail(buffer, nSize, ERANGE);
  }
  return 0;
}
inline errno_t _ltoa_s(std::int32_t value, char* buffer, std::size_t nSize, int radix) {
  return _itoa_s(static_cast<int>(value), buffer, nSize, radix);
}
inline errno_t _ultoa_s(std::uint32_t value, char* buffer, std::size_t nSize, int radix) {
  if (buffer == nullptr || nSize == 0 || radix < 2 || radix > 36) {
    return msvcrt_detail::Fail(buffer, nSize, EINVAL);
  }
  if (msvcrt_detail::FormatUnsigned(value, false, buffer, nSize, radix) < 0) {
    return msvcrt_detail::Fail(buffer, nSize, ERANGE);
  }
  return 0;
}
template <std::size_t N>
errno_t _itoa_s(int value, char (&buffer)[N], int radix) {
  return _itoa_s(value, buffer, N, radix);
}

// Checked copies: 0, EINVAL for a null pointer or no room at all, ERANGE when
// the text does not fit; on failure the destination is emptied.
inline errno_t strcpy_s(char* dest, std::size_t nSize, const char* src) {
  if (dest == nullptr || nSize == 0 || src == nullptr) {
    return msvcrt_detail::Fail(dest, nSize, EINVAL);
  }
  const std::size_t n = std::strlen(src);
  if (n >= nSize) return msvcrt_detail::Fail(dest, nSize, ERANGE);
  std::memmove(dest, src, n + 1);
  return 0;
}

// At most count bytes of src; count _TRUNCATE copies what fits and gives
// STRUNCATE when that is not all.
inline errno_t strncpy_s(char* dest, std::size_t nSize, const char* src, std::size_t count) {
  if (dest == nullptr || nSize == 0 || (src == nullptr && count != 0)) {
    return msvcrt_detail::Fail(dest, nSize, EINVAL);
  }
  if (count == 0) {
    dest[0] = '\0';
    return 0;
  }
  std::size_t n = strnlen(src, count == _TRUNCATE ? nSize : count);
  errno_t result = 0;
  if (n >= nSize) {
    if (count != _TRUNCATE) return msvcrt_detail::Fail(dest, nSize, ERANGE);
    n = nSize - 1;
    result = STRUNCATE;
  }
  std::memmove(dest, src, n);
  dest[n] = '\0';
  return result;
}

inline errno_t strcat_s(char* dest, std::size_t nSize, const char* src) {
  if (dest == nullptr || nSize == 0 || src == nullptr) {
    return msvcrt_detail::Fail(dest, nSize, EINVAL);
  }
  const std::size_t have = strnlen(dest, nSize);
  if (have == nSize) return msvcrt_detail::Fail(dest, nSize, EINVAL);  // not terminated
  const std::size_t n = std::strlen(src);
  if (n >= nSize - have) return msvcrt_detail::Fail(dest, nSize, ERANGE);
  std::memmove(dest + have, src, n + 1);
  return 0;
}

inline errno_t strncat_s(char* dest, std::size_t nSize, const char* src, std::size_t count) {
  if (dest == nullptr || nSize == 0 || (src == nullptr && count != 0)) {
    return msvcrt_detail::Fail(dest, nSize, EINVAL);
  }
  const std::size_t have = strnlen(dest, nSize);
  if (have == nSize) return msvcrt_detail::Fail(dest, nSize, EINVAL);
  if (count == 0) return 0;
  std::size_t n = strnlen(src, count == _TRUNCATE ? nSize - have : count);
  errno_t result = 0;
  if (n >= nSize - have) {
    if (count != _TRUNCATE) return msvcrt_detail::Fail(dest, nSize, ERANGE);
    n = nSize - have - 1;
    result = STRUNCATE;
  }
  std::memmove(dest + have, src, n);
  dest[have + n] = '\0';
  return result;
}

template <std::size_t N>
errno_t strcpy_s(char (&dest)[N], const char* src) {
  return strcpy_s(dest, N, src);
}
template <std::size_t N>
errno_t strncpy_s(char (&dest)[N], const char* src, std::size_t count) {
  return strncpy_s(dest, N, src, count);
}
template <std::size_t N>
errno_t strcat_s(char (&dest)[N], const char* src) {
  return strcat_s(dest, N, src);
}
template <std::size_t N>
errno_t strncat_s(char (&dest)[N], const char* src, std::size_t count) {
  return strncat_s(dest, N, src, count);
}

// The length the formatted text needs, without its terminating zero.
inline int _vscprintf(const char* format, va_list args) MSVCRT_PRINTF_FORMAT(1, 0);
inline int _vscprintf(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  return n;
}

inline int _scprintf(const char* format, ...) MSVCRT_PRINTF_FORMAT(1, 2);
inline int _scprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vscprintf(format, args);
  va_end(args);
  return n;
}

// At most count bytes, always terminated: the text's length when all of it and
// its terminating zero fit, -1 when it was cut short.
inline int _vsnprintf(char* buffer, std::size_t count, const char* format, va_list args)
    MSVCRT_PRINTF_FORMAT(3, 0);
inline int _vsnprintf(char* buffer, std::size_t count, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, count, format, copy);
  va_end(copy);
  if (n < 0 || static_cast<std::size_t>(n) >= count) return -1;
  return n;
}

inline int _snprintf(char* buffer, std::size_t count, const char* format, ...)
    MSVCRT_PRINTF_FORMAT(3, 4);
inline int _snprintf(char* buffer, std::size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vsnprintf(buffer, count, format, args);
  va_end(args);
  return n;
}

// Checked formatting: the text's length, or -1 with the buffer emptied when it
// does not fit or an argument is bad.
inline int vsprintf_s(char* buffer, std::size_t nSize, const char* format, va_list args)
    MSVCRT_PRINTF_FORMAT(3, 0);
inline int vsprintf_s(char* buffer, std::size_t nSize, const char* format, va_list args) {
  if (buffer == nullptr || nSize == 0 || format == nullptr) {
    msvcrt_detail::Fail(buffer, nSize, EINVAL);
    return -1;
  }
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, nSize, format, copy);
  va_end(copy);
  if (n < 0 || static_cast<std::size_t>(n) >= nSize) {
    msvcrt_detail::Fail(buffer, nSize, ERANGE);
    return -1;
  }
  return n;
}

inline int sprintf_s(char* buffer, std::size_t nSize, const char* format, ...)
    MSVCRT_PRINTF_FORMAT(3, 4);
inline int sprintf_s(char* buffer, std::size_t nSize, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsprintf_s(buffer, nSize, format, args);
  va_end(args);
  return n;
}

// Writes at most count bytes of text (all that fits for _TRUNCATE) and a zero:
// -1 when the text was cut short; a count that the buffer cannot hold and a
// text longer than the buffer empty it.
inline int _vsnprintf_s(char* buffer, std::size_t nSize, std::size_t count, const char* format,
                        va_list args) MSVCRT_PRINTF_FORMAT(4, 0);
inline int _vsnprintf_s(char* buffer, std::size_t nSize, std::size_t count, const char* format,
                        va_list args) {
  if (buffer == nullptr || nSize == 0 || format == nullptr) {
    msvcrt_detail::Fail(buffer, nSize, EINVAL);
    return -1;
  }
  const std::size_t limit = (count == _TRUNCATE || count >= nSize) ? nSize - 1 : count;
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, limit + 1, format, copy);
  va_end(copy);
  if (n < 0) {
    msvcrt_detail::Fail(buffer, nSize, EINVAL);
    return -1;
  }
  if (static_cast<std::size_t>(n) <= limit) return n;
  if (count != _TRUNCATE && count >= nSize) msvcrt_detail::Fail(buffer, nSize, ERANGE);
  return -1;
}

inline int _snprintf_s(char* buffer, std::size_t nSize, std::size_t count, const char* format, ...)
    MSVCRT_PRINTF_FORMAT(4, 5);
inline int _snprintf_s(char* buffer, std::size_t nSize, std::size_t count, const char* format,
                       ...) {
  va_list args;
  va_start(args, format);
  const int n = _vsnprintf_s(buffer, nSize, count, format, args);
  va_end(args);
  return n;
}

template <std::size_t N>
int sprintf_s(char (&buffer)[N], const char* format, ...) MSVCRT_PRINTF_FORMAT(2, 3);
template <std::size_t N>
int sprintf_s(char (&buffer)[N], const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsprintf_s(buffer, N, format, args);
  va_end(args);
  return n;
}

template <std::size_t N>
int _snprintf_s(char (&buffer)[N], std::size_t count, const char* format, ...)
    MSVCRT_PRINTF_FORMAT(3, 4);
template <std::size_t N>
int _snprintf_s(char (&buffer)[N], std::size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vsnprintf_s(buffer, N, count, format, args);
  va_end(args);
  return n;
}

#undef MSVCRT_PRINTF_FORMAT
