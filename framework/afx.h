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

#include "CObject.h"
#include "CDumpContext.h"
#include "CString.h"
#include "exceptions.h"
#include "exception_macros.h"
#include "diagnostics.h"
#include "CFile.h"
#include "CMemFile.h"
#include "CArchive.h"
