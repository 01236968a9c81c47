// <tchar.h> for systems without one: the generic-text names of the ANSI
// (single-byte) build, each mapped onto its char function. On Windows the
// system's <tchar.h> is used instead; this folder is on the include path only
// elsewhere.
#pragma once

#ifdef _WIN32
#error "On Windows include the system's <tchar.h>"
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "framework/crt/msvcrt_names.h"

typedef char _TCHAR;
typedef char _TSCHAR;
typedef unsigned char _TUCHAR;
typedef char _TXCHAR;
typedef int _TINT;
#ifndef _TCHAR_DEFINED
#define _TCHAR_DEFINED
typedef char TCHAR;
typedef char* LPTSTR;
typedef const char* LPCTSTR;
#endif

#define _T(x) x
#define _TEXT(x) x
#define __T(x) x
#ifndef TEXT
#define TEXT(quote) quote
#endif
#define _TEOF EOF

#define _tmain main
#define _tenviron environ

// Formatted input and output.
#define _tprintf printf
#define _ftprintf fprintf
#define _stprintf sprintf
#define _sntprintf _snprintf
#define _sctprintf _scprintf
#define _vtprintf vprintf
#define _vftprintf vfprintf
#define _vstprintf vsprintf
#define _vsntprintf _vsnprintf
#define _vsctprintf _vscprintf
#define _stprintf_s sprintf_s
#define _vstprintf_s vsprintf_s
#define _sntprintf_s _snprintf_s
#define _tscanf scanf
#define _ftscanf fscanf
#define _stscanf sscanf

// Character input and output, files.
#define _fgettc fgetc
#define _gettc getc
#define _gettchar getchar
#define _fgetts fgets
#define _fputtc fputc
#define _puttc putc
#define _puttchar putchar
#define _fputts fputs
#define _putts puts
#define _ungettc ungetc
#define _tfopen fopen
#define _tfreopen freopen
#define _tremove remove
#define _trename rename
#define _tgetenv getenv
#define _tsystem system
#define _tperror perror
#define _tcsftime strftime
#define _tasctime asctime
#define _tctime ctime
#define _tsetlocale setlocale

// Strings.
#define _tcslen strlen
#define _tcsclen strlen
#define _tcsnlen strnlen
#define _tcscpy strcpy
#define _tcsncpy strncpy
#define _tcscat strcat
#define _tcsncat strncat
#define _tcscmp strcmp
#define _tcsncmp strncmp
#define _tcsnccmp strncmp
#define _tcscoll strcoll
#define _tcsicmp _stricmp
#define _tcsnicmp _strnicmp
#define _tcsncicmp _strnicmp
#define _tcsicoll _stricmp
#define _tcschr strchr
#define _tcsrchr strrchr
#define _tcsstr strstr
#define _tcsspn strspn
#define _tcscspn strcspn
#define _tcspbrk strpbrk
#define _tcstok strtok
#define _tcstok_s strtok_s
#define _tcsdup _strdup
#define _tcslwr _strlwr
#define _tcsupr _strupr
#define _tcsrev _strrev
#define _tcsset _strset
#define _tcsnset _strnset
#define _tcsxfrm strxfrm
#define _tcserror strerror
#define _tcscpy_s strcpy_s
#define _tcsncpy_s strncpy_s
#define _tcscat_s strcat_s
#define _tcsncat_s strncat_s

// Conversions.
#define _ttoi atoi
#define _ttol atol
#define _tstoi atoi
#define _tstol atol
#define _ttoi64 _atoi64
#define _tstoi64 _atoi64
#define _ttof atof
#define _tstof atof
#define _tcstol strtol
#define _tcstoul strtoul
#define _tcstoi64 _strtoi64
#define _tcstoui64 _strtoui64
#define _tcstod strtod
#define _itot _itoa
#define _ltot _ltoa
#define _ultot _ultoa
#define _i64tot _i64toa
#define _ui64tot _ui64toa
#define _itot_s _itoa_s
#define _ltot_s _ltoa_s
#define _ultot_s _ultoa_s

// Character classes.
#define _istalpha isalpha
#define _istupper isupper
#define _istlower islower
#define _istdigit isdigit
#define _istxdigit isxdigit
#define _istspace isspace
#define _istpunct ispunct
#define _istalnum isalnum
#define _istprint isprint
#define _istgraph isgraph
#define _istcntrl iscntrl
#define _istascii(c) ((unsigned)(c) < 0x80)
#define _totupper toupper
#define _totlower tolower
