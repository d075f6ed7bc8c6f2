#include "NUVA_o/PropertySpecification.h"

#include "common/Utilities.h"
#include "olap_api/RefCount.h"
#include "support/CoreLog.h"

namespace NUVA_o {

namespace {

bool is_counted_kind(int32_t kind) { return kind == 0 || kind == 1; }

olap_api::RefCount* counted_object(const VARIANT& v) {
  return v.vt == VT_BYREF ? static_cast<olap_api::RefCount*>(v.byref) : nullptr;
}

}  // namespace

PropertySpecification::PropertySpecification() = default;

PropertySpecification::PropertySpecification(const PropertySpecification& other) {
  copy_from(other);
}

PropertySpecification& PropertySpecification::operator=(const PropertySpecification& other) {
  // Releasing our own arguments first would free the source's when both are the same object.
  if (this == &other) return *this;
  DestroyArray();
  copy_from(other);
  return *this;
}

PropertySpecification::~PropertySpecification() { DestroyArray(); }

void PropertySpecification::CreateArray(int n) {
  // Arguments held from an earlier call would otherwise be lost with their references.
  DestroyArray();
  if (n <= 0) return;
  fArgs = new VARIANT[n];
  fArgKinds = new int32_t[n];
  for (int i = 0; i < n; ++i) {
    VariantInit(&fArgs[i]);
    fArgKinds[i] = 2;
  }
  fArgCount = n;
}

void PropertySpecification::DestroyArray() {
  for (int32_t i = 0; i < fArgCount && fArgs; ++i) {
    if (is_counted_kind(fArgKinds[i])) {
      if (olap_api::RefCount* object = counted_object(fArgs[i])) object->unuse();
      VariantInit(&fArgs[i]);
    } else {
      VariantClear(&fArgs[i]);
    }
  }
  delete[] fArgs;
  delete[] fArgKinds;
  fArgs = nullptr;
  fArgKinds = nullptr;
  fArgCount = 0;
}

void PropertySpecification::copy_from(const PropertySpecification& other) {
  fName = other.fName;
  fIdentifier = other.fIdentifier;
  fArgCount = 0;
  fArgs = nullptr;
  fArgKinds = nullptr;
  if (other.fArgCount <= 0 || !other.fArgs || !other.fArgKinds) return;

  const int32_t n = other.fArgCount;
  fArgs = new VARIANT[n];
  fArgKinds = new int32_t[n];
  for (int32_t i = 0; i < n; ++i) VariantInit(&fArgs[i]);
  // The count grows with every argument copied, so DestroyArray releases exactly those if a
  // later copy throws.
  try {
    for (int32_t i = 0; i < n; ++i) {
      const VARIANT& source = other.fArgs[i];
      const int32_t kind = other.fArgKinds[i];
      if (source.vt == VT_BYREF) {
        fArgs[i] = source;
      } else {
        HRESULT hr = VariantCopy(&fArgs[i], &source);
        if (FAILED(hr)) VariantInit(&fArgs[i]);
      }
      fArgKinds[i] = kind;
      if (is_counted_kind(kind)) {
        if (olap_api::RefCount* object = counted_object(fArgs[i])) object->use();
      } else if (source.vt == VT_BYREF) {
        support_dll::AssertionFailure("VV_VT(fArgs[i]) != VT_BYREF", "propertycommon",
                                      __LINE__);
      }
      fArgCount = i + 1;
    }
  } catch (...) {
    DestroyArray();
    throw;
  }
}

bool PropertySpecification::operator==(const PropertySpecification& other) const {
  if (fIdentifier != other.fIdentifier || fArgCount != other.fArgCount || fName != other.fName)
    return false;
  for (int32_t i = 0; i < fArgCount; ++i) {
    if (fArgKinds[i] != other.fArgKinds[i]) return false;
    if (is_counted_kind(fArgKinds[i])) {
      // Counted arguments are the same argument exactly when they designate the same object.
      if (fArgs[i].vt != other.fArgs[i].vt || fArgs[i].byref != other.fArgs[i].byref)
        return false;
    } else if (!common::CompareTwoVariants(fArgs[i], other.fArgs[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace NUVA_o
