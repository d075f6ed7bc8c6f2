#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace NUVA_o {
class Cube;
}

// `vtq expr TEXT [--no-cube]`: parses an expression and prints its text, its kind and its tree.
struct ExprCommand {
  CLI::App* command = nullptr;
  std::string text;
  bool noCube = false;

  void add_to(CLI::App& app);
  // A text after `expr` that starts with "-" and a non-letter ("-(3 + 4) * 2", "-1e3") is the
  // expression, not an option: moves it behind a "--" so that the parser takes it as such.
  static void separate_expression_text(std::vector<std::string>& arguments);
  bool selected() const { return command != nullptr && command->parsed(); }
  // Prints "text: ", "ranking: ", "aggregate: " and the tree. Throws the library's exception
  // when the text does not parse.
  void run(NUVA_o::Cube* cube, std::ostream& out) const;
};
