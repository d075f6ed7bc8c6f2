#include <gtest/gtest.h>

#include <cstdint>

#include "VtqTest.h"
#include "common/ColumnInfoBase.h"
#include "common/RowBase.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace {

// A provider field of a given data type.
class TypedField : public support::RefCountImpl, public NUVA_o::Field {
 public:
  explicit TypedField(support::DataType type)
      : RefCountImpl("TypedField", support::nextInstanceNumber<TypedField>()), m_Type(type) {}
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const TOVAString& getCaption() const override { return m_Name; }
  const TOVAString& getDescription() const override { return m_Name; }
  support::DataType getDataType() const override { return m_Type; }
  int getFieldCategory() const override { return 0; }
  NUVA_o::Hierarchy* getHierarchy() const override { return nullptr; }
  const TOVAString& getLevelUniqueName() const override { return m_UniqueName; }
  unsigned getLevelNumber() const override { return 0; }
  bool isNumeric() const override { return false; }

 private:
  support::DataType m_Type;
  TOVAString m_Name{"Year"};
  TOVAString m_UniqueName{"[Time].[Calendar].[Year]"};
};

using RowsTest = vtq_testing::VtqTest;

TEST_F(RowsTest, CellsDumpWithTheirTypeLabels) {
  auto_unuse<common::RowBase> row(new common::RowBase(6));
  TOVAString dump;
  row->toString(dump);
  EXPECT_EQ(TOVAString("data[0]: [DT_NULL]->,  data[1]: [DT_NULL]->,  data[2]: [DT_NULL]->,  "
                       "data[3]: [DT_NULL]->,  data[4]: [DT_NULL]->,  data[5]: [DT_NULL]->,  "),
            dump);

  row->addDatum(0, NUVA_o::CellValue::integer(support::DT_SI32, 42));
  row->addDatum(1, NUVA_o::CellValue::real(support::DT_DOUBLE, 3.14159));
  row->addDatum(2, NUVA_o::CellValue::text(support::DT_UCS2, "Bikes"));
  // Regression: 64-bit values were cut to their low 32 bits by a 32-bit format.
  row->addDatum(3, NUVA_o::CellValue::integer(support::DT_SI64, 5000000000LL));
  row->addDatum(4, NUVA_o::CellValue::integer(support::DT_UI64, -1));
  // A type number the table does not name (within the enumeration's range, so no UB).
  row->addDatum(5, NUVA_o::CellValue::integer(static_cast<support::DataType>(31), 7));
  dump = "before: ";
  row->toString(dump);
  EXPECT_EQ(TOVAString("before: data[0]: [DT_SI32]->0000000042,  data[1]: [DT_DOUBLE]->00003.14,  "
                       "data[2]: [DT_UCS2]->Bikes,  data[3]: [DT_SI64]->5000000000,  "
                       "data[4]: [DT_UI64]->18446744073709551615,  data[5]: [DT_UNKNOWN]->,  "),
            dump);
  // A copied cell keeps all four parts.
  NUVA_o::CellValue copy = row->getDatum(2);
  EXPECT_EQ(support::DT_UCS2, copy.getType());
  EXPECT_EQ(TOVAString("Bikes"), copy.getStringValue());

  EXPECT_EQ(2u, row->addClientReference());
  EXPECT_EQ(1u, row->removeClientReference());
}

TEST_F(RowsTest, ColumnsOutsideTheRowAreRefused) {
  auto_unuse<common::RowBase> row(new common::RowBase(3, "ProviderRow"));
  uint64_t assertions = support_dll::assertionFailureCount();
  try {
    row->getDatum(3);
    ADD_FAILURE() << "getDatum(3) of a 3-column row";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(support::COMMON_E_INVALID_ARGUMENT, e.getCode());
    ASSERT_EQ(2u, e.getInserts().size());
    EXPECT_EQ(TOVAString("0"), e.getInserts()[0]);
    EXPECT_EQ(TOVAString("2"), e.getInserts()[1]);
  }
  // Regression: addDatum past the last column wrote past the cells.
  EXPECT_THROW(row->addDatum(3, NUVA_o::CellValue::integer(support::DT_SI32, 1)),
               olap_api::InvalidArgumentException);
  EXPECT_THROW(row->addDatum(UINT32_MAX, NUVA_o::CellValue()), olap_api::InvalidArgumentException);
  EXPECT_EQ(assertions + 3, support_dll::assertionFailureCount());
  // The row is unchanged and usable.
  row->addDatum(2, NUVA_o::CellValue::integer(support::DT_SI32, 9));
  EXPECT_EQ(9, row->getDatum(2).getIntegerValue());
  EXPECT_EQ(support::DT_NULL, row->getDatum(0).getType());
}

TEST_F(RowsTest, ColumnsDescribeTheirField) {
  auto_unuse<TypedField> text(new TypedField(support::DT_UCS2));
  auto_unuse<TypedField> integer(new TypedField(support::DT_SI32));
  auto_unuse<TypedField> stamp(new TypedField(support::DT_DATETIME));
  auto_unuse<common::ColumnInfoBase> a(new common::ColumnInfoBase(text.get(), 0));
  auto_unuse<common::ColumnInfoBase> b(new common::ColumnInfoBase(integer.get(), 4));
  auto_unuse<common::ColumnInfoBase> c(new common::ColumnInfoBase(stamp.get(), 1));

  EXPECT_EQ(TOVAString("[Time].[Calendar].[Year]"), a->getUniqueName());
  EXPECT_EQ(TOVAString("Year"), a->getCaption());
  EXPECT_EQ(0u, a->getFlags());
  EXPECT_EQ(255, a->getPrecision());
  EXPECT_EQ(-1, a->getSize());
  EXPECT_EQ(16u, b->getFlags());
  EXPECT_EQ(10, b->getPrecision());
  EXPECT_EQ(4, b->getSize());
  DBID id = b->getID();
  EXPECT_EQ(5u, id.eKind);
  EXPECT_EQ(4u, id.uName.ulPropid);

  uint64_t assertions = support_dll::assertionFailureCount();
  EXPECT_EQ(255, b->getScale());
  EXPECT_EQ(assertions, support_dll::assertionFailureCount());
  EXPECT_EQ(255, c->getScale());
  EXPECT_EQ(255, c->getPrecision());
  EXPECT_EQ(assertions + 2, support_dll::assertionFailureCount());

  auto_unuse<NUVA_o::Field> field(b->getField());
  EXPECT_EQ(integer.get(), field.get());
  EXPECT_EQ(0u, b->getColumnDisplaySize());
  b->setColumnDisplaySize(11);
  EXPECT_EQ(11u, b->getColumnDisplaySize());
}

}  // namespace
