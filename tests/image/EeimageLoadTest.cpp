// Loading and measuring images, byte access, copying out and the LANGID table.

#include "ByteBlock.h"
#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

using namespace testimages;

namespace {

struct TKindCase {
  const char* name;
  TBytes bytes;
  bool valid;
  uint32_t length;
};

void PrintTo(const TKindCase& c, std::ostream* out) {
  *out << c.name;
}

class ImageKinds : public testing::TestWithParam<TKindCase> {};

TEST_P(ImageKinds, SignatureDecidesValidityAndLength) {
  const TKindCase& c = GetParam();
  TEEImage image(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
  EXPECT_EQ(image.IsValid(), c.valid);
  EXPECT_EQ(image.GetLength(), c.length);
}

TBytes Filled(uint8_t signature, size_t size) {
  TBytes bytes(size, 0x11);
  bytes[0] = signature;
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Load, ImageKinds,
    testing::Values(TKindCase{"D0_single_byte", {0xD0}, true, 7},
                    TKindCase{"D0_given_24", Filled(0xD0, 24), true, 7},
                    TKindCase{"D2_given_3", Filled(0xD2, 3), true, 13},
                    TKindCase{"D2_given_600", Filled(0xD2, 600), true, 13},
                    TKindCase{"D3_given_1", {0xD3}, true, 24},
                    TKindCase{"D4_single_byte", {0xD4}, true, 24},
                    TKindCase{"D1_unknown", Filled(0xD1, 40), false, 40},
                    TKindCase{"FF_erased", Filled(0xFF, 512), false, 512},
                    TKindCase{"unknown_longer_than_buffer", Filled(0x00, 700), false, 512},
                    TKindCase{"empty", {}, false, 0}),
    [](const testing::TestParamInfo<TKindCase>& info) { return std::string(info.param.name); });

TEST(ImageLoad, FixedKindPadsWithZeroAndKeepsSurplusInBuffer) {
  TBytes bytes{0xD0, 1, 2};
  bytes.resize(24, 0x33);
  TEEImage image(bytes.data(), 24);
  EXPECT_EQ(image.GetByte(1), 1);
  EXPECT_EQ(image.GetByte(20), 0x33); // beyond the length, still in the buffer
  TEEImage shortOne(bytes.data(), 3);
  EXPECT_EQ(shortOne.GetByte(5), 0);
}

TEST(ImageLoad, NegativeCountAndNullBytesSupplyNothing) {
  const uint8_t d0 = 0xD0;
  TEEImage negative(&d0, -5);
  EXPECT_FALSE(negative.IsValid());
  EXPECT_EQ(negative.GetLength(), 0u);
  TEEImage none(nullptr, 20);
  EXPECT_FALSE(none.IsValid());
  EXPECT_EQ(none.GetByte(0), 0);
}

TEST(ImageLoad, OnlyFirst512BytesAreUsed) {
  TBytes bytes = PackedImage({0x0409}, 0x01);
  bytes.resize(700, 0xEE);
  bytes[600] = 0xAB;
  TEEImage image(bytes.data(), 700);
  EXPECT_TRUE(image.IsValid());
  EXPECT_EQ(image.GetByte(511), 0xEE);
  EXPECT_EQ(image.GetByte(600), 0);
}

// The string area checks: each case is a 0xD4 image with one thing right or wrong.
struct TAreaCase {
  const char* name;
  TBytes bytes;
  bool valid;
  uint32_t length;
};

void PrintTo(const TAreaCase& c, std::ostream* out) {
  *out << c.name;
}

TBytes TwoKindsOneLanguage(uint16_t manufacturerAt, uint16_t productAt) {
  TD4Builder b({0x0409}, 0x03);
  b.PlaceAt(manufacturerAt, Descriptor("abcd"));
  b.PlaceAt(productAt, Descriptor("efgh"));
  b.Point(0, 0, manufacturerAt);
  b.Point(1, 0, productAt);
  return b.Bytes();
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

TBytes OneString(const TBytes& descriptor, uint16_t at = 28) {
  TD4Builder b({0x0409}, 0x01);
  b.PlaceAt(at, descriptor);
  b.Point(0, 0, at);
  return b.Bytes();
}

TBytes ManyLanguages(uint32_t languages, uint8_t mask) {
  TBytes bytes(512, 0);
  bytes[0] = 0xD4;
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

class StringAreaCheck : public testing::TestWithParam<TAreaCase> {};

TEST_P(StringAreaCheck, DecidesValidityAndLength) {
  const TAreaCase& c = GetParam();
  TEEImage image(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
  EXPECT_EQ(image.IsValid(), c.valid);
  EXPECT_EQ(image.GetLength(), c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Load, StringAreaCheck,
    testing::Values(TAreaCase{"languages_without_strings", TD4Builder({1, 2}, 0).Bytes(), false,
                              28},
                    TAreaCase{"strings_without_languages", TD4Builder({}, 0x01).Bytes(), false, 24},
                    TAreaCase{"descriptor_order_reversed", TwoKindsOneLanguage(40, 30), true, 50},
                    TAreaCase{"overlapping_counts_once", TwoKindsOneLanguage(30, 36), true, 40},
                    TAreaCase{"serial_shared", ManufacturerAndSerial(52, 52), true, 62},
                    TAreaCase{"serial_entries_differ", ManufacturerAndSerial(52, 62), false, 62},
                    TAreaCase{"zero_first_character", OneString({4, 3, 0, 0}), false, 28},
                    TAreaCase{"bLength_3", OneString({3, 3, 0x41, 0}), false, 28},
                    TAreaCase{"bLength_2_empty", OneString({2, 3, 0x41, 0}), false, 28},
                    TAreaCase{"wrong_type", OneString({4, 2, 0x41, 0}), false, 28},
                    TAreaCase{"odd_bLength", OneString({5, 3, 0x41, 0, 0x42}), true, 33},
                    TAreaCase{"offset_512", OneString({4, 3, 0x41, 0}, 512), false, 28},
                    TAreaCase{"header_past_511", OneString({4, 3, 0x41, 0}, 510), false, 28},
                    TAreaCase{"body_past_511", OneString({40, 3, 0x41, 0}, 480), false, 28},
                    TAreaCase{"body_ends_at_512", OneString({32, 3, 0x41, 0}, 480), true, 512},
                    TAreaCase{"reserved_bit_counts", WithReservedRow(true), true, 38},
                    TAreaCase{"reserved_bit_checked", WithReservedRow(false), false, 34},
                    TAreaCase{"tables_past_511", ManyLanguages(245, 0x01), false, 512},
                    TAreaCase{"tables_to_512", ManyLanguages(122, 0x01), false, 512}),
    [](const testing::TestParamInfo<TAreaCase>& info) { return std::string(info.param.name); });

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

std::vector<bool> gHookCalls;
void RecordHook(bool fatal) {
  gHookCalls.push_back(fatal);
}

TEST(ImageMemory, FailedBufferAllocationIsFatalAndLeavesNoBuffer) {
  gHookCalls.clear();
  TEEImage::SetOutOfMemoryHook(RecordHook);
  TByteBlock::FailAllocation(0);
  const uint8_t d0 = 0xD0;
  TEEImage image(&d0, 1);
  TByteBlock::FailAllocation(-1);
  TEEImage::SetOutOfMemoryHook(nullptr);
  EXPECT_EQ(gHookCalls, std::vector<bool>{true});
  EXPECT_FALSE(image.IsValid());
  EXPECT_EQ(image.GetLength(), 0u);
  EXPECT_EQ(image.GetByte(0), 0);
}

} // namespace
