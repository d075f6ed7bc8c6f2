#include "FactTable.h"

#include <cmath>
#include <limits>

#include "MemoryCubeImpl.h"

namespace memory {

namespace {

// Integers up to this magnitude are exact in a double, so a value read back as
// integer / scale is the very double that was stored.
constexpr double kExact = 9.0e15;
// The digits below which digits * 10^n stays below kExact, by n up to kMaxDecimals.
constexpr uint64_t kExactDigits[] = {9'000'000'000'000'000, 900'000'000'000'000, 90'000'000'000'000,
                                     9'000'000'000'000, 900'000'000'000};
// Integer columns whose summed magnitudes reach this could overflow an int64 sum.
constexpr double kSumLimit = 4.0e18;

int64_t power_of_ten(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Decimals of a value (at most MeasureColumn::kMaxDecimals), or -1 when it has more, is not
// finite or is beyond the exact integers.
int decimals_of(double value) {
  if (!std::isfinite(value)) return -1;
  double scale = 1;
  for (int d = 0; d <= MeasureColumn::kMaxDecimals; ++d, scale *= 10) {
    const double scaled = value * scale;
    if (std::fabs(scaled) >= kExact) return -1;
    if (std::nearbyint(scaled) / scale == value) return d;
  }
  return -1;
}

template <class To, class From>
void copy_into(std::vector<To>& to, std::vector<From>& from, size_t size) {
  to.reserve(std::max(from.capacity(), size));
  for (size_t i = 0; i < size; ++i) to.push_back(static_cast<To>(from[i]));
  std::vector<From>().swap(from);
}

}  // namespace

void KeyColumn::widen(unsigned width) {
  if (width == 2)
    copy_into(m_16, m_8, m_Size);
  else if (m_Width == 1)
    copy_into(m_32, m_8, m_Size);
  else
    copy_into(m_32, m_16, m_Size);
  m_Width = width;
}

void KeyColumn::append_wide(uint32_t key) {
  if (m_Width == 1 && key > 0xFF) widen(key > 0xFFFF ? 4 : 2);
  if (m_Width == 2 && key > 0xFFFF) widen(4);
  if (m_Width == 1)
    m_8.push_back(static_cast<uint8_t>(key));
  else if (m_Width == 2)
    m_16.push_back(static_cast<uint16_t>(key));
  else
    m_32.push_back(key);
  ++m_Size;
}

void KeyColumn::reserve(size_t rows) {
  if (m_Width == 1)
    m_8.reserve(rows);
  else if (m_Width == 2)
    m_16.reserve(rows);
  else
    m_32.reserve(rows);
}

void KeyColumn::shrink() {
  m_8.shrink_to_fit();
  m_16.shrink_to_fit();
  m_32.shrink_to_fit();
}

void MeasureColumn::to_doubles() {
  const double scale = static_cast<double>(m_Scale);
  m_Double.reserve(std::max(m_Size, m_Storage == MS_INT32 ? m_32.capacity() : m_64.capacity()));
  for (size_t i = 0; i < m_Size; ++i)
    m_Double.push_back(static_cast<double>(m_Storage == MS_INT32 ? m_32[i] : m_64[i]) / scale);
  std::vector<int32_t>().swap(m_32);
  std::vector<int64_t>().swap(m_64);
  m_Storage = MS_DOUBLE;
  m_Decimals = 0;
  m_Scale = 1;
}

void MeasureColumn::to_int64() {
  copy_into(m_64, m_32, m_Size);
  m_Storage = MS_INT64;
}

void MeasureColumn::rescale(int decimals) {
  const int64_t factor = power_of_ten(decimals - m_Decimals);
  int64_t largest = 0;
  visit([&](const auto* v) {
    for (size_t i = 0; i < m_Size; ++i)
      largest = std::max<int64_t>(largest, std::llabs(static_cast<int64_t>(v[i])));
  });
  if (static_cast<double>(largest) * static_cast<double>(factor) >= kExact) return to_doubles();
  if (m_Storage == MS_INT32 && largest * factor > std::numeric_limits<int32_t>::max()) to_int64();
  if (m_Storage == MS_INT32)
    for (int32_t& v : m_32) v *= static_cast<int32_t>(factor);
  else
    for (int64_t& v : m_64) v *= factor;
  m_Magnitude *= static_cast<double>(factor);
  m_Decimals = decimals;
  m_Scale = power_of_ten(decimals);
}

void MeasureColumn::append(double value) {
  if (m_Storage != MS_DOUBLE) {
    // Most values read back exactly at the column's scale already; only the others need their
    // decimals counted.
    const double atScale = std::nearbyint(value * static_cast<double>(m_Scale));
    if (!(std::fabs(atScale) < kExact && atScale / static_cast<double>(m_Scale) == value)) {
      const int decimals = decimals_of(value);
      if (decimals < 0)
        to_doubles();
      else if (decimals > m_Decimals)
        rescale(decimals);
    }
  }
  if (m_Storage != MS_DOUBLE) {
    const double scaled = std::nearbyint(value * static_cast<double>(m_Scale));
    if (std::fabs(scaled) >= kExact) {
      to_doubles();
    } else {
      push_scaled(static_cast<int64_t>(scaled));
      return;
    }
  }
  m_Double.push_back(value);
  ++m_Size;
}

void MeasureColumn::push_wide(int64_t scaled) {
  if (m_Storage == MS_INT32) to_int64();
  m_64.push_back(scaled);
}

void MeasureColumn::append_decimal(const StringConverters::PlainDecimal& decimal) {
  // The same decisions as append(decimal.value()) makes from the double: with at most 15
  // significant digits, no other decimal of at most kMaxDecimals decimals reads as that double,
  // and the digits hold no zeros ending the fraction, so they have the fewest decimals.
  if (m_Storage != MS_DOUBLE) {
    if (decimal.decimals > kMaxDecimals)
      to_doubles();
    else if (decimal.decimals > m_Decimals)
      rescale(decimal.decimals);
    if (m_Storage != MS_DOUBLE) {
      // 10^15 digits times a factor of at most 10^kMaxDecimals would overflow: compared first.
      if (decimal.digits < kExactDigits[m_Decimals - decimal.decimals]) {
        const auto scaled = static_cast<int64_t>(decimal.digits * kPowersOfTen[m_Decimals - decimal.decimals]);
        push_scaled(decimal.negative ? -scaled : scaled);
        return;
      }
      to_doubles();
    }
  }
  m_Double.push_back(decimal.value());
  ++m_Size;
}

MeasureColumn MeasureColumn::fromScaled(std::vector<int64_t> scaled, int decimals) {
  MeasureColumn out;
  out.m_Decimals = decimals;
  out.m_Scale = power_of_ten(decimals);
  out.m_Size = scaled.size();
  bool narrow = true;
  for (int64_t v : scaled) {
    narrow = narrow && v >= std::numeric_limits<int32_t>::min() &&
             v <= std::numeric_limits<int32_t>::max();
    out.m_Magnitude += std::fabs(static_cast<double>(v));
  }
  if (narrow) {
    out.m_32.assign(scaled.begin(), scaled.end());
  } else {
    out.m_Storage = MS_INT64;
    out.m_64 = std::move(scaled);
  }
  out.finish();
  return out;
}

void MeasureColumn::reserve(size_t rows) {
  if (m_Storage == MS_INT32)
    m_32.reserve(rows);
  else if (m_Storage == MS_INT64)
    m_64.reserve(rows);
  else
    m_Double.reserve(rows);
}

void MeasureColumn::finish() {
  if (m_Storage != MS_DOUBLE && m_Magnitude >= kSumLimit) to_doubles();
  m_32.shrink_to_fit();
  m_64.shrink_to_fit();
  m_Double.shrink_to_fit();
}

size_t FactTable::bytes() const {
  size_t total = 0;
  for (const KeyColumn& k : keys) total += k.bytes();
  for (const MeasureColumn& v : values) total += v.bytes();
  return total;
}

void FactTableBuilder::reserve(size_t rows) {
  for (KeyColumn& k : m_Table.keys) k.reserve(rows);
  for (MeasureColumn& v : m_Table.values) v.reserve(rows);
}

void FactTableBuilder::addRow(const int32_t* keys, const double* values) {
  for (size_t i = 0; i < m_Table.keys.size(); ++i)
    m_Table.keys[i].append(static_cast<uint32_t>(keys[i]));
  for (size_t i = 0; i < m_Table.values.size(); ++i) m_Table.values[i].append(values[i]);
}

FactTable FactTableBuilder::finish() {
  const size_t rows = m_Table.rowCount();
  for (const KeyColumn& k : m_Table.keys)
    if (k.size() != rows)
      raise<InvalidArgumentExceptionImpl>(MEMORY_E_BUILDER, "fact columns differ in length");
  for (const MeasureColumn& v : m_Table.values)
    if (v.size() != rows)
      raise<InvalidArgumentExceptionImpl>(MEMORY_E_BUILDER, "fact columns differ in length");
  for (KeyColumn& k : m_Table.keys) k.shrink();
  for (MeasureColumn& v : m_Table.values) v.finish();
  FactTable out = std::move(m_Table);
  m_Table = FactTable();
  return out;
}

}  // namespace memory
