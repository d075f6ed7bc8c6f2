// SQL text made from names and values: literals escaped, identifiers checked.

#include "Provider.h"

namespace clickhouse {

std::string quoteLiteral(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out.push_back('\'');
  for (const char c : bytes) {
    switch (c) {
      case '\'':
        out += "\\'";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\0':
        out += "\\0";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          static const char hex[] = "0123456789ABCDEF";
          out += "\\x";
          out.push_back(hex[static_cast<unsigned char>(c) >> 4]);
          out.push_back(hex[static_cast<unsigned char>(c) & 15]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('\'');
  return out;
}

bool unquoteLiteral(std::string_view literal, std::string& bytes) {
  bytes.clear();
  if (literal.size() < 2 || literal.front() != '\'' || literal.back() != '\'') return false;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    const char c = literal[i];
    if (c == '\'' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F) return false;
    if (c != '\\') {
      bytes.push_back(c);
      continue;
    }
    if (++i + 1 >= literal.size()) return false;  // a backslash escaping the closing quote
    switch (literal[i]) {
      case '\'':
        bytes.push_back('\'');
        break;
      case '\\':
        bytes.push_back('\\');
        break;
      case '0':
        bytes.push_back('\0');
        break;
      case 'n':
        bytes.push_back('\n');
        break;
      case 'r':
        bytes.push_back('\r');
        break;
      case 't':
        bytes.push_back('\t');
        break;
      case 'b':
        bytes.push_back('\b');
        break;
      case 'f':
        bytes.push_back('\f');
        break;
      case 'x': {
        if (i + 3 >= literal.size()) return false;
        const int high = hex(literal[i + 1]), low = hex(literal[i + 2]);
        if (high < 0 || low < 0) return false;
        const auto value = static_cast<unsigned char>(high * 16 + low);
        // quoteLiteral writes \x only for control characters that have no letter escape.
        if ((value >= 0x20 && value != 0x7F) || value == 0 || value == '\n' || value == '\r' ||
            value == '\t' || value == '\b' || value == '\f')
          return false;
        bytes.push_back(static_cast<char>(value));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

std::string quoteIdentifier(std::string_view name) {
  bool plain = !name.empty() && name.size() <= 128 &&
               (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_');
  for (const char c : name)
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!plain)
    raise<InvalidArgumentExceptionImpl>(CLICKHOUSE_E_IDENTIFIER, TOVAString(std::string(name)));
  std::string out("`");
  out.append(name).push_back('`');
  return out;
}

}  // namespace clickhouse
