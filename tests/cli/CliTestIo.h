#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// File and process helpers for tests that also run without the tool's library (the USB tests).
namespace clitest {

// An empty folder in the temporary directory named after `prefix` and the running test.
std::filesystem::path FreshTestFolder(const std::string& prefix);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// Runs the real korvane-cli with stdout into `outPath` and stderr into `errPath` (into `outPath`
// too when empty); its exit code, or -1 when it did not exit.
int SpawnCli(std::vector<std::string> args, const std::string& outPath,
             const std::string& errPath = {});

// Starts the program args[0] (a full path) in the same way, without waiting; its process id.
pid_t StartProgram(std::vector<std::string> args, const std::string& outPath,
                   const std::string& errPath = {});
// The exit code of a started program, or -1 when it did not exit.
int WaitProgram(pid_t pid);

} // namespace clitest
