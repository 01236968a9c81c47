// The framework's collections: CStringArray.
#pragma once

#include "afx.h"
#include "CStringArray.h"
