#include "Cli.h"
#include "CliError.h"
#include "CliFiles.h"
#include "CliOutput.h"

#include <cerrno>
#include <csignal>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // A file-size limit must fail a save with "File too large", not kill the tool mid-write.
  std::signal(SIGXFSZ, SIG_IGN);
  TCliOutput output(STDOUT_FILENO);
  std::ostream out(&output);
  TCliContext context{out, std::cerr};
  context.in = &std::cin;
  context.interactive = isatty(STDERR_FILENO) != 0;
  int code = TCli::Run(std::vector<std::string>(argv + 1, argv + argc), context);
  out.flush();
  // Output that could not be written is a failure a script must see, with its reason. A command
  // that failed otherwise keeps its own code; a diff whose report was lost is no answer either.
  if (output.Error() != 0 || out.fail()) {
    std::cerr << "korvane-cli: standard output cannot be written: "
              << TCliFiles::Reason(output.Error() != 0 ? output.Error() : EIO) << "\n";
    if (code == cliexit::kOk || code == cliexit::kDiffers) {
      code = cliexit::kIoError;
    }
  }
  return code;
}
