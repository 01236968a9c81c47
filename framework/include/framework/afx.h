// The framework's core: CObject, CString, CFile, CMemFile, CArchive, the
// exceptions and MFC's exception macros, the diagnostic macros, and <tchar.h>.
#pragma once

// The C runtime headers that MFC's <afx.h> brings in.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tchar.h>
#include <time.h>

#include "framework/CArchive.h"
#include "framework/CDumpContext.h"
#include "framework/CFile.h"
#include "framework/CMemFile.h"
#include "framework/CObject.h"
#include "framework/CString.h"
#include "framework/diagnostics.h"
#include "framework/exception_macros.h"
#include "framework/exceptions.h"
