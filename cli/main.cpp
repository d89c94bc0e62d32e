#include "Cli.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // A file-size limit must fail a save with "File too large", not kill the tool mid-write.
  std::signal(SIGXFSZ, SIG_IGN);
  TCliContext context{std::cout, std::cerr};
  context.in = &std::cin;
  context.interactive = isatty(STDERR_FILENO) != 0;
  const int code = TCli::Run(std::vector<std::string>(argv + 1, argv + argc), context);
  std::cout.flush();
  // Output that could not be written is a failure a script must see.
  return std::cout.fail() && code == 0 ? 74 : code;
}
