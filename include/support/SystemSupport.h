#pragma once

#include "support/Export.h"
#include "support/oleauto.h"

class VTQ_EXPORT SystemSupport {
 public:
  // A fresh random GUID (version 4 where the system offers one).
  static GUID GenerateGUID();
  static void GenerateGUID(GUID& guid) { guid = GenerateGUID(); }
};
