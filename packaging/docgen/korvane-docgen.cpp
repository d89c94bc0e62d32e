// Writes the manual pages and the shell completions at build time, from the same tables and
// texts the programs use for their help.
//
//   korvane-docgen OUT cli-man VERSION DATE UDEVDIR EXAMPLESDIR
//   korvane-docgen OUT window-man VERSION DATE UDEVDIR PROGRAM   (PROGRAM --help is the source)
//   korvane-docgen OUT bash|zsh

#include "BashCompletion.h"
#include "CliManual.h"
#include "CompletionModel.h"
#include "WindowManual.h"
#include "ZshCompletion.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <sysexits.h>
#include <vector>

namespace {

int Usage() {
  std::cerr << "usage: korvane-docgen OUT cli-man VERSION DATE UDEVDIR EXAMPLESDIR\n"
               "       korvane-docgen OUT window-man VERSION DATE UDEVDIR PROGRAM\n"
               "       korvane-docgen OUT bash|zsh\n";
  return EX_USAGE;
}

// What `program --help` prints; empty when it cannot be run or fails.
std::string HelpOf(const std::string& program) {
  const std::string command = "'" + program + "' --help";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return {};
  }
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    text.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : std::string();
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    return Usage();
  }
  const std::string& what = args[1];
  std::ostringstream text;
  if (what == "cli-man" && args.size() == 6) {
    TCliManual::Write(text, {args[2], args[3], args[4], args[5]});
  } else if (what == "window-man" && args.size() == 6) {
    const std::string usage = HelpOf(args[5]);
    if (!TWindowManual::Write(text, {args[2], args[3], args[4], {}}, usage)) {
      std::cerr << "korvane-docgen: " << args[5] << " --help gave no usage text\n";
      return EX_SOFTWARE;
    }
  } else if (what == "bash" && args.size() == 2) {
    TBashCompletion::Write(text, TCompletionModel());
  } else if (what == "zsh" && args.size() == 2) {
    TZshCompletion::Write(text, TCompletionModel());
  } else {
    return Usage();
  }
  std::ofstream out(args[0], std::ios::binary | std::ios::trunc);
  out << text.str();
  out.close();
  if (!out) {
    std::cerr << "korvane-docgen: cannot write " << args[0] << "\n";
    std::remove(args[0].c_str());
    return EX_CANTCREAT;
  }
  return EX_OK;
}
