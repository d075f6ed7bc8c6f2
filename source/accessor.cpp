#include "common/Accessor.h"

#include "support/CoreLog.h"

namespace common {

uint32_t Binding::getPart() const {
  return (m_bValuePart ? 1u : 0u) | (m_bLengthPart ? 2u : 0u) | (m_bStatusPart ? 4u : 0u);
}

void Binding::setPart(unsigned long part) {
  m_bValuePart = (part & 1u) != 0;
  m_bLengthPart = (part & 2u) != 0;
  m_bStatusPart = (part & 4u) != 0;
}

Accessor::Accessor() : RefCountImpl("Accessor", support::nextInstanceNumber<Accessor>()) {}

Binding Accessor::getBinding(int nPos) const {
  if (nPos < 0 || nPos >= static_cast<int>(fBindings.size())) {
    support_dll::AssertionFailure("nPos >= 0 && nPos < (Int)fBindings.size( )", "accessor", 74);
    return Binding();
  }
  return fBindings[static_cast<size_t>(nPos)];
}

}  // namespace common
