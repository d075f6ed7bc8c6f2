#pragma once

#include "TOVAFormatLexer.h"

// The token scanner of the expression language. Token codes are those of the generated
// parser (KELParser.h); names carry their text in getTokenText(), numbers their value in
// takeNumberValue().
class VTQ_EXPORT KELLexer : public TOVAFormatLexer {
 public:
  KELLexer(const TOVAString& input, NUVA_o::Cube* cube);
  ~KELLexer() override;

  // The next token code. Throws InvalidExpressionException for a bare name the cube does not
  // know and for AGGREGATE on a cube without that capability.
  virtual int nextToken();

  // Hands the text of the last name token over to the caller (the parser keeps it).
  TOVAString takeTokenText() { return std::move(m_TokenText); }

  // Where the last token started in the input.
  size_t tokenStart() const { return m_TokenStart; }

  // The quoting that reads back as the same braced name: braces around the text, "}" doubled.
  static TOVAString quoteName(const TOVAString& name);
  // Entries of the keyword table (synonyms counted once per spelling).
  static size_t keywordCount();

 private:
  int end_of_input();
  int scan_braced_name();
  int scan_bare_name(char16_t first);
  // After "<<": true with the name in the token text when ">>" closes it.
  bool scan_placeholder();
  int keyword_token(char16_t first);

  size_t m_TokenStart = 0;
};
