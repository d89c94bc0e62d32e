// Writes the example images, or a simulated EEPROM that holds one of them.
//
//   korvane-examples DIR             the images as files in DIR, with a summary of each
//   korvane-examples --eeprom FILE   a 512-byte EEPROM file for the simulated hub, if FILE is
//   missing

#include "ExampleImages.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <sysexits.h>

namespace {

int Usage() {
  std::cerr << "usage: korvane-examples DIR\n"
               "       korvane-examples --eeprom FILE\n";
  return EX_USAGE;
}

int MakeEeprom(const std::string& path) {
  switch (CreateExampleEeprom(path)) {
  case TEepromResult::Created:
    std::cout << path << ": simulated EEPROM created with the 0xD4 example image\n";
    return EX_OK;
  case TEepromResult::Exists:
    std::cout << path << ": exists, left as it is\n";
    return EX_OK;
  case TEepromResult::Failed:
    break;
  }
  std::cerr << path << ": cannot create the simulated EEPROM: " << std::strerror(errno) << "\n";
  return EX_CANTCREAT;
}

} // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::strcmp(argv[1], "--eeprom") == 0)
      return MakeEeprom(argv[2]);
    if (argc != 2 || argv[1][0] == '-')
      return Usage();
    return WriteExampleImages(argv[1], std::cout, std::cerr) ? EX_OK : EX_CANTCREAT;
  } catch (const std::exception& error) {
    std::cerr << "korvane-examples: " << error.what() << "\n";
    return EX_SOFTWARE;
  }
}
