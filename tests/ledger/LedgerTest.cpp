// The ledger on each of its databases: the same cases against SQLite and against a real
// PostgreSQL server (run by `make test` in a throwaway cluster; see scripts/with-postgres).

#include "Ledger.h"
#include "LedgerError.h"
#include "PostgresStore.h"
#include "SerialNumber.h"
#include "SqliteStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TSerials = std::vector<std::optional<std::string>>;

// A fresh, empty ledger for each test, of one kind of database.
class TBackend {
public:
  virtual ~TBackend() = default;
  virtual std::string Name() const = 0;
  virtual std::string Url() = 0; // a new, empty ledger
  virtual void RemoveAll() {}    // every ledger Url made, once they are closed
};

class TSqliteBackend : public TBackend {
public:
  std::string Name() const override { return "sqlite"; }
  std::string Url() override {
    const auto folder =
        std::filesystem::temp_directory_path() /
        ("korvane-ledger-" + std::to_string(getpid()) + "-" + std::to_string(++FCount));
    std::filesystem::remove_all(folder);
    FFolders.push_back(folder);
    return "sqlite:" + (folder / "sub" / "ledger.sqlite").string(); // the folder is made
  }
  void RemoveAll() override {
    for (const std::filesystem::path& folder : FFolders) {
      std::filesystem::remove_all(folder);
    }
    FFolders.clear();
  }

private:
  int FCount = 0;
  std::vector<std::filesystem::path> FFolders;
};

// The server of the PG* variables; each test starts from a database without the ledger's tables.
class TPostgresBackend : public TBackend {
public:
  std::string Name() const override { return "postgresql"; }
  std::string Url() override {
    TPostgresStore store("");
    store.Run("DROP TABLE IF EXISTS boards, counters, korvane_schema");
    return "postgresql:";
  }
};

std::vector<std::shared_ptr<TBackend>> Backends() {
  std::vector<std::shared_ptr<TBackend>> backends = {std::make_shared<TSqliteBackend>()};
  if (std::getenv("KORVANE_TEST_POSTGRES") != nullptr) {
    backends.push_back(std::make_shared<TPostgresBackend>());
  }
  return backends;
}

TSerialScheme Scheme(const std::string& text) {
  TSerialScheme scheme;
  std::string error;
  EXPECT_TRUE(TSerialScheme::Parse(text, scheme, error)) << error;
  return scheme;
}

TLedgerRow Attempt(const std::string& hub) {
  TLedgerRow row;
  row.FStation = "bench-1";
  row.FHub = hub;
  row.FSha256 = std::string(64, 'a');
  row.FBackup = "korvane-backup-" + hub + ".bin";
  row.FVersion = "0.1.0";
  return row;
}

std::vector<std::string> SerialsOf(const std::vector<std::optional<TLedger::TTaken>>& taken) {
  std::vector<std::string> serials;
  for (const auto& one : taken) {
    serials.push_back(one ? one->FSerial : "<none>");
  }
  return serials;
}

class LedgerTest : public testing::TestWithParam<std::shared_ptr<TBackend>> {
protected:
  void SetUp() override {
    FUrl = GetParam()->Url();
    FLedger = TLedger::Open(FUrl);
  }
  void TearDown() override {
    TSerialNumber::SetClock({});
    FLedger.reset();
    GetParam()->RemoveAll();
  }

  std::vector<std::string> Take(const std::string& scheme, size_t boards) {
    std::vector<TLedgerRow> rows;
    for (size_t i = 0; i < boards; ++i) {
      rows.push_back(Attempt("sim:hub" + std::to_string(i)));
    }
    return SerialsOf(FLedger->Take(Scheme(scheme), rows));
  }

  std::string FUrl;
  std::unique_ptr<TLedger> FLedger;
};

TEST_P(LedgerTest, ACounterGivesEachNumberOnceAndRecordsTheAttempt) {
  EXPECT_EQ(Take("counter:KV-%06d", 3),
            (std::vector<std::string>{"KV-000001", "KV-000002", "KV-000003"}));
  EXPECT_EQ(Take("counter:KV-%06d", 1), std::vector<std::string>{"KV-000004"});
  EXPECT_EQ(Take("counter:%d%%", 1), std::vector<std::string>{"1%"}); // a counter per format
  const std::vector<TLedgerRow> rows = FLedger->List();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].FResult, "sending");
  EXPECT_EQ(rows[0].FStation, "bench-1");
  EXPECT_EQ(rows[0].FHub, "sim:hub0");
  EXPECT_EQ(rows[0].FScheme, "counter:KV-%06d");
  EXPECT_EQ(rows[0].FBackup, "korvane-backup-sim:hub0.bin");
  EXPECT_EQ(rows[0].FTime.size(), 20u); // 2026-12-10T03:08:24Z
  EXPECT_EQ(rows[0].FTime.back(), 'Z');
  // A counter that exists keeps counting; a new one starts where it is told to.
  TSerialScheme started = Scheme("counter:B%03d");
  started.SetStart(500);
  EXPECT_EQ(SerialsOf(FLedger->Take(started, {Attempt("a")})), std::vector<std::string>{"B500"});
  started.SetStart(7);
  EXPECT_EQ(SerialsOf(FLedger->Take(started, {Attempt("a")})), std::vector<std::string>{"B501"});
}

// The counter's last number is INT64_MAX (BIGINT's largest): after it the boards get none, on
// every later take too, and the counter never starts again from a small number.
TEST_P(LedgerTest, ACounterAtItsLastNumberGivesNoMore) {
  TSerialScheme scheme = Scheme("counter:%d");
  scheme.SetStart(9223372036854775806u);
  EXPECT_EQ(SerialsOf(FLedger->Take(scheme, {Attempt("a")})),
            std::vector<std::string>{"9223372036854775806"});
  const auto last = FLedger->Take(scheme, {Attempt("b"), Attempt("c")});
  EXPECT_EQ(SerialsOf(last), (std::vector<std::string>{"9223372036854775807", "<none>"}));
  EXPECT_EQ(Take("counter:%d", 2), (std::vector<std::string>{"<none>", "<none>"}));
  EXPECT_EQ(FLedger->Preview(scheme, 1), TSerials{std::nullopt});
  // The last number, never sent, is given again, and no other.
  FLedger->GiveBack(last[0]->FId);
  EXPECT_EQ(Take("counter:%d", 2), (std::vector<std::string>{"9223372036854775807", "<none>"}));
  EXPECT_EQ(FLedger->List().size(), 3u);
}

// A serial that reached a board is never given again; one that never did goes to the next board.
TEST_P(LedgerTest, OnlyASerialGivenBackIsGivenAgain) {
  const auto taken =
      FLedger->Take(Scheme("counter:S%d"), {Attempt("a"), Attempt("b"), Attempt("c")});
  FLedger->Finish(taken[0]->FId, "programmed", "");
  FLedger->Finish(taken[1]->FId, "failed", "writing failed");
  FLedger->GiveBack(taken[2]->FId);
  EXPECT_EQ(Take("counter:S%d", 2), (std::vector<std::string>{"S3", "S4"}));
  const std::vector<TLedgerRow> rows = FLedger->Find("S3");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].FResult, "returned");
  EXPECT_EQ(rows[1].FResult, "sending");
  EXPECT_EQ(FLedger->Find("S2").at(0).FError, "writing failed");
  EXPECT_TRUE(FLedger->Find("S9").empty());
}

TEST_P(LedgerTest, AListGivesTheLinesNoRowUsesUntilNoneIsLeft) {
  TSerialScheme list = Scheme("list:serials.txt");
  list.SetLines(TSerialScheme::SplitLines("A-1\r\nA-2\n\nA-3\nA-2\n"));
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A-1", "A-2", "A-3", "A-2"}));
  TLedgerRow kept = Attempt("k");
  kept.FSerial = "A-2"; // a board kept it: it is in use
  kept.FKept = true;
  FLedger->Record(kept);
  EXPECT_EQ(SerialsOf(FLedger->Take(list, {Attempt("a"), Attempt("b"), Attempt("c")})),
            (std::vector<std::string>{"A-1", "A-3", "<none>"}));
}

TEST_P(LedgerTest, ClockSerialsAreConsecutiveWithinASecondAndCatchUpWithTheClock) {
  int64_t now = 1796731200; // 2026-12-08 12:00:00 UTC: 000032AA4B4E
  TSerialNumber::SetClock([&now] { return now; });
  EXPECT_EQ(Take("clock", 3),
            (std::vector<std::string>{"000032AA4B4E", "000032AA4B4F", "000032AA4B50"}));
  EXPECT_EQ(Take("clock", 1), std::vector<std::string>{"000032AA4B51"}); // ahead of the clock
  now += 60;
  EXPECT_EQ(Take("clock", 1), std::vector<std::string>{"000032AA4B8A"}); // caught up
}

TEST_P(LedgerTest, APreviewTakesNothing) {
  Take("counter:P%d", 2);
  EXPECT_EQ(FLedger->Preview(Scheme("counter:P%d"), 2), (TSerials{"P3", "P4"}));
  EXPECT_EQ(FLedger->Preview(Scheme("counter:Q%d"), 1), (TSerials{"Q1"}));
  EXPECT_EQ(FLedger->List().size(), 2u);
  EXPECT_EQ(Take("counter:P%d", 1), std::vector<std::string>{"P3"});
}

// A station killed mid-run leaves rows at "sending": still used, closed as interrupted later.
TEST_P(LedgerTest, StaleRowsCloseAsInterruptedAndStayUsed) {
  const auto taken = FLedger->Take(Scheme("counter:I%d"), {Attempt("a"), Attempt("b")});
  FLedger->Finish(taken[0]->FId, "programmed", "");
  EXPECT_EQ(FLedger->CloseStale(1h), 0u);  // nothing is an hour old
  EXPECT_EQ(FLedger->CloseStale(-5s), 1u); // everything is older than five seconds from now
  EXPECT_EQ(FLedger->Find("I2").at(0).FResult, "interrupted");
  EXPECT_EQ(Take("counter:I%d", 1), std::vector<std::string>{"I3"});
}

// Stations that start at once on a new database, and take at once, each with a connection.
TEST_P(LedgerTest, SeveralConnectionsAtOnceNeverShareASerial) {
  const std::string url = GetParam()->Url();
  std::vector<std::future<std::vector<std::string>>> stations;
  for (int station = 0; station < 4; ++station) {
    stations.push_back(std::async(std::launch::async, [url] {
      const auto ledger = TLedger::Open(url);
      std::vector<std::string> serials;
      for (int board = 0; board < 10; ++board) {
        for (const auto& taken : ledger->Take(Scheme("counter:C%04d"), {Attempt("x")})) {
          serials.push_back(taken->FSerial);
        }
      }
      return serials;
    }));
  }
  std::set<std::string> all;
  for (auto& station : stations) {
    for (const std::string& serial : station.get()) {
      EXPECT_TRUE(all.insert(serial).second) << serial << " given twice";
    }
  }
  EXPECT_EQ(all.size(), 40u);
  EXPECT_EQ(*all.rbegin(), "C0040");
}

TEST_P(LedgerTest, ADryRunCreatesAndWritesNothing) {
  const std::string url = GetParam()->Url();
  const auto ledger = TLedger::Open(url, true);
  EXPECT_EQ(ledger->Preview(Scheme("counter:D%d"), 2), (TSerials{"D1", "D2"}));
  if (url.rfind("sqlite:", 0) == 0) {
    EXPECT_FALSE(std::filesystem::exists(url.substr(7)));
  } else {
    EXPECT_FALSE(TPostgresStore("").HasTable("korvane_schema"));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, LedgerTest, testing::ValuesIn(Backends()),
                         [](const auto& info) { return info.param->Name(); });

TEST(LedgerOpen, WhatCannotBeReachedIsALedgerError) {
  for (const char* url : {"sqlite:/proc/korvane/ledger.sqlite", "mysql://db/ledger",
                          "sqlite:", "postgresql://nobody@127.0.0.1:1/none?connect_timeout=2"}) {
    EXPECT_THROW(TLedger::Open(url), TLedgerError) << url;
  }
}

TEST(LedgerOpen, TheDefaultLedgerIsUnderAnAbsoluteXdgDataHomeElseUnderHome) {
  const std::string kept = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
  const bool had = std::getenv("XDG_DATA_HOME") != nullptr;
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : ".";
  const std::pair<const char*, std::string> cases[] = {
      {"/srv/line", "sqlite:/srv/line/korvane/ledger.sqlite"},
      {"data", "sqlite:" + home + "/.local/share/korvane/ledger.sqlite"},
      {"", "sqlite:" + home + "/.local/share/korvane/ledger.sqlite"},
      {nullptr, "sqlite:" + home + "/.local/share/korvane/ledger.sqlite"},
  };
  for (const auto& [data, url] : cases) {
    if (data != nullptr) {
      ::setenv("XDG_DATA_HOME", data, 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
    EXPECT_EQ(TLedger::DefaultUrl(), url) << (data ? data : "unset");
  }
  if (had) {
    ::setenv("XDG_DATA_HOME", kept.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST(LedgerOpen, ALedgerOfANewerSchemaIsRefused) {
  const std::string path = std::filesystem::temp_directory_path() /
                           ("korvane-ledger-newer-" + std::to_string(getpid()) + ".sqlite");
  std::filesystem::remove(path);
  TLedger::Open("sqlite:" + path);
  {
    TSqliteStore store(path, false);
    store.Run("UPDATE korvane_schema SET version = 99");
  }
  EXPECT_THROW(TLedger::Open("sqlite:" + path), TLedgerError);
  std::filesystem::remove(path);
}

} // namespace
