// Win32 types that MFC's signatures use and that the Linux <windows.h> lacks.
#pragma once

#include <windows.h>

#ifndef _WIN32
#include <cstdint>
typedef std::intptr_t INT_PTR;
typedef std::uintptr_t UINT_PTR;
typedef UINT* PUINT;
typedef LONG* LPLONG;
#endif
