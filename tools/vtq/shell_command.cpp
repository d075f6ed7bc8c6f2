#include "shell_command.h"

#include <cstdio>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Viewpoint.h"
#include "common/ViewpointFactory.h"
#include "support/Exceptions.h"

namespace vtq {

namespace {

const char* const kHelp =
    "Commands (one per line; blank lines and lines starting with # are ignored):\n"
    "  layout          one line per axis: index, view or slice, and its hierarchies\n"
    "  level H N       the view member set of hierarchy H becomes all members of level N\n"
    "  .mode csv|table how query results are printed\n"
    "  .help           this text\n";

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

class Shell {
 public:
  Shell(NUVA_o::Cube* cube, std::ostream& out) : m_Out(out), m_pView(createCommonViewpoint()) {
    if (!m_pView) throw ShellError{"out of memory"};
    m_pView->initialise(cube, 2, 1);
  }

  void run(const std::vector<std::string>& words, const std::string& line) {
    const std::string& command = words[0];
    if (command == "layout" && words.size() == 1) return layout();
    if (command == "level") return level(words, line);
    if (command == ".mode") return mode(words);
    if (command == ".help" && words.size() == 1) {
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
  void level(const std::vector<std::string>& words, const std::string& line) {
    if (words.size() < 3) throw ShellError{"usage: level HIERARCHY LEVEL-NUMBER"};
    const std::string& number = words.back();
    size_t used = 0;
    int index = -1;
    try {
      index = std::stoi(number, &used);
    } catch (...) {
      used = 0;
    }
    if (used != number.size() || index < 0)
      throw ShellError{"level number '" + number + "' is not a number of 0 or more"};
    const size_t begin = line.find(words[1]);
    const size_t end = line.rfind(number);
    std::string name = line.substr(begin, end - begin);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();

    setViewSetToLevel(*m_pView, name, index);
  }

  void mode(const std::vector<std::string>& words) {
    if (words.size() != 2 || (words[1] != "csv" && words[1] != "table"))
      throw ShellError{"usage: .mode csv|table"};
    m_Mode = words[1];
  }

  std::ostream& m_Out;
  auto_unuse<NUVA_o::Viewpoint> m_pView;
  std::string m_Mode = "table";
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
    const std::vector<std::string> words = split_words(line);
    if (words.empty() || words[0][0] == '#') continue;
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
