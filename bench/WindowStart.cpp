// korvane's own start-up, ended once the main window has painted: timed against the minimal
// window by make bench.
#include "KorvaneMain.h"
#include "QuitWhenPainted.h"

int main(int argc, char** argv) {
  return KorvaneMain(argc, argv, &QuitWhenPainted);
}
