// An object with one field of every type an archive reads and writes, for
// tests and fuzz targets that store and load objects.
#pragma once

#include "framework/afx.h"

namespace regkey::test {

struct ArchivedFields : CObject {
  BYTE by = 0;
  WORD w = 0;
  DWORD dw = 0;
  LONG l = 0;
  int i = 0;
  unsigned u = 0;
  short s = 0;
  char ch = 0;
  bool b = false;
  float f = 0;
  double d = 0;
  LONGLONG ll = 0;
  ULONGLONG ull = 0;
  CString str;

  void Serialize(CArchive& ar) override {
    if (ar.IsStoring())
      ar << by << w << dw << l << i << u << s << ch << b << f << d << ll << ull << str;
    else
      ar >> by >> w >> dw >> l >> i >> u >> s >> ch >> b >> f >> d >> ll >> ull >> str;
  }
};

}  // namespace regkey::test
