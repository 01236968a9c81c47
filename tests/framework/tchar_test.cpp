// The generic-text names of the ANSI build behave as the Windows C runtime's:
// the Windows leg runs the same expectations against the system's <tchar.h>.
#include <tchar.h>

// <tchar.h> above stands on its own; the rest comes after it.
#include <afx.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

TEST(TcharTest, TextMacrosAndTypesAreTheNarrowOnes) {
  static_assert(std::is_same_v<TCHAR, char>);
  static_assert(std::is_same_v<_TCHAR, char>);
  static_assert(std::is_same_v<LPTSTR, char*>);
  static_assert(std::is_same_v<LPCTSTR, const char*>);
  const TCHAR* a = _T("abc");
  const TCHAR* b = TEXT("abc");
  const TCHAR* c = _TEXT("abc");
  EXPECT_STREQ(a, "abc");
  EXPECT_STREQ(b, "abc");
  EXPECT_STREQ(c, "abc");
  EXPECT_EQ(sizeof(_T("abc")), 4u);
  TCHAR array[8];
  EXPECT_EQ(_countof(array), 8u);
}

TEST(TcharTest, StringFunctions) {
  EXPECT_EQ(_tcslen(_T("four")), 4u);
  EXPECT_EQ(_tcsicmp(_T("Software"), _T("SOFTWARE")), 0);
  EXPECT_LT(_tcsicmp(_T("abc"), _T("ABD")), 0);
  EXPECT_GT(_tcsicmp(_T("b"), _T("A")), 0);
  EXPECT_LT(_tcsicmp(_T("_"), _T("a")), 0);  // letters compare as lower case
  EXPECT_EQ(_tcsnicmp(_T("HKEY_x"), _T("hkey_y"), 5), 0);
  EXPECT_NE(_tcsnicmp(_T("HKEY_x"), _T("hkey_y"), 6), 0);
  EXPECT_STREQ(_tcschr(_T("a\\b"), _T('\\')), _T("\\b"));
  EXPECT_STREQ(_tcsrchr(_T("a\\b\\c"), _T('\\')), _T("\\c"));
  EXPECT_STREQ(_tcsstr(_T("HKEY_LOCAL_MACHINE"), _T("LOCAL")), _T("LOCAL_MACHINE"));
  EXPECT_EQ(_tcsspn(_T("aab"), _T("a")), 2u);
  EXPECT_EQ(_tcscspn(_T("ab\\c"), _T("\\")), 2u);

  TCHAR text[] = _T("Mixed Case");
  EXPECT_STREQ(_tcsupr(text), _T("MIXED CASE"));
  EXPECT_STREQ(_tcslwr(text), _T("mixed case"));
  EXPECT_STREQ(_tcsrev(text), _T("esac dexim"));
  TCHAR* copy = _tcsdup(text);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, text);
  EXPECT_NE(copy, text);
  free(copy);

  TCHAR list[] = _T("a,b,,c");
  TCHAR* context = nullptr;
  TCHAR* token = _tcstok_s(list, _T(","), &context);
  EXPECT_STREQ(token, _T("a"));
  token = _tcstok_s(nullptr, _T(","), &context);
  EXPECT_STREQ(token, _T("b"));
  token = _tcstok_s(nullptr, _T(","), &context);
  EXPECT_STREQ(token, _T("c"));
  EXPECT_EQ(_tcstok_s(nullptr, _T(","), &context), nullptr);
}

TEST(TcharTest, Conversions) {
  EXPECT_EQ(_ttoi(_T(" 42x")), 42);
  EXPECT_EQ(_ttol(_T("-7")), -7);
  EXPECT_EQ(_ttoi64(_T("9000000000")), 9000000000LL);
  EXPECT_EQ(_tcstoi64(_T("-0x10"), nullptr, 16), -16);
  EXPECT_EQ(_tcstoui64(_T("ffffffffffffffff"), nullptr, 16), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(_tcstol(_T("0x1F"), nullptr, 0), 31);
  EXPECT_EQ(_tcstoul(_T("4294967295"), nullptr, 10), 4294967295ul);

  TCHAR buffer[70];
  EXPECT_STREQ(_itot(-42, buffer, 10), _T("-42"));
  EXPECT_STREQ(_itot(-1, buffer, 16), _T("ffffffff"));  // other radixes show the bits
  EXPECT_STREQ(_itot(255, buffer, 2), _T("11111111"));
  EXPECT_STREQ(_ltot(-2147483647 - 1, buffer, 10), _T("-2147483648"));
  EXPECT_STREQ(_ultot(4294967295u, buffer, 36), _T("1z141z3"));
  EXPECT_STREQ(_i64tot(-1, buffer, 16), _T("ffffffffffffffff"));
  EXPECT_STREQ(_ui64tot(18446744073709551615ull, buffer, 10), _T("18446744073709551615"));

  TCHAR small[4];
  EXPECT_EQ(_itot_s(123, small, 10), 0);
  EXPECT_STREQ(small, _T("123"));
  EXPECT_EQ(_itot_s(1234, small, 10), ERANGE);
  EXPECT_STREQ(small, _T(""));
}

TEST(TcharTest, CheckedCopiesReportAndEmpty) {
  TCHAR dest[8];
  EXPECT_EQ(_tcscpy_s(dest, _T("1234567")), 0);
  EXPECT_STREQ(dest, _T("1234567"));
  EXPECT_EQ(_tcscpy_s(dest, _countof(dest), _T("12345678")), ERANGE);
  EXPECT_STREQ(dest, _T(""));
  EXPECT_EQ(_tcscpy_s(dest, _T("abc")), 0);
  EXPECT_EQ(_tcscat_s(dest, _T("defg")), 0);
  EXPECT_STREQ(dest, _T("abcdefg"));
  EXPECT_EQ(_tcscat_s(dest, _T("h")), ERANGE);
  EXPECT_STREQ(dest, _T(""));
  EXPECT_EQ(_tcsncpy_s(dest, _T("abcdefghij"), 3), 0);
  EXPECT_STREQ(dest, _T("abc"));
  EXPECT_EQ(_tcsncpy_s(dest, _T("abcdefghij"), _TRUNCATE), STRUNCATE);
  EXPECT_STREQ(dest, _T("abcdefg"));
  EXPECT_EQ(_tcsncpy_s(dest, _T("abcdefghij"), 9), ERANGE);
  EXPECT_STREQ(dest, _T(""));
  EXPECT_EQ(_tcsncat_s(dest, _countof(dest), _T("xyz"), 2), 0);
  EXPECT_STREQ(dest, _T("xy"));
}

TEST(TcharTest, CountedFormatting) {
  TCHAR dest[8];
  EXPECT_EQ(_stprintf_s(dest, _T("%d"), 1234567), 7);
  EXPECT_STREQ(dest, _T("1234567"));
#ifndef _WIN32
  // Too long: emptied. (mingw-w64's sprintf_s over msvcrt.dll ignores the size
  // and writes past the buffer, so the Windows leg does not try it.)
  EXPECT_EQ(_stprintf_s(dest, _T("%d"), 12345678), -1);
  EXPECT_STREQ(dest, _T(""));
#endif
  EXPECT_EQ(_sntprintf_s(dest, _TRUNCATE, _T("%s"), _T("truncated")), -1);
  EXPECT_STREQ(dest, _T("truncat"));
  EXPECT_EQ(_sntprintf_s(dest, 3, _T("%s"), _T("abcdef")), -1);
  EXPECT_STREQ(dest, _T("abc"));
  EXPECT_EQ(_sntprintf_s(dest, 5, _T("%s"), _T("ab")), 2);
  EXPECT_STREQ(dest, _T("ab"));

  EXPECT_EQ(_sntprintf(dest, sizeof dest, _T("%d"), 42), 2);
  EXPECT_STREQ(dest, _T("42"));
  std::memset(dest, '#', sizeof dest);
  EXPECT_EQ(_sntprintf(dest, 4, _T("%s"), _T("abcdef")), -1);  // cut short
  EXPECT_EQ(std::memcmp(dest, "abc", 3), 0);
  EXPECT_EQ(dest[5], '#');  // nothing beyond the count
#ifndef _WIN32
  EXPECT_EQ(dest[3], '\0');  // here always terminated; Windows leaves it unterminated
#endif
  EXPECT_EQ(_sctprintf(_T("%s-%d"), _T("ab"), 10), 5);
}

}  // namespace
