#include "expr_command.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "NUVA_o/Expression.h"
#include "common/CommonExpression.h"
#include "support/RefCountImpl.h"
#include "support/StringConverters.h"

void ExprCommand::add_to(CLI::App& app) {
  command = app.add_subcommand("expr", "Parse an expression against the cube and print its text, "
                                       "whether it ranks or aggregates, and its node tree");
  command->add_option("text", text, "The expression (one starting with \"-(\" or \"-1\" needs no \"--\")")->required();
  command->add_flag("--no-cube", noCube, "Parse without a cube (names are plain text)");
}

void ExprCommand::separate_expression_text(std::vector<std::string>& arguments) {
  auto is_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto command = std::find(arguments.begin(), arguments.end(), "expr");
  if (command == arguments.end()) return;
  for (auto it = command + 1; it != arguments.end() && *it != "--"; ++it) {
    const std::string& a = *it;
    if (a.empty() || a[0] != '-') continue;
    // "-v", "--no-cube": options.
    if (a.size() > 1 && is_letter(a[1])) continue;
    if (a.size() > 2 && a[1] == '-' && is_letter(a[2])) continue;
    std::string text = a;
    arguments.erase(it);
    arguments.push_back("--");
    arguments.push_back(std::move(text));
    return;
  }
}

void ExprCommand::run(NUVA_o::Cube* cube, std::ostream& out) const {
  auto_unuse<NUVA_o::Expression> expression(createCommonExpression(cube));
  expression->setTextAndCreateTree(TOVAString(text));
  out << "text: " << expression->getTextFromTree().string() << '\n';
  out << "ranking: " << (expression->isRankingExpression() ? "true" : "false") << '\n';
  out << "aggregate: " << (expression->isAggregateExpression() ? "true" : "false") << '\n';
  // One node a line, two blanks of indent per level: type, keyword, string value, value. Past
  // kMaxIndent levels the line gives its depth instead, so the dump stays linear in the tree.
  constexpr size_t kMaxIndent = 32;
  std::vector<std::pair<NUVA_o::Expression*, size_t>> stack{{expression.get(), 0}};
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    out << std::string(std::min(depth, kMaxIndent) * 2, ' ');
    if (depth > kMaxIndent) out << '[' << depth << "] ";
    out << node->getType();
    const char* keyword = expressionTypeKeyword(node->getType());
    if (*keyword) out << ' ' << keyword;
    if (!node->getStringValue().empty()) out << " '" << node->getStringValue().string() << '\'';
    const VARIANT& value = node->getValue();
    if (value.vt == VT_R8) out << " = " << StringConverters::convertRealToPlainString(value.dblVal).string();
    if (value.vt == VT_BOOL) out << (value.boolVal ? " = True" : " = False");
    out << '\n';
    const auto& children = node->getExpressions();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, depth + 1);
  }
}
