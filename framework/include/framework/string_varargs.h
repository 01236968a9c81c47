// CString arguments to printf-style functions. MFC passes a CString through
// "..." as its character pointer; with the C++ ABI of GCC and Clang an object
// with a copy constructor goes through "..." by hidden reference instead. So
// every printf-style function a ported program calls has an overload, chosen
// only when a CString is among the arguments, that passes each CString as its
// LPCTSTR. Calls without a CString reach the C function as before, with the
// compiler's format checks.
#pragma once

#include <cstddef>
#include <cstdio>
#include <type_traits>

#ifndef _WIN32
#include "framework/crt/msvcrt_names.h"  // _snprintf, sprintf_s and the rest, which Windows' <stdio.h> has
#endif

class CString;

namespace afx_detail {

template <class T>
inline constexpr bool kIsCString =
    std::is_base_of_v<CString, std::remove_cv_t<std::remove_reference_t<T>>>;

// Enables an overload only when a CString is among the arguments.
template <class... Args>
using IfAnyCString = std::enable_if_t<(kIsCString<Args> || ...), int>;

// A CString as its characters; any other argument as it is.
template <class T>
decltype(auto) VarArg(const T& arg) noexcept {
  if constexpr (kIsCString<T>) {
    return arg.GetString();
  } else {
    return (arg);
  }
}

}  // namespace afx_detail

#define AFX_VARARG_OVERLOAD(result, name, params, args)                    \
  template <class... Args, afx_detail::IfAnyCString<Args...> = 0>          \
  result name(AFX_VARARG_UNPACK params, const Args&... varargs) {          \
    return ::name(AFX_VARARG_UNPACK args, afx_detail::VarArg(varargs)...); \
  }
#define AFX_VARARG_UNPACK(...) __VA_ARGS__

AFX_VARARG_OVERLOAD(int, printf, (const char* format), (format))
AFX_VARARG_OVERLOAD(int, fprintf, (std::FILE * stream, const char* format), (stream, format))
AFX_VARARG_OVERLOAD(int, sprintf, (char* buffer, const char* format), (buffer, format))
AFX_VARARG_OVERLOAD(int, snprintf, (char* buffer, std::size_t count, const char* format),
                    (buffer, count, format))
AFX_VARARG_OVERLOAD(int, _snprintf, (char* buffer, std::size_t count, const char* format),
                    (buffer, count, format))
AFX_VARARG_OVERLOAD(int, _scprintf, (const char* format), (format))
AFX_VARARG_OVERLOAD(int, sprintf_s, (char* buffer, std::size_t size, const char* format),
                    (buffer, size, format))
AFX_VARARG_OVERLOAD(int, _snprintf_s,
                    (char* buffer, std::size_t size, std::size_t count, const char* format),
                    (buffer, size, count, format))

template <std::size_t N, class... Args, afx_detail::IfAnyCString<Args...> = 0>
int sprintf_s(char (&buffer)[N], const char* format, const Args&... varargs) {
  return ::sprintf_s(buffer, N, format, afx_detail::VarArg(varargs)...);
}

template <std::size_t N, class... Args, afx_detail::IfAnyCString<Args...> = 0>
int _snprintf_s(char (&buffer)[N], std::size_t count, const char* format, const Args&... varargs) {
  return ::_snprintf_s(buffer, N, count, format, afx_detail::VarArg(varargs)...);
}

#undef AFX_VARARG_OVERLOAD
#undef AFX_VARARG_UNPACK
