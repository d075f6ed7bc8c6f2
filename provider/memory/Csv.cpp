#include "Csv.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "MemoryCubeImpl.h"

namespace memory {

namespace {

// Large enough that reading costs few calls, small enough to stay in the cache's reach.
constexpr size_t kBlockBytes = size_t(1) << 20;

// Bytes that end an unquoted field.
struct Separators {
  bool table[256] = {};
  constexpr Separators() {
    table[static_cast<unsigned char>(',')] = true;
    table[static_cast<unsigned char>('\n')] = true;
    table[static_cast<unsigned char>('\r')] = true;
  }
};
constexpr Separators kSeparators;

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
// Every byte that ends or quotes a field is below ',' + 1.
static_assert(',' > '\n' && ',' > '\r' && ',' > '"');

// Flags the bytes of a word below ',' + 1, and maybe bytes above one of them (the borrow of the
// subtraction), which their readers then refuse by looking at the byte.
uint64_t low_bytes(uint64_t word) { return (word - kOnes * (',' + 1)) & ~word & kHighs; }

// The first separator at or after p, read a word at a time where the bytes allow it: most
// fields are shorter than a word, so one test finds their end.
const char* separator_at_or_after(const char* p, const char* limit) {
  if constexpr (std::endian::native == std::endian::little) {
    while (limit - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      for (uint64_t flags = low_bytes(word); flags; flags &= flags - 1) {
        const char* const at = p + std::countr_zero(flags) / 8;
        if (kSeparators.table[static_cast<unsigned char>(*at)]) return at;
      }
      p += 8;
    }
  }
  while (p < limit && !kSeparators.table[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// Reads a record that holds no quote and ends before `limit`, a word at a time: appends its
// fields and returns the first byte after its line end. Returns null, leaving the record to the
// general reading, on a quote, an empty line, or a line end the bytes read may not complete.
const char* unquoted_record(const char* p, const char* limit, std::vector<std::string_view>& fields) {
  if constexpr (std::endian::native != std::endian::little) return nullptr;
  if (p == limit || *p == '\n' || *p == '\r') return nullptr;
  const char* start = p;
  for (const char* q = p; limit - q >= 8; q += 8) {
    uint64_t word;
    std::memcpy(&word, q, sizeof word);
    for (uint64_t flags = low_bytes(word); flags; flags &= flags - 1) {
      const char* const at = q + std::countr_zero(flags) / 8;
      switch (*at) {
        case ',':
          fields.emplace_back(start, static_cast<size_t>(at - start));
          start = at + 1;
          break;
        case '\n':
          fields.emplace_back(start, static_cast<size_t>(at - start));
          return at + 1;
        case '\r':
          // "\r\n" or a lone "\r"; the next byte decides, so it must have been read.
          if (at + 1 == limit) return nullptr;
          fields.emplace_back(start, static_cast<size_t>(at - start));
          return at[1] == '\n' ? at + 2 : at + 1;
        case '"':
          return nullptr;
        default:
          break;
      }
    }
  }
  return nullptr;
}

// Line breaks in [begin, end): "\r\n", "\n" and a lone "\r" count once each.
int line_breaks(const char* begin, const char* end) {
  int lines = 0;
  for (const char* p = begin; p < end; ++p)
    if (*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n'))) ++lines;
  return lines;
}

size_t count_bytes(const char* begin, const char* end, char byte) {
  size_t count = 0;
#if defined(__SSE2__)
  // Sixteen bytes a step: each byte lane counts its matches (a match compares as -1 and is
  // subtracted) for at most 255 steps, then the lanes are summed.
  const __m128i wanted = _mm_set1_epi8(byte);
  while (end - begin >= 16) {
    __m128i lanes = _mm_setzero_si128();
    for (int step = 0; step < 255 && end - begin >= 16; ++step, begin += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, wanted));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += static_cast<size_t>(_mm_cvtsi128_si32(sums)) + static_cast<size_t>(_mm_extract_epi16(sums, 4));
  }
#endif
  for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, byte, static_cast<size_t>(end - p)))); ++p)
    ++count;
  return count;
}

TOVAString to_text(std::string_view bytes) { return TOVAString(support::utf8ToUtf16(bytes)); }

}  // namespace

void CsvBlock::resize(size_t size) {
  // Default-initialised: no byte is set.
  std::unique_ptr<char[]> block(new char[size]);
  if (m_Size > 0) std::memcpy(block.get(), m_pData, std::min(m_Size, size));
  m_pOwned = std::move(block);
  std::string().swap(m_Given);
  m_pData = m_pOwned.get();
  m_Size = size;
}

void csvError(const std::string& path, int line, const TOVAString& problem) {
  raise<InvalidArgumentExceptionImpl>(MEMORY_E_CSV, TOVAString(path), line, problem);
}

int CsvTable::column(const TOVAString& name) const {
  for (size_t i = 0; i < m_Header.size(); ++i)
    if (m_Header[i] == name) return static_cast<int>(i);
  return -1;
}

int CsvReader::column(const TOVAString& name) const {
  for (size_t i = 0; i < m_Header.size(); ++i)
    if (m_Header[i] == name) return static_cast<int>(i);
  return -1;
}

CsvReader::CsvReader(std::string path, size_t limit) : m_Path(std::move(path)), m_bFromFile(true) {
  const TOVAString problem = m_File.open(m_Path, limit, "a table");
  if (!problem.empty()) csvError(m_Path, 0, problem);
  // A small table gets a block of its size; one more byte lets the first read see the end.
  m_Block.resize(std::min(kBlockBytes, m_File.size() + 1));
  read_more();
  start();
}

CsvReader::CsvReader(std::string path, std::string bytes)
    : m_Path(std::move(path)), m_Block(std::move(bytes)) {
  m_End = m_Block.size();
  m_bEof = true;
  start();
}

void CsvReader::start() {
  const TOVAString utf16 = utf16Problem(std::string_view(m_Block.data(), m_End));
  if (!utf16.empty()) csvError(m_Path, 1, utf16);
  if (std::string_view(m_Block.data(), m_End).starts_with("\xEF\xBB\xBF")) m_Begin = m_Checked = 3;
  // Line breaks are counted on raw bytes: the estimate is only a size to reserve.
  size_t lines = count_bytes(m_Block.data() + m_Begin, m_Block.data() + m_End, '\n');
  if (lines == 0) lines = count_bytes(m_Block.data() + m_Begin, m_Block.data() + m_End, '\r');
  const size_t total = m_bFromFile ? std::max(m_File.size(), m_End) : m_End;
  m_Estimate = m_bEof || m_End == 0 ? lines : static_cast<size_t>(static_cast<double>(lines) * total / m_End * 1.05);
  check_more();
  int line = 0;
  std::vector<std::string_view> header;
  if (!next_record(header, line)) csvError(m_Path, 1, "the file has no header line");
  for (std::string_view name : header) m_Header.push_back(to_text(name));
  for (size_t a = 0; a < m_Header.size(); ++a)
    for (size_t b = a + 1; b < m_Header.size(); ++b)
      if (m_Header[a] == m_Header[b])
        csvError(m_Path, line, TOVAString().build("column '%s' appears twice in the header", m_Header[a]));
  m_Estimate = m_Estimate > 0 ? m_Estimate - 1 : 0;
}

void CsvReader::read_more() {
  // The block fills from the file until it is full or the file ends.
  while (!m_bEof && m_End < m_Block.size()) {
    size_t count = 0;
    const TOVAString problem = m_File.read(m_Block.data() + m_End, m_Block.size() - m_End, count);
    if (!problem.empty()) csvError(m_Path, 0, problem);
    if (count == 0) m_bEof = true;
    m_End += count;
  }
}

void CsvReader::check_more() {
  size_t end = m_End;
  // A UTF-8 sequence never holds a line break's byte, so checking up to one never cuts it.
  if (!m_bEof) {
    while (end > m_Checked && m_Block[end - 1] != '\n' && m_Block[end - 1] != '\r') --end;
  }
  if (end <= m_Checked) return;
  const size_t bad = support::firstInvalidUtf8(std::string_view(m_Block.data() + m_Checked, end - m_Checked));
  if (bad != std::string::npos) {
    const size_t at = m_Checked + bad;
    // m_Line is the line of the first unparsed byte.
    csvError(m_Path, m_Line + line_breaks(m_Block.data() + m_Begin, m_Block.data() + at),
             TOVAString().build("the text is not valid UTF-8 (byte offset %u); save the table as UTF-8",
                                m_Offset + at));
  }
  m_Checked = end;
}

void CsvReader::refill() {
  if (m_Begin > 0) {
    std::memmove(m_Block.data(), m_Block.data() + m_Begin, m_End - m_Begin);
    m_Offset += m_Begin;
    m_End -= m_Begin;
    m_Checked -= m_Begin;
    m_Begin = 0;
  }
  // A record longer than the block: the block grows to hold it.
  if (m_End == m_Block.size()) m_Block.resize(m_Block.size() * 2);
  read_more();
  check_more();
}

bool CsvReader::next(std::vector<std::string_view>& fields, int& line) {
  if (!next_record(fields, line)) return false;
  if (fields.size() != m_Header.size())
    csvError(m_Path, line,
             TOVAString().build("the record has %u fields; the header has %u", fields.size(), m_Header.size()));
  return true;
}

bool CsvReader::next_record(std::vector<std::string_view>& fields, int& line) {
  for (;;) {
    switch (parse_record(fields, line)) {
      case PR_RECORD:
        return true;
      case PR_END:
        return false;
      case PR_MORE:
        refill();
        break;
    }
  }
}

CsvReader::ParseResult CsvReader::parse_record(std::vector<std::string_view>& fields, int& line) {
  const char* const base = m_Block.data();
  const char* p = base + m_Begin;
  const char* const limit = base + m_Checked;
  // Past `limit` lies either nothing (the end of the table) or bytes not read or checked yet.
  const bool last = m_bEof && m_Checked == m_End;
  int lineNumber = m_Line;
  for (;;) {
    if (p == limit) {
      if (!last) return PR_MORE;
      m_Begin = static_cast<size_t>(p - base);
      m_Line = lineNumber;
      return PR_END;
    }
    const int recordLine = lineNumber;
    fields.clear();
    m_Unquoted.clear();
    m_UnquotedFields.clear();
    if (const char* const next = unquoted_record(p, limit, fields)) {
      m_Begin = static_cast<size_t>(next - base);
      m_Line = lineNumber + 1;
      line = recordLine;
      return PR_RECORD;
    }
    fields.clear();
    bool blank = true;
    for (;;) {
      if (p < limit && *p == '"') {
        blank = false;
        const char* const start = ++p;
        bool doubled = false;
        // The closing quote is found first; the field is copied only when it holds "".
        for (;;) {
          const char* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(limit - p)));
          if (!quote) {
            if (!last) return PR_MORE;
            csvError(m_Path, recordLine, "a quoted field is not closed");
          }
          if (quote + 1 == limit && !last) return PR_MORE;
          p = quote + 1;
          if (p < limit && *p == '"') {
            doubled = true;
            ++p;
            continue;
          }
          break;
        }
        const char* const end = p - 1;
        lineNumber += line_breaks(start, end);
        if (doubled) {
          const size_t offset = m_Unquoted.size();
          for (const char* q = start; q < end; ++q) {
            m_Unquoted += *q;
            if (*q == '"') ++q;
          }
          m_UnquotedFields.push_back({fields.size(), {offset, m_Unquoted.size() - offset}});
          fields.emplace_back();
        } else {
          fields.emplace_back(start, static_cast<size_t>(end - start));
        }
        if (p < limit && *p != ',' && *p != '\n' && *p != '\r')
          csvError(m_Path, lineNumber, "unexpected text after a quoted field");
      } else {
        const char* const start = p;
        p = separator_at_or_after(p, limit);
        if (p == limit && !last) return PR_MORE;
        if (p != start) blank = false;
        fields.emplace_back(start, static_cast<size_t>(p - start));
      }
      if (p < limit && *p == ',') {
        blank = false;
        ++p;
        continue;
      }
      break;
    }
    if (p < limit) {
      if (*p == '\r') {
        if (p + 1 == limit && !last) return PR_MORE;
        if (p + 1 < limit && p[1] == '\n') ++p;
      }
      ++p;
      ++lineNumber;
    }
    if (blank) continue;  // empty lines carry no record
    for (const auto& [index, span] : m_UnquotedFields)
      fields[index] = std::string_view(m_Unquoted.data() + span.first, span.second);
    m_Begin = static_cast<size_t>(p - base);
    m_Line = lineNumber;
    line = recordLine;
    return PR_RECORD;
  }
}

CsvTable CsvTable::read(CsvReader& reader) {
  CsvTable table;
  table.m_Path = reader.path();
  table.m_Header = reader.header();
  std::vector<std::string_view> fields;
  int line = 0;
  while (reader.next(fields, line)) {
    std::vector<TOVAString> row;
    row.reserve(fields.size());
    for (std::string_view field : fields) row.push_back(to_text(field));
    table.m_Rows.push_back(std::move(row));
    table.m_Lines.push_back(line);
  }
  return table;
}

CsvTable CsvTable::fromRows(SourceTable table) {
  CsvTable out;
  out.m_Path = std::move(table.name);
  out.m_Header = std::move(table.header);
  out.m_Rows = std::move(table.rows);
  out.m_Lines.resize(out.m_Rows.size());
  for (size_t i = 0; i < out.m_Lines.size(); ++i) out.m_Lines[i] = static_cast<int>(i) + 2;
  return out;
}

}  // namespace memory
