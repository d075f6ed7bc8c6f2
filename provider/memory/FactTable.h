#pragma once

// Columnar fact storage of the memory provider. Key columns hold leaf indexes in 1, 2 or 4
// bytes, as the largest index needs. Measure columns hold values exactly as scaled integers
// (value * 10^decimals in 4 or 8 bytes) while every value has at most kMaxDecimals decimals,
// and as doubles otherwise; sums over an integer column are exact.
//
// Construction goes through FactTableBuilder: append rows (or the values of one column at a
// time), then finish(). Columns widen on demand while they grow, so no wider copy of a column
// is ever held beside its narrow one longer than one widening step.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/StringConverters.h"

namespace memory {

// Leaf indexes of one dimension, one per fact row.
class KeyColumn {
 public:
  size_t size() const { return m_Size; }
  // 1, 2 or 4.
  unsigned width() const { return m_Width; }
  uint32_t at(size_t row) const {
    return m_Width == 1 ? m_8[row] : m_Width == 2 ? m_16[row] : m_32[row];
  }
  // Calls f(const T* keys) with T the column's storage type (uint8_t, uint16_t or uint32_t).
  template <class F>
  decltype(auto) visit(F&& f) const {
    if (m_Width == 1) return f(m_8.data());
    if (m_Width == 2) return f(m_16.data());
    return f(m_32.data());
  }
  size_t bytes() const { return m_Size * m_Width; }

  void append(uint32_t key) {
    if (m_Width == 1 && key <= 0xFF) {
      m_8.push_back(static_cast<uint8_t>(key));
      ++m_Size;
      return;
    }
    append_wide(key);
  }
  void reserve(size_t rows);
  void shrink();

 private:
  void append_wide(uint32_t key);
  void widen(unsigned width);

  unsigned m_Width = 1;
  size_t m_Size = 0;
  std::vector<uint8_t> m_8;
  std::vector<uint16_t> m_16;
  std::vector<uint32_t> m_32;
};

// Values of one measure, one per fact row.
class MeasureColumn {
 public:
  // Most decimals a value may have for the column to stay integer.
  static constexpr int kMaxDecimals = 4;
  enum Storage { MS_INT32 = 0, MS_INT64 = 1, MS_DOUBLE = 2 };

  size_t size() const { return m_Size; }
  Storage storage() const { return m_Storage; }
  bool isInteger() const { return m_Storage != MS_DOUBLE; }
  // Of an integer column: the stored integer is the value times scale() (a power of ten).
  int64_t scale() const { return m_Scale; }
  int decimals() const { return m_Decimals; }
  double at(size_t row) const {
    switch (m_Storage) {
      case MS_INT32:
        return static_cast<double>(m_32[row]) / static_cast<double>(m_Scale);
      case MS_INT64:
        return static_cast<double>(m_64[row]) / static_cast<double>(m_Scale);
      default:
        return m_Double[row];
    }
  }
  // Of an integer column: the stored integer of a row.
  int64_t scaledAt(size_t row) const { return m_Storage == MS_INT32 ? m_32[row] : m_64[row]; }
  // Calls f(const T* values) with T the storage type (int32_t, int64_t or double).
  template <class F>
  decltype(auto) visit(F&& f) const {
    if (m_Storage == MS_INT32) return f(m_32.data());
    if (m_Storage == MS_INT64) return f(m_64.data());
    return f(m_Double.data());
  }
  size_t bytes() const { return m_Size * (m_Storage == MS_INT32 ? 4 : 8); }

  // An integer column of values * 10^decimals (decimals <= kMaxDecimals), stored in 4 bytes a
  // value when they all fit.
  static MeasureColumn fromScaled(std::vector<int64_t> scaled, int decimals);

  void append(double value);
  // Stores decimal.value() exactly as append would, from its digits.
  void appendDecimal(const StringConverters::PlainDecimal& decimal) {
    // Most values fit the column's scale and 32 bits as they are.
    if (m_Storage == MS_INT32 && decimal.decimals <= m_Decimals &&
        decimal.digits <= kInt32Digits[m_Decimals - decimal.decimals]) {
      const auto scaled = static_cast<int32_t>(decimal.digits * kPowersOfTen[m_Decimals - decimal.decimals]);
      m_32.push_back(decimal.negative ? -scaled : scaled);
      m_Magnitude += scaled;
      ++m_Size;
      return;
    }
    append_decimal(decimal);
  }
  void reserve(size_t rows);
  // Keeps integer storage only where a sum of the whole column cannot overflow; shrinks.
  void finish();

 private:
  void to_doubles();
  void rescale(int decimals);
  void to_int64();
  static constexpr uint64_t kPowersOfTen[] = {
      1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000,
      10000000000, 100000000000, 1000000000000, 10000000000000, 100000000000000,
      1000000000000000, 10000000000000000, 100000000000000000, 1000000000000000000};
  // The largest digits whose value times 10^n fits 32 bits, by n up to kMaxDecimals.
  static constexpr uint64_t kInt32Digits[] = {2147483647, 214748364, 21474836, 2147483, 214748};

  void append_decimal(const StringConverters::PlainDecimal& decimal);
  // Appends value * scale() to an integer column.
  void push_scaled(int64_t scaled) {
    if (m_Storage == MS_INT32 && scaled == static_cast<int32_t>(scaled))
      m_32.push_back(static_cast<int32_t>(scaled));
    else
      push_wide(scaled);
    m_Magnitude += static_cast<double>(scaled < 0 ? -scaled : scaled);
    ++m_Size;
  }
  void push_wide(int64_t scaled);

  Storage m_Storage = MS_INT32;
  int m_Decimals = 0;
  int64_t m_Scale = 1;
  size_t m_Size = 0;
  // Sum of the magnitudes of the stored integers, as a bound against overflowing sums.
  double m_Magnitude = 0;
  std::vector<int32_t> m_32;
  std::vector<int64_t> m_64;
  std::vector<double> m_Double;
};

// For rows [base, base + n) of a key column, adds offset[key] to `cell` of each row (or, with
// `first`, sets it); a negative offset or cell leaves the row's cell negative (outside what the
// scan keeps).
inline void addKeyOffsets(const KeyColumn& column, size_t base, size_t n, const int64_t* offset,
                          int64_t* cell, bool first = false) {
  column.visit([&](const auto* keys) {
    keys += base;
    if (first) {
      for (size_t i = 0; i < n; ++i) cell[i] = offset[keys[i]];
      return;
    }
    for (size_t i = 0; i < n; ++i) {
      const int64_t v = offset[keys[i]];
      cell[i] = (cell[i] | v) < 0 ? -1 : cell[i] + v;
    }
  });
}

// The fact rows: one key column per dimension (Measures excluded), one value column per measure.
struct FactTable {
  std::vector<KeyColumn> keys;
  std::vector<MeasureColumn> values;
  size_t rowCount() const {
    return !values.empty() ? values[0].size() : (keys.empty() ? 0 : keys[0].size());
  }
  size_t bytes() const;
};

// Fills a FactTable. Leaf indexes must be checked by the caller; finish() checks that every
// column has the same length and throws InvalidArgumentException (MEMORY_E_BUILDER) otherwise.
class FactTableBuilder {
 public:
  void addKeyColumn() { m_Table.keys.emplace_back(); }
  void addMeasureColumn() { m_Table.values.emplace_back(); }
  size_t keyColumns() const { return m_Table.keys.size(); }
  size_t measureColumns() const { return m_Table.values.size(); }
  bool empty() const { return m_Table.rowCount() == 0; }
  size_t rows() const { return m_Table.rowCount(); }
  // Room for this many rows in every column (at the narrowest widths).
  void reserve(size_t rows);
  // One row: keyColumns() leaf indexes and measureColumns() values.
  void addRow(const int32_t* keys, const double* values);
  // Column by column, for loaders that fill one column at a time.
  KeyColumn& key(size_t column) { return m_Table.keys[column]; }
  MeasureColumn& measure(size_t column) { return m_Table.values[column]; }
  // The table; the builder holds no column afterwards.
  FactTable finish();

 private:
  FactTable m_Table;
};

}  // namespace memory
