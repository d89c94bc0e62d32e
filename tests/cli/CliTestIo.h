#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
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

} // namespace clitest
