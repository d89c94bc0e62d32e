#pragma once

#include <chrono>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class THubDriver;
class TUsbBinding;

// What every command gets: its streams and the global options. Tests run commands in process with
// string streams and may put their own driver in place of the real ones.
struct TCliContext {
  TCliContext(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

  std::ostream& out;
  std::ostream& err;
  std::istream* in = nullptr; // standard input, for `import -`
  bool json = false;
  std::vector<std::string> simulate; // --simulate FILE, in order
  std::vector<std::string> vidpid;   // --vidpid VID:PID, in order
  std::string simulateDir;           // --simulate-dir DIR: hubs that come and go as files
  std::string pageDelay;             // --simulate-page-delay MS, as given
  // The tool's stderr is a terminal: production runs show a live count there.
  bool interactive = false;
  // How long an edit waits for another process's edit of the same image file.
  std::chrono::milliseconds lockWait{10000};

  // Makes the hub driver for a device command; empty: the tool's own choice (simulated hubs with
  // --simulate, real hubs otherwise). `bound` receives the IDs that the driver will talk to.
  std::function<std::unique_ptr<THubDriver>(const TCliContext&, TUsbBinding& bound)> makeDriver;
};
