#pragma once

#include <cstdint>

#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Persistable.h"
#include "support/Exceptions.h"
#include "support/TOVAString.h"
#include "support/XmlSupport.h"

namespace common {

// The recipe of a member set that the provider has not made yet: its hierarchy, level, kind
// of creation and, for sets made from an expression, the expression and its language. Written
// as attributes of the member set's own element. Never throws and never logs.
class VTQ_EXPORT CreationRecord : public NUVA_o::Persistable {
 public:
  CreationRecord(const TOVAString& hierarchyName, int32_t levelIndex,
                 NUVA_o::CreateSetAs createSetAs, const TOVAString& expression = TOVAString(),
                 const TOVAString& expressionLanguage = TOVAString());
  CreationRecord(const CreationRecord& other);
  CreationRecord& operator=(const CreationRecord& other);
  ~CreationRecord() override;

  // Writes "Hierarchy", "CreatedAs", ("Expression", "Expression_Language") and "LevelIndex"
  // on `element`, which belongs to the caller.
  void persist(XmlSupport& xml, DOMElement* element) const override;
  // Reads the attributes of `element` into the record; attributes that are absent or not
  // understood leave the values the record holds. `cube` is not used.
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  // A record read from a member set element; a set saved with "SaveMode"="Members" gives the
  // default record (empty kind, no hierarchy, level -1).
  static CreationRecord s_CreateCreationRecordFromXML(DOMElement* element);

  // The "CreatedAs" text of a kind; kinds without a text of their own give "CreateEmpty".
  static const char* createdAsText(int createSetAs);

  TOVAString m_HierarchyName;
  int32_t m_LevelIndex;
  NUVA_o::CreateSetAs m_CreateSetAs;
  TOVAString m_Expression;
  TOVAString m_ExpressionLanguage;

 protected:
  CreationRecord();
};

// Reports that the structure of a cube changed under a view. Raised by providers and
// applications; the library only offers it. The text is the module name, the particulars go
// in as inserts.
class VTQ_EXPORT CubeStructureChangedExceptionImpl
    : public virtual olap_api::CubeStructureChangedException,
      public ExceptionCommon {
 public:
  explicit CubeStructureChangedExceptionImpl(const TOVAString& text);
  CubeStructureChangedExceptionImpl(const TOVAString& text, uint32_t code);
  CubeStructureChangedExceptionImpl(const CubeStructureChangedExceptionImpl& other);
  ~CubeStructureChangedExceptionImpl() override;

  ExceptionCommon* duplicate() const override;
  [[noreturn]] void rethrow() const override;
};

}  // namespace common
