// Changes an image cannot take: each must report failure, name the reason (with the exact growth
// and free bytes when there is no room), and leave every byte and the length as they were.

#include "Eeimage.h"
#include "EeimageTestImages.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

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

// Serial out, product in, two languages: 12 - 4 - 4 = 4 bytes.
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

// Strings without languages: the serial number, once languages come, is one shared placeholder.
void SerialWithoutLanguages(TEEImage& image) {
  image.SetSupportedStrings(TEEImage::kSerialNumber);
}

const uint16_t kThree[] = {kEn, kDe, kFr};
const uint16_t kFour[] = {kEn, kDe, kFr, 0x0411};
const uint16_t kTableLangid = 0x0304; // the first LANGID of IntoTables()

// `count` LANGIDs from `first` on.
std::vector<uint16_t> Langids(uint16_t first, size_t count) {
  std::vector<uint16_t> out(count);
  for (size_t j = 0; j < count; ++j) {
    out[j] = static_cast<uint16_t>(first + j);
  }
  return out;
}

bool SetList(TEEImage& image, const std::vector<uint16_t>& list) {
  return image.SetLanguages(list.data(), static_cast<uint8_t>(list.size()));
}

using R = TStringRefusal;

TStringOutcome Is(TStringRefusal reason) {
  return {reason, 0, 0};
}

TStringOutcome Room(uint32_t needed, uint32_t free) {
  return {TStringRefusal::NoRoom, needed, free};
}

struct TRefusal {
  const char* name;
  TBytes bytes;
  std::function<bool(TEEImage&)> change;
  TStringOutcome expected;
  void (*prepare)(TEEImage&) = nullptr;
};

bool Text(TEEImage& image, uint16_t langid, const std::string& text,
          uint8_t kind = TEEImage::kManufacturer) {
  return image.SetStringDescriptor(langid, kind, Descriptor(text).data());
}

const TBytes kShort{3, 3, 0x41};
const TBytes kNotAString{4, 2, 0x41, 0};
const TBytes kEmpty{4, 3, 0, 0};

bool Raw(TEEImage& image, const TBytes& descriptor) {
  return image.SetStringDescriptor(kEn, TEEImage::kManufacturer, descriptor.data());
}

TEST(Refusals, LeaveTheImageExactlyAsItWas) {
  const TBytes one = PackedImage({kEn}, 0x01);
  // Manufacturer at 30 and product at 36, 10 bytes each: loads as 40 bytes, but no change of it
  // can be made without scrambling one of the two.
  const TBytes overlap = TwoKindsOneLanguage(30, 36);
  const TRefusal cases[] = {
      {"shift, invalid image", Invalid(), [](TEEImage& i) { return i.ShiftTail(28, 2); },
       Is(R::NoStringArea)},
      {"kinds, invalid image", Invalid(), [](TEEImage& i) { return i.SetSupportedStrings(3); },
       Is(R::NoStringArea)},
      {"languages, invalid image", Invalid(), [](TEEImage& i) { return i.SetLanguages(&kDe, 1); },
       Is(R::NoStringArea)},
      {"string, invalid image", Invalid(), [](TEEImage& i) { return Text(i, kEn, "ab"); },
       Is(R::NoStringArea)},
      {"string, entry into tables", IntoTables(),
       [](TEEImage& i) { return Text(i, kTableLangid, "new text"); }, Is(R::UnsoundLayout)},
      {"kinds, entry into tables", IntoTables(),
       [](TEEImage& i) { return i.SetSupportedStrings(0x11); }, Is(R::UnsoundLayout)},
      {"languages, entry into tables", IntoTables(),
       [](TEEImage& i) { return i.SetLanguages(&kTableLangid, 1); }, Is(R::UnsoundLayout)},
      {"overlap, manufacturer text", overlap, [](TEEImage& i) { return Text(i, kEn, "new text"); },
       Is(R::UnsoundLayout)},
      {"overlap, kind added", overlap, [](TEEImage& i) { return i.SetSupportedStrings(0x13); },
       Is(R::UnsoundLayout)},
      {"overlap, kind removed", overlap, [](TEEImage& i) { return i.SetSupportedStrings(0x02); },
       Is(R::UnsoundLayout)},
      {"overlap, language added", overlap, [](TEEImage& i) { return i.SetLanguages(kThree, 2); },
       Is(R::UnsoundLayout)},
      {"overlap, every language removed", overlap,
       [](TEEImage& i) { return i.SetLanguages(nullptr, 0); }, Is(R::UnsoundLayout)},
      {"string, tables broken by a byte write", PackedImage({kEn, kDe}, 0x03),
       [](TEEImage& i) { return Text(i, kEn, "a"); }, Is(R::UnsoundLayout), BreakTables},
      {"kinds, tables broken by a byte write", PackedImage({kEn, kDe}, 0x03),
       [](TEEImage& i) { return i.SetSupportedStrings(0x01); }, Is(R::UnsoundLayout), BreakTables},
      {"languages, tables broken by a byte write", PackedImage({kEn, kDe}, 0x03),
       [](TEEImage& i) { return i.SetLanguages(&kEn, 1); }, Is(R::UnsoundLayout), BreakTables},
      {"string, LANGID not in the image", one, [](TEEImage& i) { return Text(i, kFr, "a"); },
       Is(R::NoLanguage)},
      {"string, kind not carried", one,
       [](TEEImage& i) { return Text(i, kEn, "a", TEEImage::kProduct); }, Is(R::KindNotCarried)},
      {"string, two kinds at once", PackedImage({kEn}, 0x03),
       [](TEEImage& i) { return Text(i, kEn, "a", 0x03); }, Is(R::KindNotCarried)},
      {"string, no descriptor", one,
       [](TEEImage& i) { return i.SetStringDescriptor(kEn, 1, nullptr); }, Is(R::BadDescriptor)},
      {"string, bLength 3", one, [](TEEImage& i) { return Raw(i, kShort); }, Is(R::BadDescriptor)},
      {"string, not type 3", one, [](TEEImage& i) { return Raw(i, kNotAString); },
       Is(R::BadDescriptor)},
      {"string, empty first character", one, [](TEEImage& i) { return Raw(i, kEmpty); },
       Is(R::BadDescriptor)},
      {"language list without a buffer", one,
       [](TEEImage& i) { return i.SetLanguages(nullptr, 2); }, Is(R::NoLanguageList)},
      // Two table entries match the one listed LANGID: 2 kept + 254 new.
      {"languages, 256", PackedImage({kEn, kEn}, 0x01),
       [](TEEImage& i) {
         std::vector<uint16_t> list = Langids(0x1000, 254);
         list.push_back(kEn);
         return SetList(i, list);
       },
       Is(R::TooManyLanguages)},
      {"shift from past the end", one, [](TEEImage& i) { return i.ShiftTail(37, 2); },
       Is(R::ShiftOutsideImage)},
      {"string growing past 512", EndingAt({kEn}, 484),
       [](TEEImage& i) { return Text(i, kEn, std::string(16, 'y')); }, Room(30, 28)},
      {"kinds, 505 + 12 past 512", EndingAt({kEn, kDe}, 505),
       [](TEEImage& i) { return i.SetSupportedStrings(0x03); }, Room(12, 7)},
      {"kinds, serial out and product in at 510", SerialEndingAt510(),
       [](TEEImage& i) { return i.SetSupportedStrings(0x03); }, Room(4, 2)},
      // A new language takes its LANGID, an entry and a placeholder: 8 bytes each here.
      {"languages, two new at 500", EndingAt({kEn}, 500),
       [](TEEImage& i) { return i.SetLanguages(kThree, 3); }, Room(16, 12)},
      {"languages, two new at 508", EndingAt({kEn, kDe}, 508),
       [](TEEImage& i) { return i.SetLanguages(kFour, 4); }, Room(16, 4)},
      // 122 LANGIDs and entries, and one placeholder for all: 24 + 488 + 4.
      {"languages, 122 sharing the serial number", TD4Builder({}, 0).Bytes(),
       [](TEEImage& i) { return SetList(i, Langids(0x1000, 122)); }, Room(492, 488),
       SerialWithoutLanguages},
  };
  // The builders give what the cases rely on.
  ASSERT_FALSE(Load(Invalid()).IsValid());
  ASSERT_TRUE(Load(IntoTables()).IsValid());
  ASSERT_TRUE(Load(overlap).IsValid());
  ASSERT_EQ(Load(overlap).GetLength(), 40u);
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
    EXPECT_EQ(image.LastStringOutcome(), c.expected) << c.name;
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
