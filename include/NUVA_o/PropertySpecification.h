#pragma once

#include <cstdint>

#include "support/TOVAString.h"
#include "support/oleauto.h"

namespace NUVA_o {

// A property request with typed arguments. Arguments of kind 0 or 1 carry an
// `olap_api::RefCount*` in the VARIANT's by-reference slot (type VT_BYREF) and the
// specification holds one reference to it; arguments of kind 2 are ordinary VARIANT values
// that it owns.
struct VTQ_EXPORT PropertySpecification {
  PropertySpecification();
  PropertySpecification(const PropertySpecification& other);
  PropertySpecification& operator=(const PropertySpecification& other);
  ~PropertySpecification();

  // Allocates `n` empty arguments of kind 2. Earlier arrays are released first, so it may be
  // called on a specification that already holds arguments.
  void CreateArray(int n);
  // Releases every argument (references for kinds 0 and 1, values otherwise); count 0.
  void DestroyArray();

  bool operator==(const PropertySpecification& other) const;
  bool operator!=(const PropertySpecification& other) const { return !(*this == other); }

  TOVAString fName;
  int32_t fIdentifier = -1;
  int32_t fArgCount = 0;
  VARIANT* fArgs = nullptr;
  int32_t* fArgKinds = nullptr;

 private:
  void copy_from(const PropertySpecification& other);
};

}  // namespace NUVA_o
