#pragma once

class QWidget;

// The desktop program from its command line to the end of the event loop: the application
// object, the main window and the language dialog. `shown`, when given, is called once the main
// window has been shown (a benchmark's way of knowing that start-up is over). Returns the exit
// code.
int KorvaneMain(int argc, char** argv, void (*shown)(QWidget& window) = nullptr);
