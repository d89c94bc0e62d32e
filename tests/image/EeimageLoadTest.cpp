// Loading and measuring images, byte access, copying out and the LANGID table.

#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace testimages;

namespace {

// Each case is loaded as given: the signature decides the kind, and for 0xD4 the string area is
// checked, one thing right or wrong in each.
struct TLoadCase {
  const char* name;
  TBytes bytes;
  bool valid;
  uint32_t length;
};

void PrintTo(const TLoadCase& c, std::ostream* out) {
  *out << c.name;
}

class ImageLoad : public testing::TestWithParam<TLoadCase> {};

TEST_P(ImageLoad, DecidesValidityAndLength) {
  const TLoadCase& c = GetParam();
  TEEImage image = Load(c.bytes);
  EXPECT_EQ(image.IsValid(), c.valid);
  EXPECT_EQ(image.GetLength(), c.length);
  // A valid image's own bytes, as a file or a device write holds them, load as the same image.
  if (image.IsValid()) {
    TBytes own(c.bytes.begin(), c.bytes.begin() + std::min<size_t>(c.bytes.size(), c.length));
    TEEImage again = Load(own);
    EXPECT_TRUE(again.IsValid());
    EXPECT_EQ(again.GetLength(), c.length);
  }
}

TBytes ManufacturerAndSerial(uint16_t serialFirst, uint16_t serialSecond) {
  TD4Builder b({0x0409, 0x0407}, 0x05);
  b.Point(0, 0, b.Append(Descriptor("abc")));
  b.Point(0, 1, b.Append(Descriptor("def")));
  b.PlaceAt(52, Descriptor("1234"));
  b.PlaceAt(62, Descriptor("5678"));
  b.Point(1, 0, serialFirst);
  b.Point(1, 1, serialSecond);
  return b.Bytes();
}

TBytes ManyLanguages(uint32_t languages, uint8_t mask) {
  TBytes bytes = Filled(0xD4, 512, 0);
  bytes[20] = static_cast<uint8_t>(languages);
  bytes[21] = mask;
  return bytes;
}

TBytes WithReservedRow(bool goodReserved) {
  TD4Builder b({0x0409}, 0x81);
  b.Point(0, 0, b.Append(Descriptor("m")));
  b.Point(1, 0, b.Append(goodReserved ? Descriptor("r") : TBytes{4, 2, 0x20, 0}));
  return b.Bytes();
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImageLoad,
                         testing::Values(TLoadCase{"D0_single_byte", {0xD0}, true, 7},
                                         TLoadCase{"D0_given_24", Filled(0xD0, 24), true, 7},
                                         TLoadCase{"D2_given_3", Filled(0xD2, 3), true, 13},
                                         TLoadCase{"D2_given_600", Filled(0xD2, 600), true, 13},
                                         TLoadCase{"D3_given_1", {0xD3}, true, 24},
                                         TLoadCase{"D4_single_byte", {0xD4}, true, 24},
                                         TLoadCase{"D1_unknown", Filled(0xD1, 40), false, 40},
                                         TLoadCase{"FF_erased", Filled(0xFF, 512), false, 512},
                                         TLoadCase{"unknown_longer_than_buffer", Filled(0x00, 700),
                                                   false, 512},
                                         TLoadCase{"empty", {}, false, 0}),
                         TCaseName());

INSTANTIATE_TEST_SUITE_P(
    StringArea, ImageLoad,
    testing::Values(TLoadCase{"languages_without_strings", TD4Builder({1, 2}, 0).Bytes(), false,
                              28},
                    TLoadCase{"strings_without_languages", TD4Builder({}, 0x01).Bytes(), false, 24},
                    TLoadCase{"descriptor_order_reversed", TwoKindsOneLanguage(40, 30), true, 50},
                    TLoadCase{"overlapping_counts_once", TwoKindsOneLanguage(30, 36), true, 40},
                    // The product's header (38 to 41) reaches past the manufacturer's end.
                    TLoadCase{"header_past_the_end", TwoKindsOneLanguage(30, 38), true, 42},
                    TLoadCase{"serial_shared", ManufacturerAndSerial(52, 52), true, 62},
                    TLoadCase{"serial_entries_differ", ManufacturerAndSerial(52, 62), false, 62},
                    TLoadCase{"zero_first_character", OneString({4, 3, 0, 0}), false, 28},
                    TLoadCase{"bLength_3", OneString({3, 3, 0x41, 0}), false, 28},
                    TLoadCase{"bLength_2_empty", OneString({2, 3, 0x41, 0}), false, 28},
                    TLoadCase{"wrong_type", OneString({4, 2, 0x41, 0}), false, 28},
                    TLoadCase{"odd_bLength", OneString({5, 3, 0x41, 0, 0x42}), true, 33},
                    TLoadCase{"offset_512", OneString({4, 3, 0x41, 0}, 512), false, 28},
                    TLoadCase{"header_past_511", OneString({4, 3, 0x41, 0}, 510), false, 28},
                    TLoadCase{"body_past_511", OneString({40, 3, 0x41, 0}, 480), false, 28},
                    TLoadCase{"body_ends_at_512", OneString({32, 3, 0x41, 0}, 480), true, 512},
                    TLoadCase{"reserved_bit_counts", WithReservedRow(true), true, 38},
                    TLoadCase{"reserved_bit_checked", WithReservedRow(false), false, 34},
                    TLoadCase{"tables_past_511", ManyLanguages(245, 0x01), false, 512},
                    TLoadCase{"tables_to_512", ManyLanguages(122, 0x01), false, 512}),
    TCaseName());

TEST(ImageLoadBuffer, FixedKindPadsWithZeroAndKeepsSurplusInBuffer) {
  TBytes bytes{0xD0, 1, 2};
  bytes.resize(24, 0x33);
  TEEImage image(bytes.data(), 24);
  EXPECT_EQ(image.GetByte(1), 1);
  EXPECT_EQ(image.GetByte(20), 0x33); // beyond the length, still in the buffer
  TEEImage shortOne(bytes.data(), 3);
  EXPECT_EQ(shortOne.GetByte(5), 0);
}

TEST(ImageLoadBuffer, NegativeCountAndNullBytesSupplyNothing) {
  const uint8_t d0 = 0xD0;
  TEEImage negative(&d0, -5);
  EXPECT_FALSE(negative.IsValid());
  EXPECT_EQ(negative.GetLength(), 0u);
  TEEImage none(nullptr, 20);
  EXPECT_FALSE(none.IsValid());
  EXPECT_EQ(none.GetByte(0), 0);
}

TEST(ImageLoadBuffer, OnlyFirst512BytesAreUsed) {
  TBytes bytes = PackedImage({0x0409}, 0x01);
  bytes.resize(700, 0xEE);
  bytes[600] = 0xAB;
  TEEImage image(bytes.data(), 700);
  EXPECT_TRUE(image.IsValid());
  EXPECT_EQ(image.GetByte(511), 0xEE);
  EXPECT_EQ(image.GetByte(600), 0);
}

TEST(ImageBytes, OutsideTheBufferReadsZeroAndWritesNothing) {
  TBytes bytes(512, 0x5C);
  bytes[0] = 0xD3;
  TEEImage image(bytes.data(), 512);
  for (int32_t offset : {-1, 512, 513, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(image.GetByte(offset), 0) << offset;
    image.SetByte(offset, 0x99);
  }
  EXPECT_EQ(ImageBytes(image), bytes);
  image.SetByte(511, 0x12);
  EXPECT_EQ(image.GetByte(511), 0x12);
  EXPECT_EQ(image.GetLength(), 24u); // a byte write never changes the length
}

TEST(ImageBytes, ImageWithoutBufferIsInertEverywhere) {
  TEEImage image(std::string("/nonexistent/folder/image.bin"));
  EXPECT_FALSE(image.IsValid());
  EXPECT_EQ(image.GetLength(), 0u);
  image.SetByte(0, 0xD4);
  EXPECT_EQ(image.GetByte(0), 0);
  EXPECT_EQ(image.GetLanguageCount(), 0);
  uint8_t out[4] = {7, 7, 7, 7};
  EXPECT_TRUE(image.CopyTo(out, 4));
  EXPECT_EQ(out[0], 7);
  EXPECT_FALSE(image.ShiftTail(0, 4));
  EXPECT_EQ(image.GetStringLength(0x0409, 1), 0);
  EXPECT_FALSE(image.SetStringDescriptor(0x0409, 1, Descriptor("a").data()));
  EXPECT_TRUE(image.SetSupportedStrings(0x01)); // not a 0xD4 image: nothing to change
  EXPECT_EQ(image.GetLength(), 0u);
  EXPECT_EQ(image.GetByte(21), 0);
}

TEST(ImageCopy, CopiesUpToCapacity) {
  TBytes bytes = Filled(0xD2, 40);
  TEEImage image(bytes.data(), 40);
  TBytes out(512, 0xEE);
  EXPECT_TRUE(image.CopyTo(out.data(), 512));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 13, out.begin()));
  EXPECT_EQ(out[13], 0xEE);
  EXPECT_FALSE(image.CopyTo(nullptr, 13));
}

TEST(ImageLanguages, CopiesTableOrRefuses) {
  TEEImage image = Load(PackedImage({0x0409, 0x0407, 0x0000}, 0x01));
  uint16_t out[3] = {1, 1, 1};
  EXPECT_FALSE(image.GetLanguages(out, 2));
  EXPECT_EQ(out[0], 1);
  EXPECT_TRUE(image.GetLanguages(out, 3));
  EXPECT_EQ(out[0], 0x0409);
  EXPECT_EQ(out[1], 0x0407);
  EXPECT_EQ(out[2], 0x0000);
}

TEST(ImageLanguages, TableReachingPast511IsRefused) {
  TBytes bytes = Filled(0xD1, 512);
  bytes[20] = 250; // 24 + 500 > 512
  TEEImage image(bytes.data(), 512);
  std::vector<uint16_t> out(255);
  EXPECT_FALSE(image.GetLanguages(out.data(), 255));
  bytes[20] = 244; // ends exactly at 512
  TEEImage fits(bytes.data(), 512);
  EXPECT_TRUE(fits.GetLanguages(out.data(), 255));
}

TEST(ImageMemory, FailedBufferAllocationIsFatalAndLeavesNoBuffer) {
  const uint8_t d0 = 0xD0;
  std::unique_ptr<TEEImage> image;
  EXPECT_EQ(ReportsWhenAllocationFails(0, [&] { image = std::make_unique<TEEImage>(&d0, 1); }),
            std::vector<bool>{true});
  EXPECT_FALSE(image->IsValid());
  EXPECT_EQ(image->GetLength(), 0u);
  EXPECT_EQ(image->GetByte(0), 0);
}

} // namespace
