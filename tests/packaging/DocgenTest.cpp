// The parts of the page and completion generator that read the table's texts: synopses of shapes
// the table may grow (alternatives, optional positionals, repeats, subcommands) and roff escapes.
#include "CompletionModel.h"
#include "Roff.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

// "IMAGE:file", "list|find:words": the positionals in short.
std::vector<std::string> Places(std::string_view command, std::string_view synopsis,
                                bool* repeats = nullptr) {
  const std::vector<TCompletionOption> options = {
      {"-o", "OUT", "", TValueKind::File},
      {"--device", "PATH", "", TValueKind::Hub},
      {"--all", "", "", TValueKind::None},
      {"--generate", "", "", TValueKind::None},
  };
  bool last = false;
  std::vector<std::string> places;
  for (const TCompletionArg& arg :
       TCompletionModel::Positionals(command, synopsis, options, last)) {
    std::string words;
    for (const std::string& word : arg.words) {
      words += (words.empty() ? "" : "|") + word;
    }
    places.push_back((arg.kind == TValueKind::Words ? words : arg.name) + ":" +
                     std::to_string(static_cast<int>(arg.kind)));
  }
  if (repeats != nullptr) {
    *repeats = last;
  }
  return places;
}

std::string Kind(TValueKind kind) {
  return std::to_string(static_cast<int>(kind));
}

TEST(CompletionModelTest, PositionalsSkipOptionsAndTheirValues) {
  const std::string file = Kind(TValueKind::File);
  const std::string none = Kind(TValueKind::None);
  EXPECT_THAT(Places("import", "import FILE -o IMAGE"), ElementsAre("FILE:" + file));
  EXPECT_THAT(Places("write", "write IMAGE [--device PATH | --all] [-o OUT]"),
              ElementsAre("IMAGE:" + file));
  EXPECT_THAT(Places("erase", "erase [--device PATH | --all] --yes"), ElementsAre());
  // An alternative of an option and a positional: the positional keeps its place.
  EXPECT_THAT(Places("serial", "serial IMAGE (--generate | TEXT) [-o OUT]"),
              ElementsAre("IMAGE:" + file, "TEXT:" + none));
}

TEST(CompletionModelTest, AlternativesShareTheirPlace) {
  EXPECT_THAT(Places("ledger", "ledger (list | find SERIAL | export [-o OUT] | close-stale)"),
              ElementsAre("list|find|export|close-stale:" + Kind(TValueKind::Words),
                          "SERIAL:" + Kind(TValueKind::None)));
  EXPECT_THAT(Places("help", "help [COMMAND]"),
              ElementsAre("COMMAND:" + Kind(TValueKind::Command)));
  // A subcommand's own words are not positionals.
  EXPECT_THAT(Places("ledger find", "ledger find SERIAL [--device PATH]"),
              ElementsAre("SERIAL:" + Kind(TValueKind::None)));
}

TEST(CompletionModelTest, OnlyTheLastPlaceRepeats) {
  bool repeats = false;
  EXPECT_THAT(
      Places("set", "set IMAGE ID=VALUE... [-o OUT]", &repeats),
      ElementsAre("IMAGE:" + Kind(TValueKind::File), "ID=VALUE:" + Kind(TValueKind::Field)));
  EXPECT_TRUE(repeats);
  Places("x", "x FILE... OUT", &repeats);
  EXPECT_FALSE(repeats);
}

TEST(CompletionModelTest, StringsListIsAKindList) {
  EXPECT_EQ(TCompletionModel::KindOf("strings", "LIST"), TValueKind::KindList);
  EXPECT_EQ(TCompletionModel::KindOf("languages", "LIST"), TValueKind::None);
  EXPECT_EQ(TCompletionModel::KindOf("read", "PATH"), TValueKind::Hub);
}

TEST(CompletionModelTest, TableCommandsAndGroups) {
  const TCompletionModel model;
  const std::vector<TCompletionTopWord> words = model.TopWords();
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(words.back().name, "help");
  for (const TCompletionTopWord& word : words) {
    EXPECT_EQ(word.name.find(' '), std::string::npos) << word.name;
    EXPECT_FALSE(word.summary.empty()) << word.name;
  }
}

TEST(RoffTest, EscapesWhatRoffWouldRead) {
  EXPECT_EQ(TRoff::Escape("--all and C:\\x"), "\\-\\-all and C:\\ex");
  EXPECT_EQ(TRoff::Escape(".hidden\n'quote\nmid.dle"), "\\&.hidden\n\\&'quote\nmid.dle");
}

TEST(RoffTest, SynopsisMarksCommandsOptionsAndPlaceholders) {
  EXPECT_EQ(TRoff::Synopsis("set IMAGE ID=VALUE... [-o OUT]"),
            "\\fBset\\fR \\fIIMAGE\\fR \\fIID\\fR=\\fIVALUE\\fR... [\\fB\\-o\\fR \\fIOUT\\fR]");
  EXPECT_EQ(TRoff::Synopsis("erase (--device PATH | --all)"),
            "\\fBerase\\fR (\\fB\\-\\-device\\fR \\fIPATH\\fR | \\fB\\-\\-all\\fR)");
  EXPECT_EQ(TRoff::Synopsis("--vidpid VID:PID", false), "\\fB\\-\\-vidpid\\fR \\fIVID:PID\\fR");
  EXPECT_EQ(TRoff::Synopsis("ledger list", true), "\\fBledger\\fR \\fBlist\\fR");
}

} // namespace
