// Changes an image cannot take: each must report failure and leave every byte and the length as
// they were.

#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testimages;

namespace {

TBytes Invalid() {
  TBytes bytes = PackedImage({kEn}, 0x01);
  bytes[28] = 0; // bLength of the only descriptor
  return bytes;
}

// An entry pointing into the LANGID table, whose bytes happen to look like a descriptor.
TBytes IntoTables() {
  TD4Builder b({0x0304, 0x0041}, 0x01);
  b.Point(0, 0, 24);
  b.Point(0, 1, b.Append(Descriptor("ok")));
  return b.Bytes();
}

// Serial out, product in, two languages: reckoned as no growth, really 12 - 4 - 4 = 4 bytes.
TBytes SerialEndingAt510() {
  TD4Builder b({kEn, kDe}, 0x05);
  b.Point(0, 0, b.Append(Descriptor("m")));
  b.Point(0, 1, b.Append(Descriptor("n")));
  b.PointRow(1, b.Append(Descriptor("s"), 506 - b.End()));
  return b.Bytes();
}

void BreakTables(TEEImage& image) {
  image.SetByte(20, 200); // the tables would now reach past the image
}

const uint16_t kThree[] = {kEn, kDe, kFr};
const uint16_t kFour[] = {kEn, kDe, kFr, 0x0411};
const uint16_t kTableLangid = 0x0304; // the first LANGID of IntoTables()

struct TRefusal {
  const char* name;
  TBytes bytes;
  std::function<bool(TEEImage&)> change;
  void (*prepare)(TEEImage&) = nullptr;
};

bool Text(TEEImage& image, uint16_t langid, const std::string& text) {
  return image.SetStringDescriptor(langid, TEEImage::kManufacturer, Descriptor(text).data());
}

TEST(Refusals, LeaveTheImageExactlyAsItWas) {
  const TRefusal cases[] = {
      {"shift, invalid image", Invalid(), [](TEEImage& i) { return i.ShiftTail(28, 2); }},
      {"kinds, invalid image", Invalid(), [](TEEImage& i) { return i.SetSupportedStrings(3); }},
      {"languages, invalid image", Invalid(), [](TEEImage& i) { return i.SetLanguages(&kDe, 1); }},
      {"string, invalid image", Invalid(), [](TEEImage& i) { return Text(i, kEn, "ab"); }},
      {"string, entry into tables", IntoTables(),
       [](TEEImage& i) { return Text(i, kTableLangid, "new text"); }},
      {"kinds, entry into tables", IntoTables(),
       [](TEEImage& i) { return i.SetSupportedStrings(0x11); }},
      {"languages, entry into tables", IntoTables(),
       [](TEEImage& i) { return i.SetLanguages(&kTableLangid, 1); }},
      {"string, overlapping descriptors", TwoKindsOneLanguage(30, 36),
       [](TEEImage& i) { return Text(i, kEn, "new text"); }},
      {"kinds, overlapping descriptors", TwoKindsOneLanguage(30, 36),
       [](TEEImage& i) { return i.SetSupportedStrings(0x13); }},
      {"languages, overlapping descriptors", TwoKindsOneLanguage(30, 36),
       [](TEEImage& i) { return i.SetLanguages(&kEn, 1); }},
      {"string, tables broken by a byte write", PackedImage({kEn, kDe}, 0x03),
       [](TEEImage& i) { return Text(i, kEn, "a"); }, BreakTables},
      {"kinds, tables broken by a byte write", PackedImage({kEn, kDe}, 0x03),
       [](TEEImage& i) { return i.SetSupportedStrings(0x01); }, BreakTables},
      {"languages, tables broken by a byte write", PackedImage({kEn, kDe}, 0x03),
       [](TEEImage& i) { return i.SetLanguages(&kEn, 1); }, BreakTables},
      {"string growing past 512", EndingAt({kEn}, 484),
       [](TEEImage& i) { return Text(i, kEn, std::string(16, 'y')); }},
      {"kinds, 505 + 12 past 512", EndingAt({kEn, kDe}, 505),
       [](TEEImage& i) { return i.SetSupportedStrings(0x03); }},
      {"kinds reckoned to fit but not fitting", SerialEndingAt510(),
       [](TEEImage& i) { return i.SetSupportedStrings(0x03); }},
      // The reckoning counts 6 bytes per kind per language; a new language really takes 8 here
      // (LANGID, entry, placeholder).
      {"languages reckoned 500 + 12, really 500 + 16", EndingAt({kEn}, 500),
       [](TEEImage& i) { return i.SetLanguages(kThree, 3); }},
      {"languages reckoned 508 + 12", EndingAt({kEn, kDe}, 508),
       [](TEEImage& i) { return i.SetLanguages(kFour, 4); }},
      {"language list without a buffer", PackedImage({kEn}, 0x01),
       [](TEEImage& i) { return i.SetLanguages(nullptr, 2); }},
  };
  // The builders give what the cases rely on.
  ASSERT_FALSE(Load(Invalid()).IsValid());
  ASSERT_TRUE(Load(IntoTables()).IsValid());
  ASSERT_TRUE(Load(TwoKindsOneLanguage(30, 36)).IsValid());
  for (uint32_t end : {484u, 500u})
    ASSERT_EQ(Load(EndingAt({kEn}, end)).GetLength(), end);
  for (uint32_t end : {505u, 508u})
    ASSERT_EQ(Load(EndingAt({kEn, kDe}, end)).GetLength(), end);
  ASSERT_EQ(Load(SerialEndingAt510()).GetLength(), 510u);
  for (const TRefusal& c : cases) {
    TEEImage image = Load(c.bytes);
    if (c.prepare != nullptr) {
      c.prepare(image);
    }
    const TSnapshot before = Snap(image);
    EXPECT_FALSE(c.change(image)) << c.name;
    EXPECT_EQ(Snap(image), before) << c.name;
  }
}

TEST(Refusals, NotA0xD4ImageHasNoStringsAndNothingToChange) {
  TBytes bytes = PackedImage({kEn}, 0x01);
  bytes[0] = 0xD3;
  TEEImage image = Load(bytes);
  EXPECT_EQ(image.GetStringLength(kEn, 1), 0);
  EXPECT_TRUE(StringOf(image, kEn, 1).empty());
  EXPECT_TRUE(image.SetSupportedStrings(0x03));
  EXPECT_TRUE(image.SetLanguages(&kDe, 1));
  EXPECT_EQ(image.GetByte(21), 0x01);
  EXPECT_EQ(image.GetByte(20), 1);
}

} // namespace
