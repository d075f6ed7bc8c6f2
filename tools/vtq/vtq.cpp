// vtq: the command-line face of the library. Exit status: 0 success, 1 usage error, 2 a
// failure of the library ("error 0xXXXXXXXX: <message>" on stderr).

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>
#include <unistd.h>

#include "NUVA_o/Cube.h"
#include "cube_command.h"
#include "expr_command.h"
#include "olap_api/Exceptions.h"
#include "provider/clickhouse/ClickHouse.h"
#include "provider/memory/MemoryCube.h"
#include "shell_command.h"
#include "sql_command.h"
#include "support/CoreLog.h"
#include "support/RefCountImpl.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsageError = 1;
constexpr int kLibraryError = 2;

// The bundled sample cube: installed beside the tool (<prefix>/share/vtq/...) or, in a build
// tree, in the source tree the tool was built from.
std::string default_cube_path() {
  const fs::path relative = fs::path("examples") / "sales" / "sales.cube.xml";
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path installed = exe.parent_path().parent_path() / "share" / "vtq" / relative;
    if (fs::exists(installed, error)) return installed.string();
  }
  return (fs::path(VTQ_SOURCE_DIR) / relative).string();
}

// Standard output through a buffer of our own, so that the reason a write failed (a full
// disk, a closed descriptor) is kept for the error line: the stream itself only learns that it
// failed.
class OutputBuffer : public std::streambuf {
 public:
  OutputBuffer() { setp(m_Buffer, m_Buffer + sizeof m_Buffer); }
  int error() const { return m_Error; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const char* at = pbase();
    while (at < pptr() && m_Error == 0) {
      const ssize_t n = ::write(STDOUT_FILENO, at, static_cast<size_t>(pptr() - at));
      if (n > 0) at += n;
      else if (n == 0) m_Error = EIO;  // no progress: never spin
      else if (errno != EINTR) m_Error = errno;
    }
    setp(m_Buffer, m_Buffer + sizeof m_Buffer);
    return m_Error == 0;
  }

  char m_Buffer[8192];
  int m_Error = 0;
};

// Flushes standard output and says whether everything written reached it; if not, says why on
// stderr. Output that is lost must not pass for success.
bool output_written(const OutputBuffer& buffer) {
  std::cout.flush();
  if (std::cout && buffer.error() == 0) return true;
  std::fprintf(stderr, "error: cannot write output: %s\n",
               buffer.error() != 0 ? std::strerror(buffer.error()) : "the output stream failed");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  clickhouse::registerProvider();
  OutputBuffer output;
  std::streambuf* const standardOutput = std::cout.rdbuf(&output);
  // std::cout outlives main: it gets its own buffer back before `output` goes.
  struct Restore {
    std::streambuf* buffer;
    ~Restore() {
      std::cout.flush();
      std::cout.rdbuf(buffer);
    }
  } restore{standardOutput};
  CLI::App app{"vtq: explore cubes with the vtq_common library"};
  app.set_help_all_flag("--help-all", "Show the help of every command");
  app.require_subcommand(1);

  std::string cubePath;
  // Failures reach the user as the error line; the log adds to it only when asked.
  int verbosity = 1;
  // A missing or unreadable file is the loader's to report (status 2, naming the problem).
  app.add_option("--cube", cubePath, "Cube definition file (default: the bundled sample cube)");
  app.add_option("-v,--verbosity", verbosity, "Log verbosity on stderr (1 errors, 3 warnings, 6 detail)")
      ->capture_default_str()
      ->check(CLI::Range(0, 9));
  // 0 leaves the cube's default, one scan thread per core.
  unsigned threads = 0;
  app.add_option("--threads", threads,
                 "Threads that scan the facts of one query (default: one per core)")
      ->check(CLI::Range(1, 256));
  app.fallthrough();

  CLI::App* cubeCommand = app.add_subcommand("cube", "List the cube's hierarchies: dimension, hierarchy, "
                                                     "levels, members (tab-separated)");

  ExprCommand exprCommand;
  exprCommand.add_to(app);

  CLI::App* sqlCommand = app.add_subcommand(
      "sql", "Run a flat request (SELECT fields FROM hierarchies [WHERE conditions], or an XML query document) and print its rows");
  std::string sqlText, sqlFile, sqlMode = "table";
  sqlCommand->add_option("STATEMENT", sqlText, "The statement");
  sqlCommand->add_option("--file", sqlFile, "Read the statement or XML query document from this file")->excludes("STATEMENT");
  sqlCommand->add_option("--mode", sqlMode, "How the rows are printed")
      ->capture_default_str()
      ->check(CLI::IsMember({"csv", "table"}));

  CLI::App* shellCommand = app.add_subcommand(
      "shell", "A command shell over one cube view; reads commands from standard input (.help lists them)");
  vtq::ShellOptions shellOptions;
  bool multipleHierarchies = false;
  shellCommand->add_flag("--bail", shellOptions.bail, "Stop at the first failing command with status 2");
  shellCommand->add_flag("--multiple-hierarchies", multipleHierarchies,
                         "Let several hierarchies of one dimension take part in the view (without it "
                         "the shell's cube answers as one that does not support that)");

  // Every command takes the global options; its own help says so.
  for (CLI::App* command : app.get_subcommands({}))
    command->footer(
        "Options of every command, given before or after its name:\n"
        "  --cube FILE                 Cube definition file (default: the bundled sample cube)\n"
        "  -v,--verbosity N            Log verbosity on stderr (1 errors, 3 warnings, 6 detail)\n"
        "  --threads N                 Threads that scan the facts of one query (default: one per "
        "core)");

  std::vector<std::string> arguments(argv, argv + argc);
  ExprCommand::separate_expression_text(arguments);
  std::vector<char*> pointers;
  for (std::string& a : arguments) pointers.push_back(a.data());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : kUsageError;
  }

  support_dll::CoreLog::getLogObject()->setVerbosity(verbosity);
  if (cubePath.empty()) cubePath = default_cube_path();

  try {
    if (exprCommand.selected() && exprCommand.noCube) {
      exprCommand.run(nullptr, std::cout);
    } else {
      auto_unuse<memory::MemoryCube> cube(memory::loadCube(cubePath));
      if (threads > 0) cube->setScanThreads(threads);
      if (*cubeCommand) vtq::printCube(cube.get(), std::cout);
      if (exprCommand.selected()) exprCommand.run(cube.get(), std::cout);
      if (*sqlCommand) {
        if (sqlText.empty() && sqlFile.empty()) {
          std::fprintf(stderr, "vtq sql: give a STATEMENT or --file FILE\n");
          return kUsageError;
        }
        vtq::runStatement(cube.get(), sqlFile.empty() ? sqlText : vtq::readStatementFile(sqlFile),
                          sqlMode == "csv", std::cout);
      }
      if (*shellCommand) {
        cube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, multipleHierarchies);
        const int status = vtq::runShell(cube.get(), std::cin, std::cout, std::cerr, shellOptions);
        return output_written(output) ? status : kLibraryError;
      }
    }
  } catch (const olap_api::ApiException& e) {
    std::cout.flush();
    std::fprintf(stderr, "error 0x%08X: %s\n", e.getCode(), e.getMessage().string().c_str());
    return kLibraryError;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::fprintf(stderr, "error: %s\n", e.what());
    return kLibraryError;
  }
  return output_written(output) ? 0 : kLibraryError;
}
