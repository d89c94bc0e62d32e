// The baseline for `korvane-cli info`: a program that only reads the file and exits.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    return 64;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    return 66;
  }
  unsigned char buffer[4096];
  size_t total = 0;
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    total += n;
  }
  std::fclose(file);
  return total > 0 ? 0 : 65;
}
