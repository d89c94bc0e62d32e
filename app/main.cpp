// korvane: the desktop program. Creates the application object, the main window and the
// language dialog, and runs the event loop until the main window closes.
#include "KorvaneMain.h"

int main(int argc, char** argv) {
  return KorvaneMain(argc, argv);
}
