// Production stations as real processes: several at once on one ledger, one killed mid-run,
// hubs plugged in and out under --watch, Ctrl+C, and (with a server) stations on PostgreSQL.

#include "CliTestSupport.h"
#include "Ledger.h"
#include "PostgresStore.h"
#include "SqliteStore.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace clitest {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class StationProcessTest : public TCliTest {
protected:
  void SetUp() override {
    TCliTest::SetUp();
    FTemplate = WriteFile("template.bin", SampleStringImage());
    FLedger = "sqlite:" + PathOf("ledger.sqlite");
    std::filesystem::create_directory(PathOf("backups"));
  }

  // `count` blank hubs named PREFIXn and the --simulate options for them.
  std::vector<std::string> Hubs(const std::string& prefix, size_t count,
                                std::vector<std::string>& options) {
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
      files.push_back(WriteFile(prefix + std::to_string(i) + ".eeprom", Eeprom()));
      options.insert(options.end(), {"--simulate", files.back()});
    }
    return files;
  }

  std::vector<std::string> ProgramArgs(std::vector<std::string> globals,
                                       std::vector<std::string> args) const {
    std::vector<std::string> all = {KORVANE_CLI_BINARY};
    all.insert(all.end(), globals.begin(), globals.end());
    all.insert(all.end(),
               {"program", FTemplate, "--ledger", FLedger, "--backup-dir", PathOf("backups")});
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  // The rows so far; none before the station has made its ledger.
  json LedgerRows() const {
    const std::string out = PathOf("list.out");
    const int code =
        SpawnCli({"ledger", "list", "--json", "--ledger", FLedger}, out, PathOf("list.err"));
    if (code == kTempFail && Text(PathOf("list.err")).find("no ledger") != std::string::npos) {
      return json::array();
    }
    EXPECT_EQ(code, 0) << Text(PathOf("list.err"));
    return json::parse(Text(out));
  }

  static std::string Text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Waits until `done` holds, for at most 20 s.
  static bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
      if (done()) {
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return done();
  }

  // A hub plugged into the watched folder: written under a hidden name, then given its own.
  void Plug(const std::string& folder, const std::string& name) const {
    const std::string hidden = folder + "/." + name;
    WriteBytes(hidden, Eeprom());
    std::filesystem::rename(hidden, folder + "/" + name);
  }

  std::string FTemplate;
  std::string FLedger;
};

std::vector<std::string> ProgrammedSerials(const std::string& jsonLines) {
  std::vector<std::string> serials;
  std::istringstream in(jsonLines);
  for (std::string line; std::getline(in, line);) {
    const json board = json::parse(line);
    if (board.contains("hub") && board["result"] == "programmed") {
      serials.push_back(board["serial"]);
    }
  }
  return serials;
}

TEST_F(StationProcessTest, FourProcessesOnOneLedgerNeverShareASerial) {
  std::vector<pid_t> stations;
  std::vector<std::vector<std::string>> hubs;
  for (int i = 0; i < 4; ++i) {
    std::vector<std::string> options;
    hubs.push_back(Hubs("s" + std::to_string(i) + "-", 16, options));
    const std::string out = PathOf("station" + std::to_string(i) + ".out");
    stations.push_back(
        StartProgram(ProgramArgs(options, {"--all", "--json", "--serial", "counter:KV-%06d"}), out,
                     PathOf("station" + std::to_string(i) + ".err")));
  }
  std::set<std::string> serials;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(WaitProgram(stations[i]), 0) << Text(PathOf("station" + std::to_string(i) + ".err"));
    for (const std::string& serial :
         ProgrammedSerials(Text(PathOf("station" + std::to_string(i) + ".out")))) {
      serials.insert(serial);
    }
    for (const std::string& hub : hubs[i]) {
      EXPECT_EQ(serials.count(SerialOnEeprom(hub)), 1u) << hub;
    }
  }
  ASSERT_EQ(serials.size(), 64u);
  EXPECT_EQ(*serials.begin(), "KV-000001");
  EXPECT_EQ(*serials.rbegin(), "KV-000064");
}

TEST_F(StationProcessTest, AStationKilledMidRunLeavesItsSerialsUsed) {
  std::vector<std::string> options = {"--simulate-page-delay", "2000"}; // seconds a board
  Hubs("a", 8, options);
  const pid_t station = StartProgram(ProgramArgs(options, {"--all", "--serial", "counter:KV-%03d"}),
                                     PathOf("killed.out"), PathOf("killed.err"));
  // Killed once every board has its serial and is being written.
  ASSERT_TRUE(Eventually([&] { return LedgerRows().size() == 8; }));
  ::kill(station, SIGKILL);
  EXPECT_EQ(WaitProgram(station), -1);
  std::set<std::string> taken;
  for (const json& row : LedgerRows()) {
    EXPECT_EQ(row["result"], "sending");
    taken.insert(row["serial"]);
  }
  ASSERT_EQ(taken.size(), 8u);

  std::vector<std::string> again;
  const std::vector<std::string> next = Hubs("b", 8, again);
  ASSERT_EQ(WaitProgram(StartProgram(ProgramArgs(again, {"--all", "--serial", "counter:KV-%03d"}),
                                     PathOf("next.out"), PathOf("next.err"))),
            0)
      << Text(PathOf("next.err"));
  for (const std::string& hub : next) {
    EXPECT_EQ(taken.count(SerialOnEeprom(hub)), 0u) << SerialOnEeprom(hub);
    taken.insert(SerialOnEeprom(hub));
  }
  EXPECT_EQ(taken.size(), 16u);

  ASSERT_EQ(SpawnCli({"ledger", "close-stale", "--older-than", "0s", "--ledger", FLedger},
                     PathOf("close.out")),
            0);
  EXPECT_EQ(Text(PathOf("close.out")), "8 rows marked interrupted\n");
  size_t interrupted = 0;
  for (const json& row : LedgerRows()) {
    interrupted += row["result"] == "interrupted" ? 1 : 0;
  }
  EXPECT_EQ(interrupted, 8u);
}

TEST_F(StationProcessTest, StaleRowsAreShownAndClosed) {
  std::vector<std::string> options = {"--simulate-page-delay", "2000"};
  Hubs("a", 1, options);
  const pid_t station = StartProgram(ProgramArgs(options, {"--all", "--serial", "counter:KV-%03d"}),
                                     PathOf("killed.out"), PathOf("killed.err"));
  ASSERT_TRUE(Eventually([&] { return LedgerRows().size() == 1; })); // being written
  ::kill(station, SIGKILL);
  EXPECT_EQ(WaitProgram(station), -1);
  const auto list = [&] {
    EXPECT_EQ(SpawnCli({"ledger", "list", "--ledger", FLedger}, PathOf("list.txt")), 0);
    return Text(PathOf("list.txt"));
  };
  const auto closeStale = [&](const std::string& age) {
    EXPECT_EQ(SpawnCli({"ledger", "close-stale", "--older-than", age, "--ledger", FLedger},
                       PathOf("close.out")),
              0);
    return Text(PathOf("close.out"));
  };
  EXPECT_THAT(list(), testing::MatchesRegex(".*  KV-001 +  sending +\n"));
  // Not an hour old: it may still be at work.
  EXPECT_EQ(closeStale("1h"), "0 rows marked interrupted\n");
  EXPECT_THAT(list(), testing::MatchesRegex(".*  KV-001 +  sending +\n"));
  EXPECT_EQ(closeStale("0s"), "1 row marked interrupted\n");
  EXPECT_THAT(list(), testing::MatchesRegex(
                          ".*  KV-001 +  interrupted  the station stopped before it recorded the "
                          "outcome\n"));
  EXPECT_EQ(closeStale("0s"), "0 rows marked interrupted\n");
}

TEST_F(StationProcessTest, WatchProgramsEachAppearanceUntilCtrlC) {
  const std::string folder = PathOf("bed");
  std::filesystem::create_directory(folder);
  WriteText("bed/notes.txt", "not a hub"); // not 512 bytes: no hub
  const std::string out = PathOf("watch.out");
  const pid_t station = StartProgram(
      ProgramArgs({"--simulate-dir", folder}, {"--watch", "--serial", "counter:W%03d"}), out,
      PathOf("watch.err"));
  const auto said = [&](const std::string& text) {
    return Eventually([&] { return Text(out).find(text) != std::string::npos; });
  };
  Plug(folder, "hub1");
  ASSERT_TRUE(said("sim:" + folder + "/hub1  W001  programmed, verified\n"))
      << Text(PathOf("watch.err"));
  Plug(folder, "hub2");
  ASSERT_TRUE(said("sim:" + folder + "/hub2  W002  programmed, verified\n"));
  WriteBytes(folder + "/.hidden", Eeprom()); // names beginning with '.' are no hubs

  // Unplugged and plugged again: a new appearance and a new serial.
  std::filesystem::remove(folder + "/hub1");
  ASSERT_TRUE(Eventually([&] { return LedgerRows().size() == 2; }));
  std::this_thread::sleep_for(1500ms); // the station sees it gone (it looks every 200 ms)
  Plug(folder, "hub1");
  ASSERT_TRUE(said("sim:" + folder + "/hub1  W003  programmed, verified\n"));
  std::this_thread::sleep_for(500ms); // its own save of the hub's file is no appearance
  ::kill(station, SIGINT);
  EXPECT_EQ(WaitProgram(station), 0) << Text(PathOf("watch.err"));
  EXPECT_THAT(Text(out), testing::EndsWith("W003  programmed, verified\n3 programmed, 0 failed\n"));
  EXPECT_EQ(SerialOnEeprom(folder + "/hub1"), "W003");
  EXPECT_EQ(SerialOnEeprom(folder + "/hub2"), "W002");
  EXPECT_EQ(ReadBytes(folder + "/.hidden"), Eeprom());
  EXPECT_EQ(LedgerRows().size(), 3u);
}

TEST_F(StationProcessTest, CtrlCOrSigtermLetsTheBoardInFlightFinish) {
  for (const int signal : {SIGINT, SIGTERM}) {
    const std::string name = signal == SIGINT ? "int" : "term";
    SCOPED_TRACE(name);
    FLedger = "sqlite:" + PathOf(name + ".sqlite");
    const std::string folder = PathOf(name);
    std::filesystem::create_directory(folder);
    const std::string out = PathOf(name + ".out");
    const pid_t station =
        StartProgram(ProgramArgs({"--simulate-dir", folder, "--simulate-page-delay", "40"},
                                 {"--watch", "--serial", "counter:W%03d"}),
                     out, PathOf(name + ".err"));
    Plug(folder, "hub1");
    ASSERT_TRUE(Eventually([&] { return LedgerRows().size() == 1; })); // being written
    ::kill(station, signal);
    EXPECT_EQ(WaitProgram(station), 0) << Text(PathOf(name + ".err"));
    EXPECT_EQ(Text(out),
              "sim:" + folder + "/hub1  W001  programmed, verified\n1 programmed, 0 failed\n");
    EXPECT_EQ(SerialOnEeprom(folder + "/hub1"), "W001");
  }
}

// A board plugged in again keeps the serial it was given: no second serial is used up on it.
TEST_F(StationProcessTest, KeepSerialKeepsABoardsSerialWhenItIsPluggedInAgain) {
  const std::string folder = PathOf("bed");
  std::filesystem::create_directory(folder);
  const std::string out = PathOf("watch.out");
  const pid_t station =
      StartProgram(ProgramArgs({"--simulate-dir", folder},
                               {"--watch", "--keep-serial", "--serial", "counter:W%03d", "--json"}),
                   out, PathOf("watch.err"));
  const auto said = [&](const std::string& hub, const std::string& serial, bool kept) {
    return Eventually([&] {
      std::istringstream lines(Text(out));
      for (std::string line; std::getline(lines, line);) {
        const json board = json::parse(line);
        if (board["hub"] == "sim:" + folder + "/" + hub && board["serial"] == serial &&
            board["kept"] == kept && board["result"] == "programmed") {
          return true;
        }
      }
      return false;
    });
  };
  Plug(folder, "hub1");
  ASSERT_TRUE(said("hub1", "W001", false)) << Text(PathOf("watch.err"));
  // Unplugged, and plugged in again as it is.
  std::filesystem::rename(folder + "/hub1", PathOf("hub1.away"));
  std::this_thread::sleep_for(1500ms); // the station sees it gone (it looks every 200 ms)
  std::filesystem::rename(PathOf("hub1.away"), folder + "/hub1");
  ASSERT_TRUE(said("hub1", "W001", true)) << Text(out);
  Plug(folder, "hub2");
  ASSERT_TRUE(said("hub2", "W002", false)) << Text(out);
  ::kill(station, SIGTERM);
  EXPECT_EQ(WaitProgram(station), 0) << Text(PathOf("watch.err"));
  EXPECT_EQ(SerialOnEeprom(folder + "/hub1"), "W001");
  std::vector<std::pair<std::string, bool>> rows;
  for (const json& row : LedgerRows()) {
    rows.emplace_back(row["serial"], row["kept"]);
  }
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, bool>>{
                      {"W001", false}, {"W001", true}, {"W002", false}}));
}

// The ledger takes the serial but refuses to record the outcome (as a full disk would): the
// outcome is printed as unrecorded, the run ends by itself and no other board is taken.
TEST_F(StationProcessTest, AnOutcomeTheLedgerCannotRecordEndsTheRunWith75) {
  TLedger::Open(FLedger);
  TSqliteStore(PathOf("ledger.sqlite"), false)
      .Run("CREATE TRIGGER refuse_outcomes BEFORE UPDATE ON boards "
           "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
  const std::string folder = PathOf("bed");
  std::filesystem::create_directory(folder);
  const std::string out = PathOf("watch.out");
  const std::string err = PathOf("watch.err");
  const pid_t station = StartProgram(
      ProgramArgs({"--simulate-dir", folder}, {"--watch", "--serial", "counter:W%03d"}), out, err);
  Plug(folder, "hub1");
  ASSERT_TRUE(Eventually([&] { return Text(out).find("W001  programmed") != std::string::npos; }))
      << Text(err);
  Plug(folder, "hub2");
  EXPECT_EQ(WaitProgram(station), kTempFail);
  const std::string line = "sim:" + folder + "/hub1  W001  programmed, verified";
  EXPECT_EQ(Text(out), line + "\n1 programmed, 0 failed\n");
  EXPECT_THAT(Text(err), HasSubstr("the ledger did not record this outcome ("));
  EXPECT_THAT(Text(err), HasSubstr("database or disk is full): " + line + "\n"));
  EXPECT_THAT(Text(err), HasSubstr("no further board was taken"));
  EXPECT_EQ(SerialOnEeprom(folder + "/hub1"), "W001");
  EXPECT_EQ(ReadBytes(folder + "/hub2"), Eeprom());
  const json rows = LedgerRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["result"], "sending"); // its serial stays used
}

// Needs the server of the PG* variables (scripts/with-postgres).
class StationPostgresTest : public StationProcessTest {
protected:
  void SetUp() override {
    if (std::getenv("KORVANE_TEST_POSTGRES") == nullptr) {
      GTEST_SKIP() << "no PostgreSQL server (run under scripts/with-postgres)";
    }
    StationProcessTest::SetUp();
    TPostgresStore("").Run("DROP TABLE IF EXISTS boards, counters, korvane_schema");
    FLedger = "postgresql:";
  }
};

TEST_F(StationPostgresTest, TwoStationsOnOneServerNeverShareASerial) {
  std::vector<pid_t> stations;
  std::vector<std::vector<std::string>> hubs;
  for (const char* name : {"east", "west"}) {
    std::vector<std::string> options;
    hubs.push_back(Hubs(std::string(name) + "-", 8, options));
    stations.push_back(StartProgram(
        ProgramArgs(options, {"--all", "--json", "--station", name, "--serial", "counter:PG-%04d"}),
        PathOf(std::string(name) + ".out"), PathOf(std::string(name) + ".err")));
  }
  std::set<std::string> serials;
  for (size_t i = 0; i < 2; ++i) {
    const std::string name = i == 0 ? "east" : "west";
    ASSERT_EQ(WaitProgram(stations[i]), 0) << Text(PathOf(name + ".err"));
    for (const std::string& hub : hubs[i]) {
      serials.insert(SerialOnEeprom(hub));
    }
  }
  EXPECT_EQ(serials.size(), 16u);
  EXPECT_EQ(*serials.rbegin(), "PG-0016");
  std::map<std::string, int> perStation;
  for (const json& row : LedgerRows()) {
    ++perStation[row["station"]];
  }
  EXPECT_EQ(perStation, (std::map<std::string, int>{{"east", 8}, {"west", 8}}));
}

TEST_F(StationPostgresTest, ALedgerLostMidRunEndsTheRunWith75) {
  const std::string folder = PathOf("bed");
  std::filesystem::create_directory(folder);
  const std::string out = PathOf("watch.out");
  const pid_t station = StartProgram(
      ProgramArgs({"--simulate-dir", folder}, {"--watch", "--serial", "counter:W%03d"}), out,
      PathOf("watch.err"));
  Plug(folder, "hub1");
  ASSERT_TRUE(Eventually([&] { return Text(out).find("W001  programmed") != std::string::npos; }));
  // The server drops the station's connection, as when it restarts.
  TPostgresStore("").Run("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                         "WHERE pid <> pg_backend_pid() AND datname = current_database()");
  Plug(folder, "hub2");
  EXPECT_EQ(WaitProgram(station), kTempFail);
  EXPECT_THAT(Text(PathOf("watch.err")), HasSubstr("the ledger failed"));
  EXPECT_THAT(Text(out), HasSubstr("hub2  -  failed: the ledger failed"));
  EXPECT_EQ(ReadBytes(folder + "/hub2"), Eeprom());
}

} // namespace
} // namespace clitest
