#include "expr_command.h"

#include <utility>
#include <vector>

#include "NUVA_o/Expression.h"
#include "common/CommonExpression.h"
#include "support/RefCountImpl.h"
#include "support/StringConverters.h"

void ExprCommand::add_to(CLI::App& app) {
  command = app.add_subcommand("expr", "Parse an expression against the cube and print its text, "
                                       "whether it ranks or aggregates, and its node tree");
  command->add_option("text", text, "The expression")->required();
  command->add_flag("--no-cube", noCube, "Parse without a cube (names are plain text)");
}

void ExprCommand::run(NUVA_o::Cube* cube, std::ostream& out) const {
  auto_unuse<NUVA_o::Expression> expression(createCommonExpression(cube));
  expression->setTextAndCreateTree(TOVAString(text));
  out << "text: " << expression->getTextFromTree().string() << '\n';
  out << "ranking: " << (expression->isRankingExpression() ? "true" : "false") << '\n';
  out << "aggregate: " << (expression->isAggregateExpression() ? "true" : "false") << '\n';
  // One node a line, two blanks of indent per level: type, keyword, string value, value.
  std::vector<std::pair<NUVA_o::Expression*, size_t>> stack{{expression.get(), 0}};
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    out << std::string(depth * 2, ' ') << node->getType();
    const char* keyword = expressionTypeKeyword(node->getType());
    if (*keyword) out << ' ' << keyword;
    if (!node->getStringValue().empty()) out << " '" << node->getStringValue().string() << '\'';
    const VARIANT& value = node->getValue();
    if (value.vt == VT_R8) out << " = " << StringConverters::convertRealToString(value.dblVal, 10).string();
    if (value.vt == VT_BOOL) out << (value.boolVal ? " = True" : " = False");
    out << '\n';
    const auto& children = node->getExpressions();
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, depth + 1);
  }
}
