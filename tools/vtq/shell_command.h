#pragma once

#include <iosfwd>

#include <string>

namespace NUVA_o {
class Cube;
class Viewpoint;
}  // namespace NUVA_o

namespace vtq {

// A failure of the shell itself (not of the library): printed as "error: <text>".
struct ShellError {
  std::string text;
};

// Makes the view member set of the axis hierarchy `name` all members of level `index`, through
// a command of that member set. Throws ShellError when no axis holds the hierarchy or the level
// does not exist, and the library's exceptions.
void setViewSetToLevel(NUVA_o::Viewpoint& view, const std::string& name, int index);

struct ShellOptions {
  // Stop at the first failing command with status 2.
  bool bail = false;
};

// Runs the shell's commands, one per line of `in`, over one cube view of `cube` with two view
// axes and one slice axis. Results go to `out`, error lines to `err`. Returns the exit status:
// 0, or 2 when --bail stopped at a failing command.
int runShell(NUVA_o::Cube* cube, std::istream& in, std::ostream& out, std::ostream& err,
             const ShellOptions& options);

}  // namespace vtq
