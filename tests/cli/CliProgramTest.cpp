// A production run in process on simulated hubs: every board its own serial number from the
// ledger, never one twice, each attempt recorded, and refusals and dry runs that touch nothing.

#include "CliTestSupport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace clitest {
namespace {

using TFaults = TSimulatedHubDriver::TFaults;
using nlohmann::json;

class ProgramTest : public TCliTest {
protected:
  void SetUp() override {
    TCliTest::SetUp();
    FTemplate = WriteFile("template.bin", SampleStringImage());
  }

  std::vector<std::string> Boards(const std::string& prefix, size_t count,
                                  const std::vector<uint8_t>& image = {}) {
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
      files.push_back(WriteFile(prefix + std::to_string(i) + ".eeprom", Eeprom(image)));
    }
    return files;
  }

  // korvane-cli program TEMPLATE --all with the backups in the test's folder.
  TRun Program(const std::vector<std::string>& boards, std::vector<std::string> args,
               std::map<std::string, TFaults> faults = {}) {
    std::vector<std::string> all = {"program", FTemplate, "--all", "--backup-dir", FFolder};
    all.insert(all.end(), args.begin(), args.end());
    return Run(all, SimulatedHubs(boards, std::move(faults)));
  }

  std::string SerialOn(const std::string& file) const { return SerialOnEeprom(file); }

  json Ledger() {
    const TRun run = Run({"ledger", "list", "--json"});
    EXPECT_EQ(run.code, kOk) << run.err;
    return json::parse(run.out);
  }

  size_t BackupCount() const {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FFolder)) {
      count += entry.path().filename().string().rfind("korvane-backup-", 0) == 0 ? 1 : 0;
    }
    return count;
  }

  std::string FTemplate;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST_F(ProgramTest, CounterGivesEveryBoardItsOwnSerialAndTheLedgerRecordsEach) {
  const std::vector<std::string> first = Boards("a", 3);
  const TRun run = Program(first, {"--serial", "counter:KV-%06d", "--station", "bench-1"});
  ASSERT_EQ(run.code, kOk) << run.err;
  std::set<std::string> serials;
  for (const std::string& board : first) {
    serials.insert(SerialOn(board));
    EXPECT_THAT(run.out,
                HasSubstr("sim:" + board + "  " + SerialOn(board) + "  programmed, verified\n"));
  }
  EXPECT_EQ(serials, (std::set<std::string>{"KV-000001", "KV-000002", "KV-000003"}));
  EXPECT_EQ(Lines(run.out).back(), "3 programmed, 0 failed");
  EXPECT_EQ(BackupCount(), 3u);

  // The counter goes on in the next run; a new format starts where --serial-start says.
  const std::vector<std::string> second = Boards("b", 1);
  ASSERT_EQ(Program(second, {"--serial", "counter:KV-%06d"}).code, kOk);
  EXPECT_EQ(SerialOn(second[0]), "KV-000004");
  const std::vector<std::string> third = Boards("c", 1);
  ASSERT_EQ(Program(third, {"--serial", "counter:B%d%%", "--serial-start", "700"}).code, kOk);
  EXPECT_EQ(SerialOn(third[0]), "B700%");

  const json rows = Ledger();
  ASSERT_EQ(rows.size(), 5u);
  for (const json& row : rows) {
    EXPECT_EQ(row["result"], "programmed");
    EXPECT_EQ(row["kept"], false);
    EXPECT_EQ(row["error"], "");
    EXPECT_EQ(row["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(row["time"].get<std::string>().back(), 'Z');
    for (const char* key : {"station", "hub", "serial", "backup", "version"}) {
      EXPECT_FALSE(row[key].get<std::string>().empty()) << key;
    }
  }
  EXPECT_EQ(rows[0]["station"], "bench-1");

  const TRun found = Run({"ledger", "find", "KV-000002"});
  EXPECT_EQ(found.code, kOk);
  EXPECT_EQ(Lines(found.out).size(), 1u);
  EXPECT_THAT(found.out, HasSubstr("KV-000002"));
  const TRun missing = Run({"ledger", "find", "KV-000009"});
  EXPECT_EQ(missing.code, kDiffers);
  EXPECT_THAT(missing.err, HasSubstr("KV-000009 is not in the ledger"));

  const TRun csv = Run({"ledger", "export", "--csv"});
  ASSERT_EQ(csv.code, kOk);
  EXPECT_EQ(csv.out.rfind("time,station,hub,serial,kept,result,error,sha256,backup,version\r\n", 0),
            0u);
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 6);
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\r'), 6);
}

// The ledger outlives the folder a station ran in: a backup is recorded by its full path, in the
// ledger and in the board's JSON line alike.
TEST_F(ProgramTest, BackupsAreRecordedByTheirFullPath) {
  const std::vector<std::string> boards = Boards("a", 1);
  const std::string relative = std::filesystem::relative(FFolder).string();
  ASSERT_TRUE(std::filesystem::path(relative).is_relative());
  const TRun run = Run({"program", FTemplate, "--all", "--json", "--backup-dir", relative},
                       SimulatedHubs(boards));
  ASSERT_EQ(run.code, kOk) << run.err;
  const std::string backup = Ledger().at(0)["backup"];
  EXPECT_EQ(json::parse(Lines(run.out).at(0))["backup"], backup);
  EXPECT_EQ(std::filesystem::path(backup).parent_path(), FFolder);
  EXPECT_TRUE(std::filesystem::exists(backup));
}

TEST_F(ProgramTest, ListGivesUnusedLinesUntilNoneIsLeft) {
  const std::string list = WriteText("serials.txt", "S-1\r\n\nS-2\nS-3\n");
  const std::vector<std::string> first = Boards("a", 2);
  ASSERT_EQ(Program(first, {"--serial", "list:" + list}).code, kOk);
  const std::set<std::string> used = {SerialOn(first[0]), SerialOn(first[1])};
  EXPECT_EQ(used, (std::set<std::string>{"S-1", "S-2"}));

  const std::vector<std::string> second = Boards("b", 2);
  const TRun run = Program(second, {"--serial", "list:" + list});
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.out, HasSubstr("failed: serial list exhausted"));
  EXPECT_THAT(run.out, HasSubstr("1 programmed, 1 failed"));
  std::vector<std::string> got = {SerialOn(second[0]), SerialOn(second[1])};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"", "S-3"})); // the other board was not touched

  const std::vector<std::string> third = Boards("c", 1);
  EXPECT_EQ(Program(third, {"--serial", "list:" + list}).code, kIoError);
  EXPECT_EQ(ReadFile(third[0]), Eeprom());
}

// Past the counter's last number a board gets no serial and is not touched, run after run.
TEST_F(ProgramTest, ACounterPastItsLastNumberLeavesTheBoardAlone) {
  const std::vector<std::string> boards = Boards("a", 3);
  const std::vector<std::string> args = {"--serial", "counter:%d", "--serial-start",
                                         "9223372036854775806"};
  ASSERT_EQ(Program({boards[0]}, args).code, kOk);
  ASSERT_EQ(Program({boards[1]}, args).code, kOk);
  const TRun last = Program({boards[2]}, args);
  EXPECT_EQ(last.code, kIoError) << last.err;
  EXPECT_THAT(last.out, HasSubstr("sim:" + boards[2] + "  -  failed: serial counter exhausted\n"));
  EXPECT_EQ(SerialOn(boards[0]), "9223372036854775806");
  EXPECT_EQ(SerialOn(boards[1]), "9223372036854775807");
  EXPECT_EQ(ReadFile(boards[2]), Eeprom());
  EXPECT_EQ(Ledger().size(), 2u);
}

TEST_F(ProgramTest, ClockSerialsNeverRepeatNorGoBackWithinOneSecond) {
  std::vector<uint64_t> values;
  for (const char* prefix : {"a", "b"}) {
    const std::vector<std::string> boards = Boards(prefix, 4);
    const TRun run = Program(boards, {});
    ASSERT_EQ(run.code, kOk) << run.err;
    std::vector<uint64_t> batch;
    for (const std::string& board : boards) {
      const std::string serial = SerialOn(board);
      ASSERT_EQ(serial.size(), 12u);
      batch.push_back(std::stoull(serial, nullptr, 16));
    }
    std::sort(batch.begin(), batch.end());
    EXPECT_EQ(batch.back() - batch.front(), 3u) << "one batch: consecutive values";
    if (!values.empty()) {
      EXPECT_GT(batch.front(), values.back());
    }
    values.insert(values.end(), batch.begin(), batch.end());
  }
}

TEST_F(ProgramTest, KeepSerialKeepsOnlyABoardsOwnSerial) {
  const auto image = [](const std::u16string& serial) {
    return StringImage({0x0409}, 0x07, {{u"Acme"}, {u"Hub"}, {serial}});
  };
  const std::string own = WriteFile("own.eeprom", Eeprom(image(u"BOARD-7")));
  const std::string templated = WriteFile("templated.eeprom", Eeprom(image(u"0001")));
  const std::string placeholder = WriteFile("placeholder.eeprom", Eeprom(image(u" ")));
  const std::string blank = WriteFile("blank.eeprom", Eeprom());
  const TRun run = Program({own, templated, placeholder, blank},
                           {"--serial", "counter:KV-%03d", "--keep-serial", "--json"});
  ASSERT_EQ(run.code, kOk) << run.err;
  EXPECT_EQ(SerialOn(own), "BOARD-7");
  std::set<std::string> given = {SerialOn(templated), SerialOn(placeholder), SerialOn(blank)};
  EXPECT_EQ(given, (std::set<std::string>{"KV-001", "KV-002", "KV-003"}));

  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 0; i < 4; ++i) {
    const json board = json::parse(lines[i]);
    for (const char* key : {"hub", "serial", "kept", "result", "verified", "error", "backup"}) {
      EXPECT_TRUE(board.contains(key)) << key;
    }
    EXPECT_EQ(board["kept"], board["hub"] == "sim:" + own);
    EXPECT_EQ(board["result"], "programmed");
    EXPECT_EQ(board["verified"], true);
    EXPECT_TRUE(board["error"].is_null());
  }
  EXPECT_EQ(json::parse(lines.back()), json({{"programmed", 4}, {"failed", 0}}));
  for (const json& row : Ledger()) {
    EXPECT_EQ(row["kept"], row["serial"] == "BOARD-7");
  }
}

TEST_F(ProgramTest, DryRunWritesNoEepromNoBackupAndNoLedger) {
  const std::vector<std::string> boards = Boards("a", 2, FixedImage(0xD2));
  const TRun run = Program(boards, {"--serial", "counter:KV-%06d", "--dry-run"});
  ASSERT_EQ(run.code, kOk) << run.err;
  EXPECT_THAT(run.out, HasSubstr("KV-000001  dry run: would write "));
  EXPECT_THAT(run.out, HasSubstr("KV-000002  dry run: would write "));
  EXPECT_THAT(run.out, HasSubstr("2 would be programmed, 0 failed (dry run: nothing was written)"));
  for (const std::string& board : boards) {
    EXPECT_EQ(ReadFile(board), Eeprom(FixedImage(0xD2)));
  }
  EXPECT_EQ(BackupCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(PathOf("data")));

  // On a ledger in use, the dry run shows what comes next and takes none of it.
  ASSERT_EQ(Program(Boards("b", 1), {"--serial", "counter:KV-%06d"}).code, kOk);
  const json before = Ledger();
  const TRun again = Program(boards, {"--serial", "counter:KV-%06d", "--dry-run", "--json"});
  ASSERT_EQ(again.code, kOk);
  const std::vector<std::string> lines = Lines(again.out);
  ASSERT_EQ(lines.size(), 3u);
  std::set<std::string> shown = {json::parse(lines[0])["serial"], json::parse(lines[1])["serial"]};
  EXPECT_EQ(shown, (std::set<std::string>{"KV-000002", "KV-000003"}));
  EXPECT_EQ(json::parse(lines[2])["dry_run"], 2);
  EXPECT_EQ(Ledger(), before);
}

TEST_F(ProgramTest, ASerialThatReachedABoardIsNeverGivenAgain) {
  const std::vector<std::string> boards = Boards("a", 3);
  const std::string corrupt = boards[0];
  const std::string unreadable = boards[1];
  const TRun run = Program(boards, {"--serial", "counter:KV-%03d"},
                           {{corrupt, {.FCorruptWrite = true, .FCorruptAddress = 3}},
                            {unreadable, {.FNegativeStatus = true}}});
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.out, HasSubstr("sim:" + unreadable + "  -  failed: "));
  EXPECT_THAT(run.out, HasSubstr("1 programmed, 2 failed"));
  std::map<std::string, json> byHub;
  for (const json& row : Ledger()) {
    byHub[row["hub"]] = row;
  }
  ASSERT_EQ(byHub.size(), 2u) << "a board that could not be read takes no serial";
  EXPECT_EQ(byHub["sim:" + corrupt]["result"], "failed");
  EXPECT_THAT(byHub["sim:" + corrupt]["error"].get<std::string>(), HasSubstr("verify"));
  EXPECT_EQ(byHub["sim:" + boards[2]]["result"], "programmed");

  const std::vector<std::string> next = Boards("b", 1);
  ASSERT_EQ(Program(next, {"--serial", "counter:KV-%03d"}).code, kOk);
  EXPECT_EQ(SerialOn(next[0]), "KV-003");
}

TEST_F(ProgramTest, ASerialThatNeverReachedABoardGoesToTheNext) {
  const std::vector<std::string> boards = Boards("a", 1);
  // The read for the backup is the one request the hub answers; it is gone for the write.
  const TRun run =
      Program(boards, {"--serial", "counter:KV-%03d"}, {{boards[0], {.FVanishAfter = 1}}});
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.out, HasSubstr("KV-001  failed: writing failed: the hub is gone before the write "
                                 "began; its serial goes to the next board"));
  EXPECT_EQ(Ledger().at(0)["result"], "returned");

  const std::vector<std::string> next = Boards("b", 1);
  ASSERT_EQ(Program(next, {"--serial", "counter:KV-%03d"}).code, kOk);
  EXPECT_EQ(SerialOn(next[0]), "KV-001");
}

// A template whose string area leaves room for a one-character serial number and no more.
std::vector<uint8_t> FullTemplate() {
  std::vector<uint8_t> best;
  for (std::u16string product = u"P";; product += u'p') {
    const auto image = StringImage({0x0409}, 0x07, {{u"Acme"}, {product}, {u" "}});
    if (image.size() > 512) {
      return best;
    }
    best = image;
  }
}

TEST_F(ProgramTest, ALaterSerialThatNoLongerFitsLeavesItsBoardAlone) {
  FTemplate = WriteFile("full.bin", FullTemplate());
  const std::vector<std::string> boards = Boards("a", 2);
  const TRun run = Program(boards, {"--serial", "counter:%d", "--serial-start", "9"});
  EXPECT_EQ(run.code, kIoError);
  EXPECT_THAT(run.out, HasSubstr("  9  programmed, verified"));
  EXPECT_THAT(run.out, HasSubstr("  10  failed: "));
  EXPECT_THAT(run.out, HasSubstr("nothing was written"));
  std::vector<std::string> got = {SerialOn(boards[0]), SerialOn(boards[1])};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"", "9"}));

  // 10 is used up (no board could ever carry it); 11 is next, checked before any board is
  // touched.
  const std::vector<std::string> next = Boards("b", 1);
  const TRun refused = Program(next, {"--serial", "counter:%d"});
  EXPECT_EQ(refused.code, kData);
  EXPECT_THAT(refused.err, HasSubstr("cannot carry the next serial, 11: "));
  EXPECT_EQ(ReadFile(next[0]), Eeprom());
}

// A line that no board can carry does not block the rest of the list.
TEST_F(ProgramTest, ALineTooLongForTheImageIsPassedOver) {
  FTemplate = WriteFile("full.bin", FullTemplate());
  const std::string list = WriteText("serials.txt", "1\n22\n3\n4\n");
  const std::vector<std::string> first = Boards("a", 2);
  EXPECT_EQ(Program(first, {"--serial", "list:" + list}).code, kIoError);
  std::vector<std::string> got = {SerialOn(first[0]), SerialOn(first[1])};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"", "1"}));
  const std::vector<std::string> second = Boards("b", 2);
  ASSERT_EQ(Program(second, {"--serial", "list:" + list}).code, kOk);
  got = {SerialOn(second[0]), SerialOn(second[1])};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"3", "4"}));
}

TEST_F(ProgramTest, RefusalsComeBeforeAnyBoardIsTouched) {
  const std::vector<std::string> boards = Boards("a", 2);
  const std::string fixed = WriteFile("fixed.bin", FixedImage(0xD2));
  const std::string noSerial =
      WriteFile("noserial.bin", StringImage({0x0409}, 0x03, {{u"Acme"}, {u"Hub"}}));
  struct TCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> hubs;
    int code;
    const char* says;
  };
  const std::string all = "--all";
  const TCase cases[] = {
      {"fixed header", {fixed, all}, boards, kData, "cannot carry a serial"},
      {"no serial string", {noSerial, all}, boards, kData, "no serial-number string"},
      {"two modes", {FTemplate, all, "--watch"}, boards, kUsage, "one of --device PATH"},
      {"no mode", {FTemplate}, boards, kUsage, "one of --device PATH"},
      {"bad scheme", {FTemplate, all, "--serial", "counter:KV"}, boards, kUsage, "--serial"},
      {"start past the counter's range",
       {FTemplate, all, "--serial", "counter:K%d", "--serial-start", "9223372036854775808"},
       boards,
       kUsage,
       "--serial-start"},
      {"start without counter",
       {FTemplate, all, "--serial-start", "5"},
       boards,
       kUsage,
       "--serial-start"},
      {"missing list",
       {FTemplate, all, "--serial", "list:" + PathOf("none")},
       boards,
       kNoInput,
       "none"},
      {"ledger out of reach",
       {FTemplate, all, "--ledger", "postgresql://127.0.0.1:1/none?connect_timeout=2"},
       boards,
       kTempFail,
       "the ledger cannot be reached"},
      {"ledger of unknown kind",
       {FTemplate, all, "--ledger", "mysql://x"},
       boards,
       kUsage,
       "\"mysql://x\" is none of sqlite:PATH, postgresql://... and postgresql:"},
      {"sqlite ledger without a path",
       {FTemplate, all, "--ledger", "sqlite:"},
       boards,
       kUsage,
       "--ledger"},
      {"backups among the watched hubs",
       {FTemplate, "--watch", "--simulate-dir", FFolder},
       boards,
       kUsage,
       "the backups would become hubs"},
      {"no hub", {FTemplate, all}, {}, kNoHub, ""},
      {"unknown device", {FTemplate, "--device", "sim:nowhere"}, boards, kNoHub, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"program"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--backup-dir", FFolder});
    const TRun run = Run(args, SimulatedHubs(c.hubs));
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.says));
    for (const std::string& board : boards) {
      EXPECT_EQ(ReadFile(board), Eeprom());
    }
    EXPECT_EQ(BackupCount(), 0u);
  }
}

// The ledger commands read a ledger that is there: a mistyped path is no empty ledger.
TEST_F(ProgramTest, LedgerCommandsNeedALedger) {
  const std::string typo = "sqlite:" + PathOf("typo.sqlite");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"ledger", "list"},
                                               {"ledger", "find", "KV-1"},
                                               {"ledger", "export", "--csv"},
                                               {"ledger", "close-stale", "--older-than", "1h"}}) {
    std::vector<std::string> withLedger = args;
    withLedger.insert(withLedger.end(), {"--ledger", typo});
    const TRun run = Run(withLedger);
    EXPECT_EQ(run.code, kTempFail) << args[1];
    EXPECT_THAT(run.err, HasSubstr("typo.sqlite: no ledger there"));
    withLedger.back() = "mysql://x"; // no ledger URL at all: a usage error
    EXPECT_EQ(Run(withLedger).code, kUsage) << args[1];
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("typo.sqlite")));
}

// RFC 4180: a field with a comma, a quote or a line break is quoted and its quotes doubled; the
// others are left as they are.
TEST_F(ProgramTest, LedgerExportQuotesAsRfc4180) {
  const std::vector<std::string> boards = Boards("a", 1);
  const std::string station = "line \"A\", bench 2\nleft";
  ASSERT_EQ(Program(boards, {"--serial", "counter:KV-%03d", "--station", station}).code, kOk);
  const json row = Ledger().at(0);
  const TRun csv = Run({"ledger", "export", "--csv"});
  ASSERT_EQ(csv.code, kOk) << csv.err;
  EXPECT_EQ(csv.out, "time,station,hub,serial,kept,result,error,sha256,backup,version\r\n" +
                         row["time"].get<std::string>() +
                         ",\"line \"\"A\"\", bench 2\nleft\",sim:" + boards[0] +
                         ",KV-001,0,programmed,," + row["sha256"].get<std::string>() + "," +
                         row["backup"].get<std::string>() + "," +
                         row["version"].get<std::string>() + "\r\n");
}

// A ledger path that names a pipe or a folder is an input that is no file: refused before SQLite
// opens it, which would take it for a database and make its journal beside it.
TEST_F(ProgramTest, ALedgerThatIsNoFileIsRefused) {
  ASSERT_EQ(::mkfifo(PathOf("pipe").c_str(), 0644), 0);
  std::filesystem::create_directory(PathOf("folder"));
  const std::vector<std::string> boards = Boards("a", 1);
  for (const char* name : {"pipe", "folder"}) {
    const std::string ledger = "sqlite:" + PathOf(name);
    const TRun runs[] = {
        Run({"ledger", "list", "--ledger", ledger}),
        Run({"ledger", "close-stale", "--older-than", "1h", "--ledger", ledger}),
        Program(boards, {"--ledger", ledger, "--serial", "counter:KV-%03d"}),
    };
    for (const TRun& run : runs) {
      EXPECT_EQ(run.code, kNoInput) << name;
      EXPECT_THAT(run.err, HasSubstr(PathOf(name) + ": not a regular file"));
    }
  }
  EXPECT_EQ(ReadFile(boards[0]), Eeprom());
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(FFolder)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"a0.eeprom", "folder", "pipe", "template.bin"}));
}

// Stale rows of a station that stopped: CliStationProcessTest.
TEST_F(ProgramTest, LedgerCommandsWithoutTheirOptionsAreUsageErrors) {
  EXPECT_EQ(Run({"ledger", "close-stale", "--older-than", "soon"}).code, kUsage);
  EXPECT_EQ(Run({"ledger", "close-stale"}).code, kUsage);
  EXPECT_EQ(Run({"ledger", "export"}).code, kUsage);
}

} // namespace
} // namespace clitest
