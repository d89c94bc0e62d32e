// Reading and editing the string area: the tail shift and descriptors.

#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

using namespace testimages;

namespace {

// ---- ShiftTail -------------------------------------------------------------------------------

TEST(ShiftTail, GrowthMovesTailAndRaisesEntriesAtOrAbovePosition) {
  TEEImage image = Load(PackedImage({kEn}, 0x03)); // descriptors at 30 and 38, length 46
  const TBytes before = ImageBytes(image);
  ASSERT_TRUE(image.ShiftTail(38, 2));
  EXPECT_EQ(image.GetLength(), 48u);
  EXPECT_EQ(EntryOf(image, 0, 0), 30);
  EXPECT_EQ(EntryOf(image, 1, 0), 40);
  EXPECT_TRUE(std::equal(before.begin() + 38, before.begin() + 46, ImageBytes(image).begin() + 40));
  EXPECT_EQ(image.GetByte(38), before[38]); // the gap keeps what it held
}

TEST(ShiftTail, ShrinkLowersEntriesFromTheCutOn) {
  TEEImage image = Load(PackedImage({kEn}, 0x03));
  ASSERT_TRUE(image.ShiftTail(38, -8)); // cut out the first descriptor, 30..37
  EXPECT_EQ(image.GetLength(), 38u);
  EXPECT_EQ(EntryOf(image, 0, 0), 22); // the removed descriptor's own entry goes down too
  EXPECT_EQ(EntryOf(image, 1, 0), 30);
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kProduct), Descriptor("10x"));
}

TEST(ShiftTail, AtTheEndOnlyChangesTheLength) {
  TEEImage image = Load(PackedImage({kEn}, 0x03));
  const TBytes before = ImageBytes(image);
  ASSERT_TRUE(image.ShiftTail(46, 6));
  EXPECT_EQ(image.GetLength(), 52u);
  EXPECT_EQ(ImageBytes(image), before);
}

TEST(ShiftTail, RefusesWhatWouldLeaveTheBufferOrCapacity) {
  TEEImage image = Load(PackedImage({kEn}, 0x03));
  const TSnapshot before = Snap(image);
  struct {
    uint32_t position;
    int32_t delta;
  } const cases[] = {{30, 512 - 46 + 1}, {47, 1},         {30, -31},
                     {0xFFFFFFFF, 1},    {46, INT32_MAX}, {30, INT32_MIN}};
  for (const auto& c : cases) {
    EXPECT_FALSE(image.ShiftTail(c.position, c.delta)) << c.position << " " << c.delta;
    EXPECT_EQ(Snap(image), before);
  }
  EXPECT_TRUE(image.ShiftTail(30, 512 - 46)); // exactly to capacity
  EXPECT_EQ(image.GetLength(), 512u);
}

TEST(ShiftTail, FixedKindIsLimitedByItsHeaderLength) {
  TBytes bytes(24);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(i);
  }
  bytes[0] = 0xD3;
  TEEImage image = Load(bytes);
  EXPECT_FALSE(image.ShiftTail(10, 1));
  ASSERT_TRUE(image.ShiftTail(10, -2));
  EXPECT_EQ(image.GetLength(), 22u);
  EXPECT_EQ(image.GetByte(8), 10);
}

// ---- Reading descriptors ---------------------------------------------------------------------

TEST(GetString, FindsDescriptorsByLanguageAndKind) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x07));
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kManufacturer), Descriptor("01x"));
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kProduct), Descriptor("10x"));
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kSerialNumber), Descriptor("SNx"));
  EXPECT_EQ(image.GetStringLength(kDe, TEEImage::kProduct), 8);
  struct {
    uint16_t langid;
    uint8_t kind;
  } const none[] = {{kFr, 0x01}, {kEn, 0x08}, {kEn, 0x03}, {kEn, 0x00}, {kEn, 0x80}};
  for (const auto& c : none) {
    EXPECT_EQ(image.GetStringLength(c.langid, c.kind), 0) << c.langid << " " << int(c.kind);
    EXPECT_TRUE(StringOf(image, c.langid, c.kind).empty());
  }
}

TEST(GetString, RepeatedLangidUsesFirstOccurrence) {
  TD4Builder b({kEn, kEn}, 0x01);
  b.Point(0, 0, b.Append(Descriptor("first")));
  b.Point(0, 1, b.Append(Descriptor("second")));
  TEEImage image = Load(b.Bytes());
  EXPECT_EQ(image.GetStringLength(kEn, 1), 12);
}

TEST(GetString, BufferSizeInByteZeroLimitsTheCopy) {
  TEEImage image = Load(PackedImage({kEn}, 0x01)); // one 8-byte descriptor
  TBytes small(8, 0xEE);
  small[0] = 7;
  EXPECT_FALSE(image.GetStringDescriptor(kEn, 1, small.data()));
  EXPECT_EQ(small, TBytes({7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  small[0] = 8;
  EXPECT_TRUE(image.GetStringDescriptor(kEn, 1, small.data()));
  EXPECT_EQ(small, Descriptor("00x"));
  EXPECT_FALSE(image.GetStringDescriptor(kEn, 1, nullptr));
}

// ---- SetStringDescriptor ---------------------------------------------------------------------

TEST(SetString, SameLengthRewritesInPlace) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x03));
  const uint32_t length = image.GetLength();
  ASSERT_TRUE(image.SetStringDescriptor(kDe, 1, Descriptor("abc").data()));
  EXPECT_EQ(image.GetLength(), length);
  EXPECT_EQ(EntryOf(image, 0, 1), 44);
  EXPECT_EQ(EntryOf(image, 1, 0), 52);
  EXPECT_EQ(StringOf(image, kDe, 1), Descriptor("abc"));
  EXPECT_EQ(StringOf(image, kEn, 1), Descriptor("00x"));
}

TEST(SetString, LongerDescriptorMovesOnlyWhatLiesBehind) {
  TEEImage image = Load(PackedImage({kEn, kDe}, 0x03)); // 36, 44 | 52, 60; length 68
  ASSERT_TRUE(image.SetStringDescriptor(kDe, 1, Descriptor("abcd").data()));
  EXPECT_EQ(image.GetLength(), 70u);
  EXPECT_EQ(EntryOf(image, 0, 0), 36);
  EXPECT_EQ(EntryOf(image, 0, 1), 44);
  EXPECT_EQ(EntryOf(image, 1, 0), 54);
  EXPECT_EQ(EntryOf(image, 1, 1), 62);
  EXPECT_EQ(StringOf(image, kDe, 2), Descriptor("11x"));
  ASSERT_TRUE(image.SetStringDescriptor(kEn, 1, Descriptor("a").data()));
  EXPECT_EQ(image.GetLength(), 66u);
  EXPECT_EQ(EntryOf(image, 0, 1), 40);
  EXPECT_EQ(EntryOf(image, 1, 1), 58);
  EXPECT_EQ(StringOf(image, kDe, 1), Descriptor("abcd"));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetString, SerialThroughAnyLanguageChangesAll) {
  TEEImage image = Load(PackedImage({kEn, kDe, kFr}, 0x05));
  ASSERT_TRUE(image.SetStringDescriptor(kDe, TEEImage::kSerialNumber, Descriptor("0042").data()));
  for (uint16_t langid : {kEn, kDe, kFr}) {
    EXPECT_EQ(StringOf(image, langid, TEEImage::kSerialNumber), Descriptor("0042"));
  }
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetString, SharedDescriptorOutsideSerialRowChangesForEveryEntry) {
  TEEImage image = Load(SharedAcrossRows());
  ASSERT_TRUE(image.IsValid());
  ASSERT_TRUE(image.SetStringDescriptor(kDe, TEEImage::kProduct, Descriptor("longer").data()));
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kManufacturer), Descriptor("longer"));
  EXPECT_EQ(StringOf(image, kDe, TEEImage::kManufacturer), Descriptor("m1"));
  EXPECT_EQ(StringOf(image, kEn, TEEImage::kProduct), Descriptor("p0"));
  EXPECT_TRUE(ReloadsValid(image));
}

TEST(SetString, GrowthToExactly512GoesAhead) {
  TEEImage image = Load(EndingAt({kEn}, 484)); // 16 characters are refused: see Refusals
  EXPECT_TRUE(image.SetStringDescriptor(kEn, 1, Descriptor(std::string(15, 'y')).data()));
  EXPECT_EQ(image.GetLength(), 512u);
}

TEST(SetString, RefusesDescriptorsThatWouldNotLoadAgain) {
  TEEImage image = Load(PackedImage({kEn}, 0x01));
  const TSnapshot before = Snap(image);
  const TBytes bad[] = {{2, 3}, {3, 3, 0x41}, {4, 2, 0x41, 0}, {4, 3, 0, 0}, {0, 3, 0x41, 0}};
  for (const TBytes& d : bad) {
    EXPECT_FALSE(image.SetStringDescriptor(kEn, 1, d.data())) << int(d[0]) << " " << int(d[1]);
  }
  EXPECT_FALSE(image.SetStringDescriptor(kEn, 1, nullptr));
  EXPECT_FALSE(image.SetStringDescriptor(kFr, 1, Descriptor("a").data()));
  EXPECT_FALSE(image.SetStringDescriptor(kEn, 2, Descriptor("a").data()));
  EXPECT_EQ(Snap(image), before);
}

} // namespace
