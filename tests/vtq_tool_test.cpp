// The vtq tool as a user runs it: output, exit status, error line, reference-count trace.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "VtqTest.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs build/bin/vtq (beside this test program) with `arguments`.
ToolRun vtq(const std::string& arguments) {
  const fs::path exe = fs::read_symlink("/proc/self/exe").parent_path() / "vtq";
  // Test cases run as parallel processes: each needs its own file.
  const fs::path err = fs::path(::testing::TempDir()) / ("vtq_tool_test." + std::to_string(getpid()) + ".err");
  const std::string command = "'" + exe.string() + "' " + arguments + " 2>'" + err.string() + "'";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  fs::remove(err);
  return run;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The first line of `vtq expr` output without its "text: " prefix.
std::string printed_text(const ToolRun& run) {
  if (run.out.rfind("text: ", 0) != 0) return "";
  return run.out.substr(6, run.out.find('\n') - 6);
}

class VtqToolTest : public vtq_testing::VtqTest {};

TEST_F(VtqToolTest, CubeListsTheHierarchiesOfTheSampleCube) {
  const ToolRun run = vtq("cube");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("[Time]\t[Time].[Calendar]\t4\t52\n"
            "[Time]\t[Time].[Fiscal]\t4\t53\n"
            "[Product]\t[Product]\t4\t43\n"
            "[Geography]\t[Geography]\t4\t27\n"
            "[Measures]\t[Measures]\t1\t5\n",
            run.out);
  EXPECT_EQ("", run.err);

  const ToolRun other = vtq("--cube '" + vtq_testing::sourceDir() + "/tests/fixtures/memory/shop.cube.xml' cube");
  EXPECT_EQ(0, other.status) << other.err;
  EXPECT_EQ("[Time]\t[Time].[Calendar]\t3\t7\n[Time]\t[Time].[Season]\t2\t5\n[Store]\t[Store]\t3\t6\n"
            "[Measures]\t[Measures]\t1\t4\n",
            other.out);
}

TEST_F(VtqToolTest, UsageErrorsAndLibraryFailuresHaveTheirOwnStatus) {
  EXPECT_EQ(1, vtq("").status);
  EXPECT_EQ(1, vtq("nosuchcommand").status);
  EXPECT_EQ(1, vtq("cube -v banana").status);
  // A cube file that cannot be read is the loader's failure, not a usage error.
  const ToolRun missing = vtq("cube --cube /nonexistent/cube.xml");
  EXPECT_EQ(2, missing.status);
  EXPECT_EQ("error 0xC2031001: Cannot read the cube definition '/nonexistent/cube.xml': cannot open the file "
            "(No such file or directory).\n",
            missing.err);
  EXPECT_EQ(2, vtq("cube --cube /tmp").status);
  EXPECT_EQ(0, vtq("--help").status);

  const fs::path broken = fs::path(::testing::TempDir()) / ("vtq_tool_test." + std::to_string(getpid()) + ".cube.xml");
  std::ofstream(broken) << "<Cube name=\"x\">\n  <Dimension name=\"D\"/>\n</Cube>\n";
  const ToolRun run = vtq("cube --cube '" + broken.string() + "'");
  EXPECT_EQ(2, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("error 0xC2031003: " + broken.string() + ", line 2: element 'Dimension' needs the attribute 'table'\n",
            run.err);
  fs::remove(broken);
}

TEST_F(VtqToolTest, TheTraceShowsEveryCreatedObjectDestroyed) {
  const ToolRun run = vtq("-v 6 cube");
  ASSERT_EQ(0, run.status);
  size_t created = 0, destroyed = 0;
  for (size_t at = 0; (at = run.err.find("): Created", at)) != std::string::npos; ++at) ++created;
  for (size_t at = 0; (at = run.err.find("): Destroyed", at)) != std::string::npos; ++at) ++destroyed;
  EXPECT_GT(created, 0u) << run.err;
  EXPECT_EQ(created, destroyed) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("MemoryCube: Instance 0")) << run.err;
}

TEST_F(VtqToolTest, ShellRunsTheBundledQueryScriptAndBailsOnAFailure) {
  const std::string script = vtq_testing::sourceDir() + "/examples/sales/category_by_year.vtq";
  const ToolRun table = vtq("shell --bail < '" + script + "'");
  EXPECT_EQ(0, table.status) << table.err;
  EXPECT_EQ("", table.err);
  EXPECT_EQ(0u, table.out.find("[Time].[Calendar]      Bikes  Accessories   Clothing  Components\n"))
      << table.out;

  // The same script as csv, then with the axes swapped: the rows are the categories.
  const fs::path swapped = fs::path(::testing::TempDir()) /
                           ("vtq_tool_test." + std::to_string(getpid()) + ".vtq");
  std::ifstream in(script);
  std::ofstream(swapped) << ".mode csv\n"
                         << std::string(std::istreambuf_iterator<char>(in), {})
                         << "swap-axes 0 1\nquery\nfrobnicate\nlayout\n";
  const ToolRun csv = vtq("shell --bail < '" + swapped.string() + "'");
  EXPECT_EQ(2, csv.status);
  EXPECT_EQ("error: unknown command 'frobnicate' (.help lists the commands)\n", csv.err);
  EXPECT_EQ(0u, csv.out.find("[Time].[Calendar],Bikes,Accessories,Clothing,Components\n2023,"))
      << csv.out;
  EXPECT_NE(std::string::npos, csv.out.find("\n[Product],2023,2024,2025\nBikes,3408377,")) << csv.out;
  EXPECT_EQ(std::string::npos, csv.out.find("view:")) << "--bail went on after the failure";
  fs::remove(swapped);
}

// Each form prints its text, and the printed text, given to the tool again, prints itself.
TEST_F(VtqToolTest, ExprPrintsTextThatReadsBack) {
  // A cube that knows a measure whose name starts with a keyword.
  const fs::path dir = fs::path(::testing::TempDir()) / ("vtq_tool_test." + std::to_string(getpid()) + ".cube");
  fs::create_directories(dir);
  const fs::path fixtures = fs::path(vtq_testing::sourceDir()) / "tests" / "fixtures" / "memory";
  for (const char* name : {"months.csv", "stores.csv", "facts.csv"})
    fs::copy_file(fixtures / name, dir / name, fs::copy_options::overwrite_existing);
  std::ifstream in(fixtures / "shop.cube.xml");
  std::string cube(std::istreambuf_iterator<char>(in), {});
  const std::string units = "<Measure name=\"Units\" column=\"units\" default=\"true\"/>";
  ASSERT_NE(std::string::npos, cube.find(units));
  cube.replace(cube.find(units), units.size(), units + "<Measure name=\"Count_Orders\" column=\"units\"/>");
  std::ofstream(dir / "orders.cube.xml") << cube;
  const std::string orders = "--cube " + quoted((dir / "orders.cube.xml").string()) + " ";

  const std::vector<std::tuple<std::string, std::string, std::string>> forms = {
      {"", "7 MOD 3", "Mod ( 7 , 3 ) "},
      {"", "7 mod 3", "Mod ( 7 , 3 ) "},
      {"", "5 % 3", " 5 % 3 "},
      {"", "Abs(<<[Rate]>>)", "Abs ( <<[Rate]>> ) "},
      {"", "[Product].[Bikes].[Road].[Road-150]", "  {[Product].[Bikes].[Road].[Road-150]}  "},
      {"", "1234567.891234", " 1234567.891234 "},
      {"", "Sales > 1 AND Sales < 2 OR Sales = 3", "  {Sales}  > 1 AND  {Sales}  < 2 OR  {Sales}  = 3 "},
      {"", "1e-3 + 2.5E-2", " 0.001 + 0.025 "},
      {orders, "Count_Orders > 1", "  {Count_Orders}  > 1 "},
  };
  for (const auto& [options, text, expected] : forms) {
    const ToolRun run = vtq(options + "expr -- " + quoted(text));
    EXPECT_EQ(0, run.status) << text << ": " << run.err;
    EXPECT_EQ(expected, printed_text(run)) << text;
    const ToolRun again = vtq(options + "expr -- " + quoted(printed_text(run)));
    EXPECT_EQ(expected, printed_text(again)) << text;
  }
  // The dump shows every digit of a number too.
  EXPECT_NE(std::string::npos, vtq("expr 1234567.891234").out.find("\n142 = 1234567.891234\n"));
  // Regression: the shop cube does not know the name; the error names all of it.
  EXPECT_EQ("error 0xC2011005: Unknown name 'Count_Orders' in the expression 'Count_Orders > 1'.\n",
            vtq("expr 'Count_Orders > 1'").err);
  fs::remove_all(dir);
}

// Regression: a text starting with "-" was taken for an option ("text is required").
TEST_F(VtqToolTest, ExprTakesATextStartingWithAMinusSign) {
  for (const char* text : {"-(3 + 4) * 2", "-1e3", "-3", "--3"}) {
    const ToolRun run = vtq(std::string("expr ") + quoted(text) + " --no-cube");
    EXPECT_EQ(0, run.status) << text << ": " << run.err;
    EXPECT_EQ(0u, run.out.find("text:  - ")) << text << ": " << run.out;
  }
  EXPECT_EQ(" - (  3 + 4  ) * 2 ", printed_text(vtq("expr '-(3 + 4) * 2'")));
  // Options still are options.
  EXPECT_EQ(1, vtq("expr '1' --bogus").status);
  EXPECT_EQ(0, vtq("-v 1 expr --no-cube '-2'").status);
}

// A tree at the depth limit prints a dump linear in its size; one level more is refused.
TEST_F(VtqToolTest, ExprRefusesTooDeepTreesAndKeepsTheDumpLinear) {
  auto chain = [](int terms) {
    std::string text = "1";
    for (int i = 1; i < terms; ++i) text += "+1";
    return text;
  };
  const ToolRun deepest = vtq("expr --no-cube " + quoted(chain(1000)));
  EXPECT_EQ(0, deepest.status) << deepest.err;
  // 1999 nodes, each line at most the capped indent and the depth as a number.
  EXPECT_LT(deepest.out.size(), 200000u);
  EXPECT_NE(std::string::npos, deepest.out.find("[999] 142 = 1\n"));
  const ToolRun deeper = vtq("expr --no-cube " + quoted(chain(65000)));
  EXPECT_EQ(2, deeper.status);
  EXPECT_EQ("error 0x02017066: The expression is too deeply nested.\n", deeper.err);
}

// Global options are accepted after a command's name and listed in its help, where a user who
// asked one command for help looks for them.
TEST_F(VtqToolTest, EveryCommandsHelpListsTheGlobalOptions) {
  for (const char* command : {"cube", "expr", "shell"}) {
    const ToolRun help = vtq(std::string(command) + " --help");
    EXPECT_EQ(0, help.status) << command;
    EXPECT_NE(std::string::npos, help.out.find("--cube FILE")) << command << ": " << help.out;
    EXPECT_NE(std::string::npos, help.out.find("-v,--verbosity N")) << command;
    EXPECT_NE(std::string::npos, help.out.find("--threads N")) << command;
  }
  const ToolRun cube = vtq("cube -v 1 --cube " + quoted(vtq_testing::sampleCubePath()));
  EXPECT_EQ(0, cube.status) << cube.err;
  EXPECT_EQ(0u, cube.out.find("[Time]\t[Time].[Calendar]\t4\t52\n")) << cube.out;
}

// Output that never arrived used to pass for success in the shell.
TEST_F(VtqToolTest, LostOutputFailsEveryCommand) {
  const std::string script = vtq_testing::sourceDir() + "/examples/sales/category_by_year.vtq";
  for (const std::string& command : {"shell --bail < '" + script + "'", std::string("cube"), std::string("expr 1+2")}) {
    const ToolRun full = vtq(command + " > /dev/full");
    EXPECT_EQ(2, full.status) << command;
    EXPECT_EQ("error: cannot write output: No space left on device\n", full.err) << command;
    const ToolRun closed = vtq(command + " >&-");
    EXPECT_EQ(2, closed.status) << command;
    EXPECT_EQ("error: cannot write output: Bad file descriptor\n", closed.err) << command;
  }

  // A byte order mark before the sample definition changes nothing.
  const fs::path bom = fs::path(::testing::TempDir()) / ("vtq_tool_test." + std::to_string(getpid()) + ".cube.xml");
  std::ifstream in(vtq_testing::sourceDir() + "/examples/sales/sales.cube.xml", std::ios::binary);
  std::string text = "\xEF\xBB\xBF" + std::string(std::istreambuf_iterator<char>(in), {});
  // Its tables are found beside the original.
  const std::string tables = "table=\"" + vtq_testing::sourceDir() + "/examples/sales/";
  for (size_t at = 0; (at = text.find("table=\"", at)) != std::string::npos; at += tables.size()) text.replace(at, 7, tables);
  std::ofstream(bom, std::ios::binary) << text;
  const ToolRun withBom = vtq("cube --cube '" + bom.string() + "'");
  EXPECT_EQ(0, withBom.status) << withBom.err;
  EXPECT_EQ(vtq("cube").out, withBom.out);
  fs::remove(bom);
}

}  // namespace
