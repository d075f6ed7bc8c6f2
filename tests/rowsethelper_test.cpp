#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "NUVA_o/Flattener.h"
#include "SampleOracle.h"
#include "VtqTest.h"
#include "common/CommonFlattener.h"
#include "common/RowsetHelper.h"
#include "provider/memory/MemoryCube.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace RH = common::RowsetHelper;
using NUVA_o::CellValue;

namespace {

class RowsetHelperTest : public vtq_testing::VtqTest {};

// The status of converting `cell` to `type`; the converted cell is left in `cell`.
unsigned long convert(CellValue& cell, support::DataType type, unsigned long maxLength = 100) {
  return RH::convert_data(cell, type, maxLength);
}

TEST_F(RowsetHelperTest, TypesBindingsAndChecks) {
  const uint64_t reports = support_dll::assertionFailureCount();
  EXPECT_EQ(support::DT_SI32, RH::convert_datatype(static_cast<unsigned short>(DBTYPE_GUID)));
  EXPECT_EQ(support::DT_DOUBLE, RH::convert_datatype(static_cast<unsigned short>(DBTYPE_NUMERIC)));
  EXPECT_EQ(support::DT_UCS2, RH::convert_datatype(static_cast<unsigned short>(DBTYPE_WSTR)));
  EXPECT_EQ(reports, support_dll::assertionFailureCount());
  EXPECT_EQ(support::DT_UNKNOWN, RH::convert_datatype(static_cast<unsigned short>(DBTYPE_DATE)));
  EXPECT_EQ(DBTYPE_EMPTY, RH::convert_datatype(support::DT_DATE));
  EXPECT_EQ(reports + 2, support_dll::assertionFailureCount());

  DBBINDING in{};
  in.iOrdinal = 2;
  in.wType = DBTYPE_R8;
  in.dwPart = DBPART_VALUE | DBPART_LENGTH;
  in.obValue = 8;
  in.obLength = 16;
  in.obStatus = 24;
  in.cbMaxLen = 40;
  in.bPrecision = 15;
  in.dwFlags = 7;
  const common::Binding binding = RH::convert_binding(in);
  EXPECT_EQ(3u, binding.getPart());
  EXPECT_EQ(support::DT_DOUBLE, binding.getType());
  const DBBINDING out = RH::convert_binding(binding);
  EXPECT_EQ(3u, out.dwPart);
  EXPECT_EQ(2u, out.iOrdinal);
  EXPECT_EQ(24u, out.obStatus);
  EXPECT_EQ(40u, out.cbMaxLen);
  EXPECT_EQ(15, out.bPrecision);
  EXPECT_EQ(0u, out.dwFlags);
  EXPECT_EQ(DBTYPE_R8, out.wType);

  EXPECT_FALSE(RH::is_part_valid(1));
  EXPECT_TRUE(RH::is_part_valid(3));
  EXPECT_TRUE(RH::is_part_valid(7));
  // The long-standing answers: a by-reference type with an odd base type is refused.
  EXPECT_FALSE(RH::is_type_valid(DBTYPE_EMPTY));
  EXPECT_FALSE(RH::is_type_valid(DBTYPE_I4 | DBTYPE_BYREF));
  EXPECT_TRUE(RH::is_type_valid(DBTYPE_I2 | DBTYPE_BYREF));
  EXPECT_TRUE(RH::is_type_valid(DBTYPE_I4));
  EXPECT_FALSE(RH::is_type_valid(DBTYPE_I2 | DBTYPE_ARRAY | DBTYPE_VECTOR));
  EXPECT_TRUE(RH::is_memowner_valid(1));
  EXPECT_FALSE(RH::is_memowner_valid(2));
  EXPECT_TRUE(RH::type_matches(DBTYPE_I4 | DBTYPE_BYREF, DBTYPE_I4));
  EXPECT_FALSE(RH::type_matches(DBTYPE_I4 | DBTYPE_BYREF, DBTYPE_I2));
  EXPECT_FALSE(RH::type_matches(DBTYPE_BSTR, DBTYPE_WSTR));
  EXPECT_TRUE(RH::is_conversion_supported(support::DT_UCS2, support::DT_SI32));
  EXPECT_FALSE(RH::is_conversion_supported(support::DT_DATE, support::DT_SI32));
  const uint64_t before = support_dll::assertionFailureCount();
  EXPECT_FALSE(RH::is_conversion_supported(support::DT_DOUBLE, support::DT_DATE));
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());

  common::RowsetProperties properties;
  ASSERT_EQ(55, properties.getCount());
  EXPECT_EQ(121u, properties.getProperty(0).first);
  EXPECT_EQ(VT_BOOL, properties.getProperty(0).second.vt);
  EXPECT_EQ(1, properties.getProperty(0).second.boolVal);
  EXPECT_EQ(117u, properties.getProperty(54).first);
  EXPECT_EQ(VT_EMPTY, properties.getPropertyValue(16).vt);
  EXPECT_EQ(VT_I4, properties.getPropertyValue(232).vt);
  EXPECT_EQ(0, properties.getPropertyValue(202).boolVal);
  EXPECT_EQ(VT_EMPTY, properties.getPropertyValue(9999).vt);

  auto_unuse<common::Accessor> accessor(new common::Accessor);
  EXPECT_EQ(2, accessor->addClientReference());
  EXPECT_EQ(1, accessor->removeClientReference());
  accessor->addBinding(binding);
  EXPECT_EQ(1, accessor->getBindingCount());
  EXPECT_EQ(2u, accessor->getBinding(0).getColumn());
  EXPECT_EQ(0u, accessor->getBinding(1).getColumn());
}

TEST_F(RowsetHelperTest, ConversionsReadTextInTheCLocaleAndReportOverflow) {
  CellValue text = CellValue::text(support::DT_UCS2, "2.5");
  EXPECT_EQ(0u, convert(text, support::DT_DOUBLE));
  EXPECT_EQ(2.5, text.getRealValue());
  CellValue empty = CellValue::text(support::DT_UCS2, "");
  EXPECT_EQ(2u, convert(empty, support::DT_DOUBLE));
  EXPECT_EQ(support::DT_UCS2, empty.getType());
  CellValue real = CellValue::real(support::DT_DOUBLE, 1234.5);
  EXPECT_EQ(4u, convert(real, support::DT_UCS2, 3));
  EXPECT_EQ("1234.5", real.getStringValue().string());
  CellValue third = CellValue::real(support::DT_DOUBLE, 1.0 / 3);
  EXPECT_EQ(0u, convert(third, support::DT_UCS2));
  EXPECT_EQ("0.3333333333", third.getStringValue().string());
  // Every real made an integer is reported truncated, whole or not.
  CellValue whole = CellValue::real(support::DT_DOUBLE, -3.0);
  EXPECT_EQ(4u, convert(whole, support::DT_SI32));
  EXPECT_EQ(-3, whole.getIntegerValue());
  CellValue fraction = CellValue::real(support::DT_DOUBLE, 7.9);
  EXPECT_EQ(4u, convert(fraction, support::DT_SI32));
  EXPECT_EQ(7, fraction.getIntegerValue());
  CellValue leading = CellValue::text(support::DT_UCS2, " \t-42abc");
  EXPECT_EQ(0u, convert(leading, support::DT_SI32));
  EXPECT_EQ(-42, leading.getIntegerValue());
  CellValue none = CellValue::text(support::DT_UCS2, "Europe");
  EXPECT_EQ(0u, convert(none, support::DT_SI32));
  EXPECT_EQ(0, none.getIntegerValue());
  CellValue lowest = CellValue::text(support::DT_UCS2, "-2147483648");
  EXPECT_EQ(0u, convert(lowest, support::DT_SI32));
  EXPECT_EQ(std::numeric_limits<int32_t>::min(), lowest.getIntegerValue());
  CellValue number = CellValue::integer(support::DT_SI32, 123);
  EXPECT_EQ(4u, convert(number, support::DT_UCS2, 2));
  EXPECT_EQ("123", number.getStringValue().string());

  // Regression: out-of-range values were converted with undefined behaviour (a real cast to an
  // integer, atoi past its range); now they report overflow and the cell keeps its value.
  for (double value : {3e10, -2147483649.0, std::nan(""), HUGE_VAL}) {
    CellValue big = CellValue::real(support::DT_DOUBLE, value);
    EXPECT_EQ(6u, convert(big, support::DT_SI32)) << value;
    EXPECT_EQ(support::DT_DOUBLE, big.getType());
  }
  for (const char* value : {"2147483648", "-99999999999999999999999"}) {
    CellValue big = CellValue::text(support::DT_UCS2, value);
    EXPECT_EQ(6u, convert(big, support::DT_SI32)) << value;
    EXPECT_EQ(support::DT_UCS2, big.getType());
  }
  CellValue huge = CellValue::text(support::DT_UCS2, "-1e999");
  EXPECT_EQ(6u, convert(huge, support::DT_DOUBLE));
  EXPECT_EQ(support::DT_UCS2, huge.getType());
  // Regression: the text was read as wide characters of another width, past its end; now the
  // number ends where the text's ASCII characters do.
  CellValue euro = CellValue::text(support::DT_UCS2, u"3.25\u20AC9");
  EXPECT_EQ(0u, convert(euro, support::DT_DOUBLE));
  EXPECT_EQ(3.25, euro.getRealValue());
  CellValue wide = CellValue::integer(support::DT_SI32, int64_t{5000000000});
  EXPECT_EQ(0u, convert(wide, support::DT_UCS2));
  EXPECT_EQ("5000000000", wide.getStringValue().string());

  // Regression: texts were read in the thread's locale; a decimal comma locale read "2.5" as 2.
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"}) {
    if (!std::setlocale(LC_ALL, name)) continue;
    CellValue local = CellValue::text(support::DT_UCS2, "2.5");
    EXPECT_EQ(0u, convert(local, support::DT_DOUBLE)) << name;
    EXPECT_EQ(2.5, local.getRealValue()) << name;
    CellValue printed = CellValue::real(support::DT_DOUBLE, 0.5);
    convert(printed, support::DT_UCS2);
    EXPECT_EQ("0.5", printed.getStringValue().string()) << name;
    break;
  }
  std::setlocale(LC_ALL, previous.c_str());
}

class BoundRowsTest : public RowsetHelperTest {
 protected:
  void SetUp() override {
    RowsetHelperTest::SetUp();
    m_Cube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  }
  void TearDown() override {
    m_Cube.reset();
    RowsetHelperTest::TearDown();
  }
  auto_unuse<NUVA_o::RowsetDataModel> run(const char* statement) {
    auto_unuse<NUVA_o::Flattener> flattener(createCommonFlattener(m_Cube.get()));
    auto_unuse<NUVA_o::FlattenerQuery> query(flattener->createQuery());
    query->setQueryText(statement);
    return auto_unuse<NUVA_o::RowsetDataModel>(query->execute());
  }
  static common::Binding bind(uint32_t column, support::DataType type, uint32_t offset,
                              uint32_t maxLength = 0) {
    common::Binding b;
    b.setColumn(column);
    b.setType(type);
    b.setPart(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS);
    b.setValueOffset(offset);
    b.setLengthOffset(offset + 8);
    b.setStatusOffset(offset + 16);
    b.setMaxLength(maxLength);
    return b;
  }
  template <class T>
  static T read(const std::vector<unsigned char>& buffer, size_t offset) {
    T value;
    std::memcpy(&value, buffer.data() + offset, sizeof value);
    return value;
  }

  auto_unuse<memory::MemoryCube> m_Cube;
};

TEST_F(BoundRowsTest, RowsOfAFlatQueryBindIntoAConsumerBuffer) {
  auto_unuse<NUVA_o::RowsetDataModel> rows =
      run("SELECT [Geography].[Region], [Measures].[Sales], [Measures].[Quantity] FROM [Geography]");
  const auto expected = vtq_testing::SampleOracle::get().rows(
      "SELECT c.region, SUM(f.sales), SUM(f.quantity) FROM facts f JOIN cities c ON c.city = f.city "
      "GROUP BY c.region ORDER BY (SELECT MIN(rowid) FROM cities WHERE region = c.region)");
  ASSERT_EQ(expected.size(), rows->getRowCount());
  const auto& columns = rows->getColumnInfos();
  const DBCOLUMNINFO text = RH::convert_columninfo(*columns[0]);
  const DBCOLUMNINFO real = RH::convert_columninfo(*columns[1]);
  EXPECT_EQ(DBTYPE_BSTR, text.wType);
  EXPECT_EQ(0u, text.dwFlags);
  EXPECT_EQ(DBTYPE_R8, real.wType);
  EXPECT_EQ(16u, real.dwFlags);
  EXPECT_EQ(8u, real.ulColumnSize);
  EXPECT_EQ(DBKIND_PROPID, real.columnid.eKind);
  EXPECT_EQ(1u, real.columnid.uName.ulPropid);

  // Each type the provider produces, as itself and converted.
  auto_unuse<common::Accessor> accessor(new common::Accessor);
  accessor->addBinding(bind(0, support::DT_UCS2, 0));          // text as text
  accessor->addBinding(bind(1, support::DT_DOUBLE, 32));       // real as real
  accessor->addBinding(bind(2, support::DT_SI32, 64));         // real to integer
  accessor->addBinding(bind(0, support::DT_SI32, 96));         // text without digits
  accessor->addBinding(bind(1, support::DT_UCS2, 128, 4));     // real to a text too long
  std::vector<unsigned char> buffer(160);
  for (size_t r = 0; r < expected.size(); ++r) {
    SCOPED_TRACE(expected[r][0]);
    std::fill(buffer.begin(), buffer.end(), 0xAB);
    RH::fill_buffer(*rows->getRow(r), 3, *accessor, buffer.data(), buffer.size());
    BSTR region = read<BSTR>(buffer, 0);
    EXPECT_EQ(expected[r][0], TOVAString(region, SysStringLen(region)).string());
    EXPECT_EQ(expected[r][0].size(), read<DBLENGTH>(buffer, 8));
    EXPECT_EQ(DBSTATUS_S_OK, read<DBSTATUS>(buffer, 16));
    SysFreeString(region);
    const double sales = std::strtod(expected[r][1].c_str(), nullptr);
    EXPECT_NEAR(sales, read<double>(buffer, 32), 0.01);
    EXPECT_EQ(8u, read<DBLENGTH>(buffer, 40));
    EXPECT_EQ(DBSTATUS_S_OK, read<DBSTATUS>(buffer, 48));
    EXPECT_EQ(std::atoi(expected[r][2].c_str()), read<int32_t>(buffer, 64));
    EXPECT_EQ(4u, read<DBLENGTH>(buffer, 72));
    EXPECT_EQ(DBSTATUS_S_TRUNCATED, read<DBSTATUS>(buffer, 80));
    EXPECT_EQ(0, read<int32_t>(buffer, 96));
    EXPECT_EQ(DBSTATUS_S_OK, read<DBSTATUS>(buffer, 112));
    BSTR figure = read<BSTR>(buffer, 128);
    const std::string printed = TOVAString(figure, SysStringLen(figure)).string();
    EXPECT_NEAR(sales, std::strtod(printed.c_str(), nullptr), 0.01);
    EXPECT_EQ(printed.size(), read<DBLENGTH>(buffer, 136));
    EXPECT_EQ(DBSTATUS_S_TRUNCATED, read<DBSTATUS>(buffer, 144));
    SysFreeString(figure);
  }

  // The one row of an aggregate over no facts is empty: status null, no value written.
  auto_unuse<NUVA_o::RowsetDataModel> nothing =
      run("SELECT [Measures].[Sales] FROM [Product] WHERE [Product].[Category] = 'Spaceships'");
  ASSERT_EQ(1u, nothing->getRowCount());
  auto_unuse<common::Accessor> single(new common::Accessor);
  single->addBinding(bind(0, support::DT_DOUBLE, 0));
  std::fill(buffer.begin(), buffer.end(), 0xAB);
  RH::fill_buffer(*nothing->getRow(0), 1, *single, buffer.data(), 32);
  EXPECT_EQ(0xABu, buffer[0]);
  EXPECT_EQ(0u, read<DBLENGTH>(buffer, 8));
  EXPECT_EQ(DBSTATUS_S_ISNULL, read<DBSTATUS>(buffer, 16));
}

TEST_F(BoundRowsTest, BadAccessorsAreRefusedBeforeAnythingIsWritten) {
  auto_unuse<NUVA_o::RowsetDataModel> rows =
      run("SELECT [Geography].[Region], [Measures].[Sales] FROM [Geography]");
  const NUVA_o::Row& row = *rows->getRow(0);
  std::vector<unsigned char> buffer(64, 0xAB);
  auto failure = [&](std::vector<common::Binding> bindings, size_t size) -> uint32_t {
    auto_unuse<common::Accessor> accessor(new common::Accessor);
    for (const auto& b : bindings) accessor->addBinding(b);
    try {
      RH::fill_buffer(row, 2, *accessor, buffer.data(), size);
    } catch (const olap_api::InvalidArgumentException& e) {
      return e.getCode();
    }
    return 0;
  };
  // The first binding is sound: a refusal must not leave its value (a BSTR) behind.
  const common::Binding good = bind(0, support::DT_UCS2, 0);
  EXPECT_EQ(support::COMMON_E_BINDING_OUTSIDE_BUFFER, failure({good, bind(1, support::DT_DOUBLE, 50)}, 64));
  EXPECT_EQ(support::COMMON_E_BINDING_OUTSIDE_BUFFER, failure({good, bind(1, support::DT_DOUBLE, 0xFFFFFFF0u)}, 64));
  EXPECT_EQ(support::COMMON_E_BINDING_OUTSIDE_BUFFER, failure({good}, 8));
  EXPECT_EQ(support::COMMON_E_BINDING_COLUMN, failure({good, bind(2, support::DT_DOUBLE, 32)}, 64));
  EXPECT_EQ(support::COMMON_E_BINDING_TYPE, failure({good, bind(1, support::DT_DATE, 32)}, 64));
  for (unsigned char byte : buffer) ASSERT_EQ(0xABu, byte);
  // A value-only binding needs room for its value alone.
  common::Binding valueOnly = bind(1, support::DT_DOUBLE, 56);
  valueOnly.setPart(DBPART_VALUE);
  EXPECT_EQ(0u, failure({valueOnly}, 64));
  EXPECT_NEAR(10257769.3, read<double>(buffer, 56), 1e6);
}

}  // namespace
