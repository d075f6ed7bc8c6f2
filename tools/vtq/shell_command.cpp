#include "shell_command.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <charconv>
#include <cstdio>
#include <istream>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/Expression.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/SubTotal.h"
#include "NUVA_o/Tuple.h"
#include "NUVA_o/ViewResultSet.h"
#include "NUVA_o/Viewpoint.h"
#include "common/CommonExpression.h"
#include "common/CommonParameter.h"
#include "common/ComponentLog.h"
#include "common/CommonTuple.h"
#include "common/ViewpointCommand.h"
#include "common/ViewpointCommandManager.h"
#include "common/ViewpointFactory.h"
#include "InputFile.h"
#include "result_grid.h"
#include "sql_command.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"

namespace vtq {

namespace {

// Saved views larger than this are refused rather than read into memory.
constexpr size_t kMaxCubeViewBytes = size_t(256) << 20;

const char* const kHelp =
    "Commands (one per line; blank lines and lines starting with # are ignored):\n"
    "  layout            one line per axis: index, view or slice, and its hierarchies\n"
    "  level H N         the view member set of hierarchy H becomes all members of level N\n"
    "  move H AXIS [POS] moves hierarchy H to axis AXIS at position POS (default: the end)\n"
    "  swap H1 H2        swaps two hierarchies ([Time].[Calendar] [Product])\n"
    "  swap-axes I J     swaps the contents of axes I and J\n"
    "  undo, redo        takes back the newest edit, runs the newest undone edit again\n"
    "  revert            takes back every edit made since the last query\n"
    "  history           the undo history, then the redo history, newest last; (queried)\n"
    "                    marks an edit a query saw\n"
    "  query             prints the view's grid: axis 0 gives the columns, axis 1 the rows\n"
    "  sort TUPLE asc|desc|basc|bdesc\n"
    "                    adds a sort by the values at TUPLE, one member or a list in parentheses\n"
    "                    (([Measures].[Sales], [Time].[Calendar].[2024])); basc and bdesc ignore\n"
    "                    the hierarchy\n"
    "  filter EXPR       adds a filter of the rows, in force while the row axis keeps its\n"
    "                    hierarchies\n"
    "  highlight EXPR GROUP BAND\n"
    "                    adds a highlighting rule: cells where EXPR holds get GROUP (one word)\n"
    "                    and BAND (0 or more)\n"
    "  subtotal AXIS sum|average|min|max|count total|parent before|after\n"
    "                    adds a subtotal to axis AXIS: one of the whole axis or one per parent\n"
    "  calc AXIS TYPE TUPLE\n"
    "                    adds a dynamic calculation to axis AXIS at TUPLE (one member per\n"
    "                    hierarchy of the axis); TYPE is percent-total, percent-parent, rank,\n"
    "                    running-sum, difference or ratio\n"
    "  clauses           every sort, filter, highlight, subtotal and calculation: name, unique\n"
    "                    name, solve order or axis, state\n"
    "  remove NAME       removes the clause of that name (sort#1, subtotal#1) or unique name\n"
    "  disable NAME, enable NAME\n"
    "                    takes a clause out of force and puts it back, keeping it in the view\n"
    "  save FILE         writes the view to FILE as a CubeView document, whole or not at all\n"
    "  load FILE         replaces the view by the one saved in FILE, restored against this cube;\n"
    "                    prints a line 'repair: ...' for each thing the cube no longer has\n"
    "  xml               prints the view as a CubeView document\n"
    "  sql STATEMENT     runs a flat request and prints its rows: SELECT fields FROM hierarchies\n"
    "                    [WHERE conditions]; text fields group the rows, measures are summed\n"
    "  sql-or STATEMENT  splits the statement's OR conditions into OR-free statements and prints\n"
    "                    each with its rows; a row several of them return is one row of the whole\n"
    "  sql-bind [TYPES] STATEMENT\n"
    "                    binds each row into a consumer buffer, one binding per column of the\n"
    "                    types given (i4,r8,bstr; default: the column's own), and prints each\n"
    "                    bound value with its length and status (0 ok, 2 cannot convert, 3 null,\n"
    "                    4 truncated, 6 overflow)\n"
    "  sql-file FILE     runs the flat request in FILE: a statement or an XML query document\n"
    "                    (DPCOMMANDS ... QUERY with QUERYRESULT, QUERYCONDITION, GROUPINGSETS)\n"
    "  params            each parameter of the cube: type, current values, default; then the\n"
    "                    number of change notices the parameters have delivered\n"
    "  param NAME VALUE...\n"
    "                    sets parameter NAME ([Region] [Geography].[Europe]); several values\n"
    "                    only for a complex parameter, several members for a member set\n"
    "  param NAME --default, param NAME --clear\n"
    "                    gives the parameter its default value, or no value\n"
    "  begin, commit, rollback\n"
    "                    groups param lines: the view follows at commit; rollback restores the\n"
    "                    values and delivers no notice\n"
    "  .mode csv|table   how query results are printed\n"
    "  .bands on|off     in table mode, a highlighted cell shows its band after its value:\n"
    "                    1234.5[2] (off at start; csv always prints plain values)\n"
    "  .help             this text\n";

// A word of a command line and where it starts, so that names with blanks can be cut out of
// the line as the user typed them.
struct Word {
  std::string text;
  size_t begin;
};

std::vector<Word> split_words(const std::string& line) {
  std::vector<Word> words;
  size_t at = 0;
  for (;;) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return words;
    const size_t end = std::min(line.find_first_of(" \t", at), line.size());
    words.push_back({line.substr(at, end - at), at});
    at = end;
  }
}

// Digits only: no sign, blank or exponent slips through as it would with stoul.
std::optional<unsigned> parse_number(const std::string& word) {
  unsigned value = 0;
  const char* end = word.data() + word.size();
  const auto [ptr, error] = std::from_chars(word.data(), end, value);
  if (word.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

// The text from word `first` up to (not including) word `end`, as typed.
std::string text_between(const std::vector<Word>& words, const std::string& line, size_t first,
                         size_t end) {
  const size_t stop = end < words.size() ? words[end].begin : line.size();
  return trimmed(line.substr(words[first].begin, stop - words[first].begin));
}

// Reads one bracketed unique name ("[Time].[Calendar]", blanks allowed inside brackets, "]]"
// for a bracket inside a part) starting at `at` after blanks; moves `at` past it.
std::optional<std::string> read_bracketed_name(const std::string& text, size_t& at) {
  at = std::min(text.find_first_not_of(" \t", at), text.size());
  const size_t begin = at;
  for (;;) {
    if (at >= text.size() || text[at] != '[') return std::nullopt;
    for (++at;; ++at) {
      if (at >= text.size()) return std::nullopt;
      if (text[at] != ']') continue;
      if (at + 1 < text.size() && text[at + 1] == ']') {
        ++at;
        continue;
      }
      break;
    }
    ++at;
    if (at < text.size() && text[at] == '.') {
      ++at;
      continue;
    }
    return text.substr(begin, at - begin);
  }
}

// What a history line says about a command.
std::string describe(NUVA_o::Command* command) {
  if (auto* own = dynamic_cast<common::ViewpointCommand*>(command))
    return own->getDescription().string();
  if (auto* members = dynamic_cast<NUVA_o::MemberSetCommand*>(command)) {
    NUVA_o::MemberSet* set = members->getCommandMemberSet();
    NUVA_o::Hierarchy* hierarchy = set ? set->getHierarchy() : nullptr;
    return hierarchy ? "set the view members of " + hierarchy->getUniqueName().string()
                     : std::string("set view members");
  }
  return "command";
}

class Shell : public NUVA_o::Parameter::ParameterListener {
 public:
  Shell(NUVA_o::Cube* cube, std::ostream& out)
      : m_Out(out), m_pCube(cube), m_pView(createCommonViewpoint()) {
    if (!m_pView) throw ShellError{"out of memory"};
    m_pView->initialise(cube, 2, 1);
    for (const auto& parameter : cube->getParameters()) parameter->addListener(this);
  }

  ~Shell() override {
    // A transaction left open at the end of the input is given up, never left holding notices.
    if (m_bTransaction)
      for (const auto& parameter : m_pCube->getParameters()) parameter->rollbackParameterTransaction();
    for (const auto& parameter : m_pCube->getParameters()) parameter->removeListener(this);
  }

  void parameterChanged(NUVA_o::Parameter*) override { ++m_Notices; }

  void run(const std::vector<Word>& words, const std::string& line) {
    const std::string& command = words[0].text;
    const bool alone = words.size() == 1;
    if (command == "layout" && alone) return layout();
    if (command == "level") return level(words, line);
    if (command == "move") return move(words, line);
    if (command == "swap") return swap(words, line);
    if (command == "swap-axes") return swap_axes(words);
    if (command == "undo" && alone) return undo();
    if (command == "redo" && alone) return redo();
    if (command == "revert" && alone) return m_pView->revert();
    if (command == "history" && alone) return history();
    if (command == "query" && alone) return query();
    if (command == "sort") return sort(words, line);
    if (command == "filter") return filter(words, line);
    if (command == "highlight") return highlight(words, line);
    if (command == "subtotal") return subtotal(words);
    if (command == "calc") return calc(words, line);
    if (command == "clauses" && alone) return clauses();
    if (command == "remove" && words.size() == 2) return find_clause_like(words[1].text).remove();
    if (command == "disable" && words.size() == 2)
      return find_clause_like(words[1].text).setDisabled(true);
    if (command == "enable" && words.size() == 2)
      return find_clause_like(words[1].text).setDisabled(false);
    if (command == "save" && !alone) return save(text_between(words, line, 1, words.size()));
    if (command == "load" && !alone) return load(text_between(words, line, 1, words.size()));
    if (command == "xml" && alone) {
      m_Out << m_pView->toXML().string() << "\n";
      return;
    }
    if (command == "sql" && !alone) return sql(text_between(words, line, 1, words.size()));
    if (command == "sql-or" && !alone)
      return runSplitStatement(m_pView->getCube(), text_between(words, line, 1, words.size()),
                               m_Mode == "csv", m_Out);
    if (command == "sql-bind" && !alone) return sql_bind(words, line);
    if (command == "sql-file" && !alone)
      return sql(readStatementFile(text_between(words, line, 1, words.size())));
    if (command == "params" && alone) return params();
    if (command == "param") return param(words, line);
    if (command == "begin" && alone) return transaction("begin");
    if (command == "commit" && alone) return transaction("commit");
    if (command == "rollback" && alone) return transaction("rollback");
    if (command == ".mode") return mode(words);
    if (command == ".bands") return bands(words);
    if (command == ".help" && alone) {
      m_Out << kHelp;
      return;
    }
    throw ShellError{"unknown command '" + line + "' (.help lists the commands)"};
  }

 private:
  void layout() {
    const auto& axes = m_pView->getAxes();
    for (size_t i = 0; i < axes.size(); ++i) {
      m_Out << i << (axes[i]->getAxisType() == NUVA_o::Axis::AT_VIEW ? " view: " : " slice: ");
      const auto& hierarchies = axes[i]->getAxisHierarchies();
      for (size_t j = 0; j < hierarchies.size(); ++j)
        m_Out << (j ? ", " : "") << hierarchies[j]->getUniqueName().string();
      m_Out << "\n";
    }
  }

  // "level H N": H may contain blanks ("[Time].[Fiscal Year]"), N is the last word.
  void level(const std::vector<Word>& words, const std::string& line) {
    if (words.size() < 3) throw ShellError{"usage: level HIERARCHY LEVEL-NUMBER"};
    const std::string& number = words.back().text;
    const std::optional<unsigned> index = parse_number(number);
    if (!index || *index > unsigned(std::numeric_limits<int>::max()))
      throw ShellError{"level number '" + number + "' is not a number of 0 or more"};
    setViewSetToLevel(*m_pView, own_name(text_between(words, line, 1, words.size() - 1)),
                      int(*index));
  }

  // "move H AXIS [POS]": H may contain blanks; the trailing one or two words are numbers.
  void move(const std::vector<Word>& words, const std::string& line) {
    if (words.size() < 3) throw ShellError{"usage: move HIERARCHY AXIS [POSITION]"};
    size_t numbers = 0;
    while (numbers < 2 && words.size() >= numbers + 3 &&
           parse_number(words[words.size() - 1 - numbers].text))
      ++numbers;
    if (numbers == 0)
      throw ShellError{"axis '" + words.back().text + "' is not a number of 0 or more"};
    const size_t first = words.size() - numbers;
    const std::string name = own_name(text_between(words, line, 1, first));
    NUVA_o::Axis* target = axis_at(*parse_number(words[first].text));

    // A hierarchy already on the target axis moves within it, so the end is one place less.
    const auto count = unsigned(target->getAxisHierarchies().size());
    auto_unuse<NUVA_o::AxisHierarchy> already(target->getAxisHierarchy(TOVAString(name)));
    const unsigned end = already && count > 0 ? count - 1 : count;
    unsigned position = end;
    if (numbers == 2) {
      position = *parse_number(words.back().text);
      if (position > end)
        throw ShellError{"position " + std::to_string(position) + " is out of range: axis " +
                         words[first].text + " takes positions 0 to " + std::to_string(end)};
    }
    m_pView->moveAxisHierarchy(TOVAString(name), target, position);
  }

  // "swap H1 H2": both names bracketed, blanks allowed inside the brackets.
  void swap(const std::vector<Word>& words, const std::string& line) {
    const char* const usage = "usage: swap HIERARCHY1 HIERARCHY2 (bracketed unique names)";
    if (words.size() < 3) throw ShellError{usage};
    size_t at = words[1].begin;
    const std::optional<std::string> first = read_bracketed_name(line, at);
    const std::optional<std::string> second = first ? read_bracketed_name(line, at) : std::nullopt;
    if (!second || line.find_first_not_of(" \t", at) != std::string::npos) throw ShellError{usage};
    // Named here: the view's own refusal of an unknown name does not say which one it was.
    for (const std::string* name : {&*first, &*second}) {
      auto_unuse<NUVA_o::Hierarchy> hierarchy(hierarchy_of(*name));
      if (!hierarchy) throw ShellError{"the cube has no hierarchy '" + *name + "'"};
    }
    m_pView->swapAxisHierarchies(TOVAString(*first), TOVAString(*second));
  }

  // With a reference for the caller; null when the cube has no hierarchy of that name.
  NUVA_o::Hierarchy* hierarchy_of(const std::string& name) const {
    return m_pView->getCube()->getHierarchyByUniqueName(TOVAString(name));
  }

  // The axes hold hierarchies under their own unique names, whatever spelling the cube accepts;
  // a name the cube does not know stays as typed, for the view to refuse.
  std::string own_name(const std::string& name) const {
    auto_unuse<NUVA_o::Hierarchy> hierarchy(hierarchy_of(name));
    return hierarchy ? hierarchy->getUniqueName().string() : name;
  }

  void swap_axes(const std::vector<Word>& words) {
    if (words.size() != 3) throw ShellError{"usage: swap-axes AXIS1 AXIS2"};
    NUVA_o::Axis* axes[2];
    for (size_t i = 0; i < 2; ++i) {
      const std::optional<unsigned> index = parse_number(words[i + 1].text);
      if (!index) throw ShellError{"axis '" + words[i + 1].text + "' is not a number of 0 or more"};
      axes[i] = axis_at(*index);
    }
    m_pView->swapAxes(axes[0], axes[1]);
  }

  NUVA_o::Axis* axis_at(unsigned index) const {
    const auto& axes = m_pView->getAxes();
    if (index >= axes.size())
      throw ShellError{"axis " + std::to_string(index) + " does not exist: the view has axes 0 to " +
                       std::to_string(axes.size() - 1)};
    return axes[index].get();
  }

  // ---- Sorts, filters and highlights

  // One thing of the view that `clauses` lists and `remove`, `disable` and `enable` act on.
  struct ClauseLike {
    std::string name;        // kind#solve-order (kind#number for subtotals and calculations)
    std::string uniqueName;  // the library's own name
    std::string placement;   // "order N", or "axis N" for subtotals and calculations
    bool active;
    bool disabled;
    std::string details;
    std::function<void()> remove;
    std::function<void(bool)> setDisabled;
  };

  // Every sort, filter and highlight, in that order, each list in order of addition.
  std::vector<ClauseLike> clause_likes() const {
    std::vector<ClauseLike> out;
    NUVA_o::Viewpoint* view = m_pView.get();
    auto add = [&](const char* kind, auto* clause, std::string details, std::function<void()> remove) {
      out.push_back({std::string(kind) + "#" + std::to_string(clause->getSolveOrder()),
                     clause->getGuid().string(),
                     "order " + std::to_string(clause->getSolveOrder()), clause->isActive(),
                     clause->isDisabled(), std::move(details), std::move(remove),
                     [clause](bool disabled) { clause->setDisabled(disabled); }});
    };
    static const char* const directions[] = {"asc", "desc", "basc", "bdesc"};
    for (const auto& sort : view->getSorts()) {
      const int direction = sort->getDirection();
      const std::string word = direction >= 0 && direction < 4 ? directions[direction]
                                                                : std::to_string(direction);
      auto_unuse<NUVA_o::Tuple> tuple(sort->getTuple());
      NUVA_o::Sort* held = sort.get();
      add("sort", held, word + " " + tuple_text(tuple.get()), [view, held] { view->removeSort(held); });
    }
    for (const auto& filter : view->getFilters()) {
      auto_unuse<NUVA_o::Expression> expression(filter->getExpression());
      NUVA_o::Filter* held = filter.get();
      add("filter", held, expression_text(expression.get()), [view, held] { view->removeFilter(held); });
    }
    for (const auto& rule : view->getExceptionSpecifications()) {
      auto_unuse<NUVA_o::Expression> expression(rule->getExpression());
      NUVA_o::ExceptionSpecification* held = rule.get();
      add("highlight", held,
          "group " + rule->getGroup().string() + " band " + std::to_string(rule->getBanding()) + ": " +
              expression_text(expression.get()),
          [view, held] { view->removeExceptionSpecification(held); });
    }
    // Subtotals and calculations are numbered over the whole view in axis order; removing one
    // renumbers those after it.
    size_t subTotals = 0, calculations = 0;
    for (size_t a = 0; a < view->getAxes().size(); ++a) {
      NUVA_o::Axis* axis = view->getAxes()[a].get();
      for (const auto& subTotal : axis->getAxisSubTotals()) {
        NUVA_o::SubTotal* held = subTotal.get();
        out.push_back({"subtotal#" + std::to_string(++subTotals), held->getUniqueName().string(),
                       "axis " + std::to_string(a), !held->isDisabled(), held->isDisabled(),
                       word_of(kOperations, held->getOperation()) + " " +
                           word_of(kSubTotalTypes, held->getType()) + " " +
                           word_of(kPositions, held->getPosition()),
                       [view, axis, held] { common::removeAxisSubTotal(*view, *axis, *held); },
                       [held](bool disabled) { held->setDisabled(disabled); }});
      }
      for (const auto& calculation : axis->getDynamicCalculations()) {
        NUVA_o::DynamicCalculation* held = calculation.get();
        auto_unuse<NUVA_o::Tuple> tuple(held->getTuple());
        out.push_back({"calc#" + std::to_string(++calculations), held->getUniqueName().string(),
                       "axis " + std::to_string(a), held->isActive(), held->isDisabled(),
                       word_of(kCalculationTypes, held->getType()) + " " + tuple_text(tuple.get()),
                       [view, axis, held] { common::removeDynamicCalculation(*view, *axis, *held); },
                       [held](bool disabled) { held->setDisabled(disabled); }});
      }
    }
    return out;
  }

  // The words of the subtotal and calculation commands, in the order of the library's numbers.
  static constexpr const char* kOperations[] = {"sum", "average", "min", "max", "count"};
  static constexpr const char* kSubTotalTypes[] = {"total", "parent"};
  static constexpr const char* kPositions[] = {"before", "after"};
  static constexpr const char* kCalculationTypes[] = {"percent-total", "percent-parent", "rank",
                                                      "running-sum", "difference", "ratio"};

  template <size_t N>
  static std::string word_of(const char* const (&words)[N], int value) {
    return value >= 0 && size_t(value) < N ? words[value] : std::to_string(value);
  }

  // The library's number of `word`; a ShellError listing the choices when it is none of them.
  template <size_t N>
  static int number_of(const char* const (&words)[N], const std::string& word, const char* what) {
    for (size_t i = 0; i < N; ++i)
      if (word == words[i]) return int(i);
    std::string choices;
    for (size_t i = 0; i < N; ++i) choices += (i ? "|" : "") + std::string(words[i]);
    throw ShellError{"unknown " + std::string(what) + " '" + word + "' (" + choices + ")"};
  }

  // "subtotal AXIS OPERATION TYPE POSITION"
  void subtotal(const std::vector<Word>& words) {
    if (words.size() != 5)
      throw ShellError{"usage: subtotal AXIS sum|average|min|max|count total|parent before|after"};
    const std::optional<unsigned> index = parse_number(words[1].text);
    if (!index) throw ShellError{"axis '" + words[1].text + "' is not a number of 0 or more"};
    NUVA_o::Axis* axis = axis_at(*index);
    const int operation = number_of(kOperations, words[2].text, "operation");
    const int type = number_of(kSubTotalTypes, words[3].text, "subtotal type");
    const int position = number_of(kPositions, words[4].text, "position");
    auto_unuse<NUVA_o::SubTotal> added(common::addAxisSubTotal(
        *m_pView, *axis, NUVA_o::SubTotal::SubTotalPosition(position),
        NUVA_o::SubTotal::SubTotalType(type), NUVA_o::SubTotal::SubTotalOperation(operation)));
  }

  // "calc AXIS TYPE TUPLE": the tuple may contain blanks.
  void calc(const std::vector<Word>& words, const std::string& line) {
    if (words.size() < 4) throw ShellError{"usage: calc AXIS TYPE TUPLE"};
    const std::optional<unsigned> index = parse_number(words[1].text);
    if (!index) throw ShellError{"axis '" + words[1].text + "' is not a number of 0 or more"};
    NUVA_o::Axis* axis = axis_at(*index);
    const int type = number_of(kCalculationTypes, words[2].text, "calculation type");
    auto_unuse<NUVA_o::Tuple> tuple(parse_tuple(text_between(words, line, 3, words.size())));
    auto_unuse<NUVA_o::DynamicCalculation> added(common::addDynamicCalculation(
        *m_pView, *axis, *tuple, NUVA_o::DynamicCalculationType(type)));
  }

  ClauseLike find_clause_like(const std::string& name) const {
    for (ClauseLike& entry : clause_likes())
      if (entry.name == name || entry.uniqueName == name) return entry;
    throw ShellError{"the view has no sort, filter, highlight, subtotal or calculation '" + name +
                     "' (clauses lists them)"};
  }

  void clauses() {
    for (const ClauseLike& entry : clause_likes())
      m_Out << entry.name << ' ' << entry.uniqueName << ' ' << entry.placement << ' '
            << (entry.disabled ? "disabled" : entry.active ? "active" : "inactive") << ": "
            << entry.details << "\n";
  }

  static std::string tuple_text(const NUVA_o::Tuple* tuple) {
    if (!tuple) return "(the whole view)";
    std::string out = "(";
    for (const TOVAString& name : tuple->getMemberUniqueNames())
      out += (out.size() > 1 ? ", " : "") + name.string();
    return out + ")";
  }

  static std::string expression_text(NUVA_o::Expression* expression) {
    if (!expression) return std::string();
    std::string text = expression->getTextFromTree().string();
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : trimmed(text.substr(first));
  }

  // A new expression over the view's cube parsed from `text`, with a reference for the caller.
  NUVA_o::Expression* parse_expression(const std::string& text) const {
    auto_unuse<NUVA_o::Expression> expression(createCommonExpression(m_pView->getCube()));
    if (!expression) throw ShellError{"out of memory"};
    if (!expression->setTextAndCreateTree(TOVAString(text))) throw ShellError{"the expression is empty"};
    return expression.release();
  }

  // A member object on the member of that unique name, with a reference for the caller. The
  // hierarchy is the longest leading part of the name that the cube knows.
  NUVA_o::Member* member_of(const std::string& name) const {
    for (size_t end = name.rfind("].["); end != std::string::npos;
         end = end ? name.rfind("].[", end - 1) : std::string::npos) {
      auto_unuse<NUVA_o::Hierarchy> hierarchy(hierarchy_of(name.substr(0, end + 1)));
      if (!hierarchy) continue;
      auto_unuse<NUVA_o::Member> member(hierarchy->getDefaultMember());
      if (!member) break;
      member->moveTo(TOVAString(name));
      if (member->getMemberType() == NUVA_o::Member::MT_UNRESOLVED) break;
      return member.release();
    }
    throw ShellError{"the cube has no member '" + name + "'"};
  }

  // "(m1, m2, ...)" or one member, as the expression language reads them; a reference for the
  // caller.
  NUVA_o::Tuple* parse_tuple(const std::string& text) const {
    const size_t first = text.find_first_not_of(" \t");
    // The language spells a bare parenthesised list of members with its Tuple keyword.
    const bool list = first != std::string::npos && text[first] == '(';
    auto_unuse<NUVA_o::Expression> expression(parse_expression(list ? "Tuple" + text : text));
    NUVA_o::Expression* node = expression.get();
    while (node && node->getType() == NUVA_o::Expression::ET_VALUE && node->getExpressions().size() == 1)
      node = node->getExpressions()[0];
    std::vector<NUVA_o::Expression*> members;
    if (node && node->getType() == NUVA_o::Expression::ET_TUPLE)
      members = node->getExpressions();
    else if (node)
      members.push_back(node);
    auto_unuse<NUVA_o::Tuple> tuple(createCommonTuple());
    for (NUVA_o::Expression* member : members) {
      if (member->getType() != NUVA_o::Expression::ET_MEMBER_NAME)
        throw ShellError{"a tuple is a member or a list of members in parentheses: '" + text + "'"};
      auto_unuse<NUVA_o::Member> resolved(member_of(member->getStringValue().string()));
      auto_unuse<NUVA_o::Member> before(tuple->getMember(resolved->getHierarchy()->getUniqueName()));
      if (before) throw ShellError{"the tuple names two members of " + resolved->getHierarchy()->getUniqueName().string()};
      tuple->addMember(resolved.get());
    }
    return tuple.release();
  }

  // "sort TUPLE DIRECTION": the tuple may contain blanks; the direction is the last word.
  void sort(const std::vector<Word>& words, const std::string& line) {
    const char* const usage = "usage: sort TUPLE asc|desc|basc|bdesc";
    if (words.size() < 3) throw ShellError{usage};
    static const char* const directions[] = {"asc", "desc", "basc", "bdesc"};
    const auto direction = std::find(std::begin(directions), std::end(directions), words.back().text);
    if (direction == std::end(directions)) throw ShellError{usage};
    auto_unuse<NUVA_o::Tuple> tuple(parse_tuple(text_between(words, line, 1, words.size() - 1)));
    auto_unuse<NUVA_o::Sort> added(m_pView->addSort(
        tuple.get(), NUVA_o::Sort::Direction(direction - std::begin(directions)), false));
  }

  // The filter stands on the hierarchies of the row axis (the column axis in a view with one
  // view axis), each at its default member, so that it is in force while they stay there.
  void filter(const std::vector<Word>& words, const std::string& line) {
    if (words.size() < 2) throw ShellError{"usage: filter EXPRESSION"};
    auto_unuse<NUVA_o::Expression> expression(parse_expression(text_between(words, line, 1, words.size())));
    const unsigned rows = m_pView->countViewAxes() > 1 ? 1 : 0;
    auto_unuse<NUVA_o::Tuple> tuple(createCommonTuple());
    for (const auto& placed : m_pView->getAxes()[rows]->getAxisHierarchies()) {
      auto_unuse<NUVA_o::Member> member(placed->getHierarchy()->getDefaultMember());
      tuple->addMember(member.get());
    }
    if (tuple->getMembers().empty())
      throw ShellError{"the row axis holds no hierarchy for the filter to stand on"};
    auto_unuse<NUVA_o::Filter> added(m_pView->addFilter(tuple.get(), expression.get()));
  }

  // "highlight EXPR GROUP BAND": the rule applies to the whole view.
  void highlight(const std::vector<Word>& words, const std::string& line) {
    if (words.size() < 4) throw ShellError{"usage: highlight EXPRESSION GROUP BAND"};
    const std::string& band = words.back().text;
    const std::optional<unsigned> number = parse_number(band);
    if (!number || *number > unsigned(std::numeric_limits<int>::max()))
      throw ShellError{"band '" + band + "' is not a number of 0 or more"};
    auto_unuse<NUVA_o::Expression> expression(
        parse_expression(text_between(words, line, 1, words.size() - 2)));
    auto_unuse<NUVA_o::ExceptionSpecification> added(m_pView->addExceptionSpecification(
        nullptr, expression.get(), int(*number)));
    added->setGroup(TOVAString(words[words.size() - 2].text));
  }

  common::ViewpointCommandManager& commands() const {
    common::ViewpointCommandManager* manager = common::getViewpointCommandManager(m_pView.get());
    if (!manager) throw ShellError{"the view keeps no command history"};
    return *manager;
  }

  void undo() {
    if (!commands().undo()) throw ShellError{"nothing to undo"};
  }

  void redo() {
    if (!commands().redo()) throw ShellError{"nothing to redo"};
  }

  void history() {
    const common::ViewpointCommandManager& manager = commands();
    auto print = [&](const char* kind, const std::vector<common::CommandManagerCommon::Entry>& entries) {
      for (size_t i = 0; i < entries.size(); ++i)
        m_Out << kind << ' ' << i + 1 << ": " << describe(entries[i].command.get())
              << (entries[i].marked ? " (queried)" : "") << "\n";
    };
    print("undo", manager.getUndoHistory());
    print("redo", manager.getRedoHistory());
  }

  void query() {
    auto_unuse<NUVA_o::ViewResultSet> result(m_pView->query());
    if (!result) throw ShellError{"the query returned no result"};
    const ResultGrid grid = readResultGrid(result.get());
    if (m_Mode == "csv")
      printCsv(grid, m_Out);
    else
      printTable(grid, m_Out, m_bBands);
  }

  // ---- Saving and loading

  // Written to a temporary file beside the target and renamed over it, so that a failed write
  // leaves the former file, never a half-written one.
  void save(const std::string& path) {
    const std::string text = m_pView->toXML().string() + "\n";
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw ShellError{"cannot write '" + path + "': " + std::strerror(errno)};
    const char* failed = nullptr;
    int error = 0;
    // mkstemp makes the file private; a saved view gets the permissions of any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) failed = "write", error = errno;
    for (size_t done = 0; done < text.size() && !failed;) {
      const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
      if (written > 0) {
        done += size_t(written);
      } else if (written < 0 && errno == EINTR) {
        continue;
      } else {
        failed = "write";
        error = written < 0 ? errno : ENOSPC;
      }
    }
    if (!failed && ::fsync(fd) != 0) failed = "write", error = errno;
    if (::close(fd) != 0 && !failed) failed = "write", error = errno;
    if (!failed && ::rename(temporary.c_str(), path.c_str()) != 0) failed = "rename", error = errno;
    if (failed) {
      ::unlink(temporary.c_str());
      throw ShellError{"cannot " + std::string(failed) + " '" + path + "': " + std::strerror(error)};
    }
  }

  void load(const std::string& path) {
    std::string bytes;
    TOVAString problem = memory::readInputFile(path, kMaxCubeViewBytes, "a cube view", bytes);
    if (problem.empty()) problem = memory::utf16Problem(bytes);
    if (!problem.empty()) throw ShellError{"cannot load '" + path + "': " + problem.string()};
    auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
    if (!view) throw ShellError{"out of memory"};
    // On failure the shell goes on with its former view.
    view->initialise(m_pCube, TOVAString(bytes));
    m_pView = std::move(view);
    for (const TOVAString& repair : m_pView->getRepairDetails())
      m_Out << "repair: " << repair.string() << "\n";
  }

  void sql(const std::string& statement) {
    runStatement(m_pView->getCube(), statement, m_Mode == "csv", m_Out);
  }

  // "sql-bind [TYPES] STATEMENT": TYPES, when given, is one word such as i4,r8,bstr.
  void sql_bind(const std::vector<Word>& words, const std::string& line) {
    const bool typed = words.size() > 2 && words[1].text != "SELECT" && words[1].text != "select";
    runBoundStatement(m_pView->getCube(), typed ? words[1].text : std::string(),
                      text_between(words, line, typed ? 2 : 1, words.size()), m_Out);
  }

  // ---- Parameters

  static std::string values_text(const std::vector<auto_unuse<NUVA_o::ParameterValue>>& values) {
    std::string text;
    for (const auto& value : values) {
      const std::string one = common::parameterValueText(*value).string();
      if (one.empty()) continue;
      text += (text.empty() ? "" : ", ") + one;
    }
    return text.empty() ? "(none)" : text;
  }

  void params() {
    for (const auto& parameter : m_pCube->getParameters())
      m_Out << parameter->getUniqueName().string() << " type " << parameter->getType() << ": "
            << values_text(parameter->getParameterValues()) << "; default "
            << values_text(parameter->getParameterDefaultValues()) << "\n";
    m_Out << "change notices: " << m_Notices << (m_bTransaction ? " (transaction open)" : "") << "\n";
  }

  auto_unuse<NUVA_o::Parameter> find_parameter(const std::string& name) {
    auto_unuse<NUVA_o::Parameter> parameter(m_pCube->getParameterByName(TOVAString(name)));
    if (!parameter)
      support::raise<InvalidArgumentExceptionImpl>(common::moduleName(), support::COMMON_E_UNKNOWN_PARAMETER,
                                                   TOVAString(name));
    return parameter;
  }

  // "param NAME VALUE...": unique names may hold blanks inside their brackets; other values
  // are single words.
  void param(const std::vector<Word>& words, const std::string& line) {
    if (words.size() < 3) throw ShellError{"usage: param NAME VALUE... | --default | --clear"};
    size_t at = words[1].begin;
    const std::optional<std::string> name = read_bracketed_name(line, at);
    const std::string parameterName = name ? *name : words[1].text;
    if (!name) at = words[1].begin + words[1].text.size();
    auto_unuse<NUVA_o::Parameter> parameter = find_parameter(parameterName);
    std::vector<std::string> texts;
    for (;;) {
      at = line.find_first_not_of(" \t", at);
      if (at == std::string::npos) break;
      size_t end = at;
      if (std::optional<std::string> unique = read_bracketed_name(line, end)) {
        texts.push_back(*unique);
      } else {
        end = std::min(line.find_first_of(" \t", at), line.size());
        texts.push_back(line.substr(at, end - at));
      }
      at = end;
    }
    const bool reset = texts.size() == 1 && (texts[0] == "--default" || texts[0] == "--clear");
    // Outside begin/commit each line is a transaction of its own; a failed one is rolled back.
    const bool own = !m_bTransaction;
    if (own) parameter->beginParameterTransaction();
    try {
      if (reset)
        reset_parameter(*parameter, texts[0] == "--default");
      else
        set_parameter(*parameter, texts);
    } catch (...) {
      if (own) parameter->rollbackParameterTransaction();
      throw;
    }
    if (own) parameter->commitParameterTransaction();
  }

  // Every value is checked before the parameter changes, so that a refused line leaves it as
  // it was also inside begin/commit.
  void set_parameter(NUVA_o::Parameter& parameter, const std::vector<std::string>& texts) {
    const auto type = parameter.getType();
    const bool set = type == NUVA_o::Parameter::PT_MEMBERSET || type == NUVA_o::Parameter::PT_MEMBERSET_DERIVED;
    if (texts.size() > 1 && !set && type != NUVA_o::Parameter::PT_COMPLEX)
      support::raise<UnsupportedOperationExceptionImpl>(common::moduleName(), support::COMMON_E_PARAMETER_SINGLE_VALUE,
                                                        parameter.getUniqueName());
    std::vector<double> numbers;
    std::vector<TOVAString> strings;
    auto_unuse<NUVA_o::MemberSet> members;
    if (set) {
      NUVA_o::Hierarchy* hierarchy = parameter.getHierarchy();
      if (!hierarchy) throw ShellError{"parameter " + parameter.getUniqueName().string() + " has no hierarchy"};
      members.reset(hierarchy->createMemberSet(NUVA_o::CS_CREATEEMPTY));
      auto_unuse<NUVA_o::MemberSetCommand> command(members->createCommand());
      for (const std::string& text : texts) command->addMember(TOVAString(text));
      command->execute();
      parameter.validateMemberSetValue(members.get());
    } else {
      for (const std::string& text : texts) {
        if (type == NUVA_o::Parameter::PT_NUMERIC) {
          double number = 0;
          if (!StringConverters::convertStringToReal(TOVAString(text), number))
            throw ShellError{"'" + text + "' is not a number"};
          parameter.validateNumericValue(number);
          numbers.push_back(number);
        } else {
          strings.push_back(parameter.validateStringValue(TOVAString(text)));
        }
      }
    }
    parameter.clearParameterValues();
    if (members) {
      auto_unuse<NUVA_o::ParameterValue> value(parameter.createParameterValue(true));
      value->setMemberSetValue(members.get(), false);
    }
    for (double number : numbers) {
      auto_unuse<NUVA_o::ParameterValue> value(parameter.createParameterValue(true));
      value->setNumericValue(number, false);
    }
    for (const TOVAString& text : strings) {
      auto_unuse<NUVA_o::ParameterValue> value(parameter.createParameterValue(true));
      value->setStringValue(text, false);
    }
  }

  void reset_parameter(NUVA_o::Parameter& parameter, bool toDefault) {
    parameter.clearParameterValues();
    if (!toDefault) return;
    for (const auto& source : parameter.getParameterDefaultValues()) {
      auto_unuse<NUVA_o::ParameterValue> value(parameter.createParameterValue(true));
      switch (source->getValueType()) {
        case NUVA_o::ParameterValue::PV_NUMBER:
          value->setNumericValue(source->getNumericValue(), false);
          break;
        case NUVA_o::ParameterValue::PV_MEMBERSET: {
          auto_unuse<NUVA_o::MemberSet> members(source->getMemberSetValue());
          value->setMemberSetValue(members.get(), false);
          break;
        }
        default:
          value->setStringValue(source->getStringValue(), false);
      }
    }
  }

  void transaction(const std::string& step) {
    if (step == "begin") {
      if (m_bTransaction) throw ShellError{"a transaction is already open"};
      for (const auto& parameter : m_pCube->getParameters()) parameter->beginParameterTransaction();
      m_bTransaction = true;
      return;
    }
    if (!m_bTransaction) throw ShellError{"no transaction is open"};
    m_bTransaction = false;
    for (const auto& parameter : m_pCube->getParameters()) {
      if (step == "commit")
        parameter->commitParameterTransaction();
      else
        parameter->rollbackParameterTransaction();
    }
  }

  void mode(const std::vector<Word>& words) {
    if (words.size() != 2 || (words[1].text != "csv" && words[1].text != "table"))
      throw ShellError{"usage: .mode csv|table"};
    m_Mode = words[1].text;
  }

  void bands(const std::vector<Word>& words) {
    if (words.size() != 2 || (words[1].text != "on" && words[1].text != "off"))
      throw ShellError{"usage: .bands on|off"};
    m_bBands = words[1].text == "on";
  }

  std::ostream& m_Out;
  NUVA_o::Cube* m_pCube;  // borrowed: the caller of runShell holds it
  auto_unuse<NUVA_o::Viewpoint> m_pView;
  std::string m_Mode = "table";
  bool m_bBands = false;
  bool m_bTransaction = false;
  unsigned m_Notices = 0;
};

std::string api_error_line(const olap_api::ApiException& e) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.getCode()));
  return std::string("error ") + code + ": " + e.getMessage().string();
}

}  // namespace

void setViewSetToLevel(NUVA_o::Viewpoint& view, const std::string& name, int index) {
  auto_unuse<NUVA_o::AxisHierarchy> axisHierarchy;
  for (const auto& axis : view.getAxes()) {
    axisHierarchy.reset(axis->getAxisHierarchy(TOVAString(name)));
    if (axisHierarchy) break;
  }
  if (!axisHierarchy) throw ShellError{"no axis holds hierarchy '" + name + "'"};
  NUVA_o::Level* level = axisHierarchy->getHierarchy()->getLevel(index);
  if (!level) throw ShellError{"hierarchy '" + name + "' has no level " + std::to_string(index)};
  // The change runs as a command of the member set, so the axis hierarchy and its axis hear of
  // it as of any other edit.
  auto_unuse<NUVA_o::MemberSet> members(level->createMemberSet(NUVA_o::CS_CREATEALL));
  auto_unuse<NUVA_o::MemberSet> viewSet(axisHierarchy->getViewMemberSet());
  auto_unuse<NUVA_o::MemberSetCommand> command(viewSet->createCommand());
  command->makeEmpty();
  command->addMemberSet(members.get());
  command->execute();
}

int runShell(NUVA_o::Cube* cube, std::istream& in, std::ostream& out, std::ostream& err,
             const ShellOptions& options) {
  auto report = [&](const std::string& line) {
    out.flush();
    err << line << "\n";
  };
  std::unique_ptr<Shell> shell;
  try {
    shell = std::make_unique<Shell>(cube, out);
  } catch (const olap_api::ApiException& e) {
    report(api_error_line(e));
    return 2;
  } catch (const ShellError& e) {
    report("error: " + e.text);
    return 2;
  }
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<Word> words = split_words(line);
    if (words.empty() || words[0].text[0] == '#') continue;
    bool failed = true;
    try {
      shell->run(words, line);
      failed = false;
    } catch (const olap_api::ApiException& e) {
      report(api_error_line(e));
    } catch (const ShellError& e) {
      report("error: " + e.text);
    } catch (const std::exception& e) {
      report(std::string("error: ") + e.what());
    }
    if (failed && options.bail) return 2;
  }
  out.flush();
  return 0;
}

}  // namespace vtq
