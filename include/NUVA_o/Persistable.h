#pragma once

#include "support/XmlSupport.h"

namespace NUVA_o {

class Cube;

// An object that writes itself into an XML document and reads itself back.
class VTQ_EXPORT Persistable {
 public:
  virtual ~Persistable() = default;
  // Adds the object's own element (or attributes, where documented) to `parent`, which belongs
  // to the caller's document.
  virtual void persist(XmlSupport& xml, DOMElement* parent) const = 0;
  // Reads the object back from `element`; `cube` may be null where the object needs none.
  virtual void restore(DOMElement* element, Cube* cube) = 0;
};

}  // namespace NUVA_o
