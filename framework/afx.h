// The framework's core classes: CObject, CString, CFile, CMemFile, CArchive
// and the exceptions.
#pragma once

#include "CObject.h"
#include "CDumpContext.h"
#include "CString.h"
#include "exceptions.h"
#include "CFile.h"
#include "CMemFile.h"
#include "CArchive.h"
