#include "support/oleauto.h"

#include <cstdlib>
#include <cstring>

// A BSTR points just past a 32-bit byte length and is terminated by a null code unit.
extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, unsigned length) {
  size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  block[0] = static_cast<uint32_t>(bytes);
  BSTR s = reinterpret_cast<BSTR>(block + 1);
  if (text) std::memcpy(s, text, bytes);
  else std::memset(s, 0, bytes);
  s[length] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  unsigned n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

int SysReAllocStringLen(BSTR* target, const OLECHAR* text, unsigned length) {
  if (target == nullptr) return 0;
  BSTR fresh = SysAllocStringLen(text, length);
  if (fresh == nullptr) return 0;
  SysFreeString(*target);
  *target = fresh;
  return 1;
}

unsigned SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  return reinterpret_cast<uint32_t*>(text)[-1] / sizeof(OLECHAR);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<uint32_t*>(text) - 1);
}

}  // extern "C"
