// Changing the string kinds and the languages of an image, and memory failures part-way.

#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testimages;

namespace {

// ---- SetSupportedStrings ---------------------------------------------------------------------

TEST(SetKinds, AddingSerialAddsOneSharedDescriptorAndRemovingRestores) {
  TEEImage image = Load(PackedImage({kEn, kDe, kFr}, 0x01));
  const uint32_t length = image.GetLength();
  const TBytes before = ImageBytes(image, length);
  ASSERT_TRUE(image.SetSupportedStrings(0x05));
  EXPECT_EQ(image.GetLength(), length + 10);
  EXPECT_EQ(image.GetSupportedStrings(), 0x05);
  EXPECT_EQ(EntryOf(image, 1, 0), length + 6);
  EXPECT_EQ(EntryOf(image, 1, 1), length + 6);
  EXPECT_EQ(EntryOf(image, 1, 2), length + 6);
  EXPECT_EQ(StringOf(image, kFr, TEEImage::kSerialNumber), kPlaceholder);
  EXPECT_TRUE(ReloadsValid(image));
  ASSERT_TRUE(image.SetSupportedStrings(0x01));
  EXPECT_EQ(image.GetLength(), length);
  EXPECT_EQ(ImageBytes(image, length), before);
}

TEST(SetKinds, RemovingAKindDeletesItsDescriptorsAndRow) {
  TD4Builder b({kEn, kDe, kFr}, 0x03);
  for (uint32_t j = 0; j < 3; ++j) {
    b.Point(0, j, b.Append(Descriptor("m" + std::to_string(j)))); // 6 bytes each
  }
  for (uint32_t j = 0; j < 3; ++j) {
    b.Point(1, j, b.Append(Descriptor("pr" + std::to_string(j))));
  }
  TEEImage image = Load(b.Bytes());
  const uint32_t length = image.GetLength();
  const uint16_t product0 = EntryOf(image, 1, 0);
  ASSERT_TRUE(image.SetSupportedStrings(0x02));
  EXPECT_EQ(image.GetLength(), length - 24);
  for (uint32_t j = 0; j < 3; ++j) {
    EXPECT_EQ(EntryOf(image, 0, j), product0 - 24 + 8 * j);
  }
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kProduct), Descriptor("pr1"));
  EXPECT_EQ(image.GetStringLength(kEn, TEEImage::kManufacturer), 0);
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetKinds, RemovingTwoKindsAtOnceKeepsTheRemainingRowRight) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x0B));
  ASSERT_TRUE(image.SetSupportedStrings(0x08));
  EXPECT_EQ(image.GetSupportedStrings(), 0x08);
  EXPECT_EQ(image.GetLength(), 24u + 8 + 16);
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kConfigFS), Descriptor("20x"));
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kConfigFS), Descriptor("21x"));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetKinds, AddedRowGoesBetweenRowsAndDescriptorsAtTheEnd) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x11));
  const uint32_t length = image.GetLength();
  ASSERT_TRUE(image.SetSupportedStrings(0x13));
  EXPECT_EQ(image.GetLength(), length + 12);
  EXPECT_EQ(EntryOf(image, 1, 0), length + 4);
  EXPECT_EQ(EntryOf(image, 1, 1), length + 8);
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kProduct), kPlaceholder);
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kConfigHS), Descriptor("11x"));
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kManufacturer), Descriptor("00x"));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetKinds, ReservedBitIsAKindLikeTheOthers) {
  TEEImage image = Load(PackedImage({kEn}, 0x01));
  ASSERT_TRUE(image.SetSupportedStrings(0x81));
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kReserved), kPlaceholder);
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetKinds, WithoutLanguagesOnlyTheMaskChanges) {
  TEEImage image = Load(TD4Builder({}, 0).Bytes());
  ASSERT_TRUE(image.SetSupportedStrings(0x07));
  EXPECT_EQ(image.GetLength(), 24u);
  EXPECT_EQ(image.GetSupportedStrings(), 0x07);
  EXPECT_FALSE(ReloadsValid(image)); // strings without languages, until languages come
  const uint16_t langs[] = {kEn, kDe};
  ASSERT_TRUE(image.SetLanguages(langs, 2));
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kSerialNumber), kPlaceholder);
  EXPECT_EQ(EntryOf(image, 2, 0), EntryOf(image, 2, 1));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetKinds, DescriptorSharedWithAnotherRowSurvivesItsRowsRemoval) {
  TEEImage image = Load(SharedAcrossRows());
  const uint32_t length = image.GetLength();
  ASSERT_TRUE(image.SetSupportedStrings(0x02));
  EXPECT_EQ(image.GetLength(), length - 4 - 6); // the row and "m1" only
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kProduct), Descriptor("both"));
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kProduct), Descriptor("p0"));
  EXPECT_TRUE(ReloadsValid(image));
  ASSERT_TRUE(image.SetSupportedStrings(0x00));
  EXPECT_EQ(image.GetLength(), 24u + 4); // languages stay, without strings
}

// ---- SetLanguages ----------------------------------------------------------------------------

TEST(SetLangs, KeepingOneOfThreeCompactsTables) {
  TEEImage image = Load(PackedImage({kEn, kDe, kFr}, 0x03));
  ASSERT_TRUE(image.SetLanguages(&kDe, 1));
  EXPECT_EQ(LangidsOf(image), std::vector<uint16_t>{kDe});
  EXPECT_EQ(EntryOf(image, 0, 0), 30);
  EXPECT_EQ(EntryOf(image, 1, 0), 38);
  EXPECT_EQ(image.GetLength(), 46u);
  EXPECT_EQ(StringOf(image, kDe, 1), Descriptor("01x"));
  EXPECT_EQ(StringOf(image, kDe, 2), Descriptor("11x"));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetLangs, ReplacingTheOnlyLanguageSharesOneNewSerialDescriptor) {
  TEEImage image = Load(PackedImage({kEn}, 0x07));
  const uint16_t langs[] = {kDe, kFr};
  ASSERT_TRUE(image.SetLanguages(langs, 2));
  EXPECT_EQ(LangidsOf(image), (std::vector<uint16_t>{kDe, kFr}));
  EXPECT_EQ(EntryOf(image, 2, 0), EntryOf(image, 2, 1));
  // Tables of 2 languages and 3 rows, then placeholders: two manufacturer, two product, one serial.
  EXPECT_EQ(image.GetLength(), 24u + 16 + 5 * 4);
  EXPECT_EQ(StringOf(image, kFr, TEEImage::kSerialNumber), kPlaceholder);
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetLangs, AddedLanguageJoinsTheSharedSerial) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x05));
  const uint32_t length = image.GetLength();
  const uint16_t langs[] = {kEn, kDe, kFr};
  ASSERT_TRUE(image.SetLanguages(langs, 3));
  EXPECT_EQ(image.GetLength(), length + 2 + 4 + 4); // LANGID, two entries, one placeholder
  EXPECT_EQ(EntryOf(image, 1, 2), EntryOf(image, 1, 0));
  EXPECT_EQ(StringOf(image, kFr, TEEImage::kSerialNumber), Descriptor("SNx"));
  EXPECT_EQ(StringOf(image, kFr, TEEImage::kManufacturer), kPlaceholder);
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kManufacturer), Descriptor("01x"));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetLangs, EmptyListDropsEverythingButKeepsTheMask) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x07));
  ASSERT_TRUE(image.SetLanguages(nullptr, 0));
  EXPECT_EQ(image.GetLanguageCount(), 0);
  EXPECT_EQ(image.GetLength(), 24u);
  EXPECT_EQ(image.GetSupportedStrings(), 0x07);
}

TEST(SetLangs, SameLanguagesInAnyOrderChangeNothing) {
  TEEImage image = Load(PackedImage({kEn, kDe, kFr}, 0x07));
  const TSnapshot before = Snap(image);
  const uint16_t langs[] = {kFr, kEn, kDe};
  EXPECT_TRUE(image.SetLanguages(langs, 3));
  EXPECT_EQ(Snap(image), before);
}

TEST(SetLangs, KeptLanguagesStayInPlaceAndNewOnesFollowInListOrder) {
  TEEImage image = Load(PackedImage({kEn, 0x0000, kDe}, 0x01));
  const uint16_t langs[] = {0x0411, kDe, 0x0000, kFr, kFr};
  ASSERT_TRUE(image.SetLanguages(langs, 5));
  EXPECT_EQ(LangidsOf(image), (std::vector<uint16_t>{0x0000, kDe, 0x0411, kFr}));
  EXPECT_EQ(StringOf(image, 0x0000, 1), Descriptor("01x"));
  EXPECT_EQ(StringOf(image, kDe, 1), Descriptor("02x"));
  EXPECT_EQ(StringOf(image, kFr, 1), kPlaceholder);
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetLangs, RemovingAllOfTwentyWithOnlySerialGoesAhead) {
  std::vector<uint16_t> langs(20);
  for (uint16_t j = 0; j < 20; ++j) {
    langs[j] = static_cast<uint16_t>(0x0400 + j);
  }
  TEEImage image = Load(PackedImage(langs, 0x04));
  ASSERT_EQ(image.GetLength(), 24u + 80 + 8);
  ASSERT_TRUE(image.SetLanguages(nullptr, 0));
  EXPECT_EQ(image.GetLength(), 24u);
}

TEST(SetLangs, NewLanguageThatFitsGoesAhead) {
  TEEImage image = Load(EndingAt({kEn}, 500)); // one more is refused: see Refusals
  const uint16_t two[] = {kEn, kDe};
  EXPECT_TRUE(image.SetLanguages(two, 2)); // LANGID, entry, placeholder: 500 + 8
  EXPECT_EQ(image.GetLength(), 508u);
}

TEST(SetLangs, DescriptorSharedAcrossLanguagesStaysWithTheKeptOne) {
  TD4Builder b({kEn, kDe}, 0x01);
  b.PointRow(0, b.Append(Descriptor("same")));
  TEEImage image = Load(b.Bytes());
  ASSERT_TRUE(image.SetLanguages(&kDe, 1));
  EXPECT_EQ(StringOf(image, kDe, 1), Descriptor("same"));
  EXPECT_TRUE(ReloadsValid(image));
  ASSERT_TRUE(image.SetLanguages(&kFr, 1));
  EXPECT_EQ(image.GetLength(), 24u + 4 + 4);
  EXPECT_EQ(StringOf(image, kFr, 1), kPlaceholder);
}

// ---- Room reckoned exactly -------------------------------------------------------------------

// Manufacturer only, two languages: "a", then a 100-byte descriptor ending at 510.
TBytes LongSecondLanguage() {
  TD4Builder b({kEn, kDe}, 0x01);
  b.Point(0, 0, b.Append(Descriptor("a")));
  b.Point(0, 1, b.Append(Descriptor(std::string(49, 'd')), 410 - b.End()));
  return b.Bytes();
}

TEST(ExactRoom, ChangesThatFitGoAheadToTheLastByte) {
  std::vector<uint16_t> many(121);
  for (uint16_t j = 0; j < many.size(); ++j) {
    many[j] = static_cast<uint16_t>(0x1000 + j);
  }
  const uint16_t replaced[] = {kEn, kFr, 0x0411};
  struct TFit {
    const char* name;
    TBytes bytes;
    std::function<bool(TEEImage&)> change;
    uint32_t length;
  } cases[] = {
      // 2N + 4, not 6N: 500 + 10.
      {"serial number added to three languages", EndingAt({kEn, kDe, kFr}, 500),
       [](TEEImage& i) { return i.SetSupportedStrings(0x05); }, 510},
      // The 100 + 4 bytes of the removed language pay for two new ones (16).
      {"language with a long string replaced by two", LongSecondLanguage(),
       [&](TEEImage& i) { return i.SetLanguages(replaced, 3); }, 422},
      // 24 + 121 LANGIDs + 121 entries + one shared placeholder.
      {"121 languages sharing one serial placeholder", TD4Builder({}, 0).Bytes(),
       [&](TEEImage& i) { return i.SetSupportedStrings(0x04) && i.SetLanguages(many.data(), 121); },
       512},
  };
  for (const TFit& c : cases) {
    TEEImage image = Load(c.bytes);
    ASSERT_TRUE(image.IsValid()) << c.name;
    // A refusal leaves a reason behind, which the success must clear.
    ASSERT_FALSE(image.SetStringDescriptor(0x7777, 1, kPlaceholder.data())) << c.name;
    EXPECT_TRUE(c.change(image)) << c.name;
    EXPECT_EQ(image.LastStringOutcome(), TStringOutcome{}) << c.name;
    EXPECT_EQ(image.GetLength(), c.length) << c.name;
    EXPECT_TRUE(ReloadsValid(image)) << c.name;
  }
}

// ---- Memory failures part-way ----------------------------------------------------------------

// Makes every allocation of `change` fail in turn; each failure must leave the image exactly as
// it was and report a non-fatal "Out of memory"; in the end the change must go through.
template <typename TChange> void FailEachAllocation(const TBytes& bytes, TChange change) {
  bool completed = false;
  for (int32_t index = 0; index < 64 && !completed; ++index) {
    TEEImage image = Load(bytes);
    const TSnapshot before = Snap(image);
    bool result = false;
    bool reached = false;
    const auto reports = ReportsWhenAllocationFails(
        index, [&] { result = change(image); }, &reached);
    completed = !reached;
    if (completed) {
      EXPECT_TRUE(result);
      EXPECT_NE(Snap(image), before);
    } else {
      EXPECT_FALSE(result) << "allocation " << index;
      EXPECT_EQ(Snap(image), before) << "allocation " << index;
      EXPECT_EQ(reports, std::vector<bool>{false}) << "allocation " << index;
      EXPECT_EQ(image.LastStringOutcome(), TStringOutcome{TStringRefusal::OutOfMemory})
          << "allocation " << index;
    }
  }
  EXPECT_TRUE(completed);
}

TEST(OutOfMemory, EveryFailingAllocationLeavesTheImageAsItWas) {
  const TBytes three = PackedImage({kEn, kDe, kFr}, 0x07);
  FailEachAllocation(three, [](TEEImage& i) { return i.SetSupportedStrings(0x1A); });
  FailEachAllocation(three, [](TEEImage& i) {
    const uint16_t langs[] = {kDe, 0x0411, 0x0412};
    return i.SetLanguages(langs, 3);
  });
  FailEachAllocation(three, [](TEEImage& i) { return i.SetLanguages(&kFr, 1); });
  FailEachAllocation(three, [](TEEImage& i) {
    return i.SetStringDescriptor(kEn, 1, Descriptor("longer text").data());
  });
  FailEachAllocation(three, [](TEEImage& i) { return i.ShiftTail(40, 2); });
}

} // namespace
