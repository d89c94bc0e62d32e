// "Generate Serial Number": the clock's text through the page's store into the one serial-number
// descriptor that every language shares, and the stores that must change nothing.
#include "Eeimage.h"
#include "ExampleImages.h"
#include "SerialNumber.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QLineEdit>

namespace {

constexpr int64_t kDecember2026 = 1796731200; // 2026-12-08 12:00:00 UTC
constexpr int64_t kEpoch = 946710002;         // 2000-01-01 07:00:02 UTC
class SerialNumberButtonTest : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    TSerialNumber::SetClock([this] { return FNow; });
  }
  void TearDown() override {
    TSerialNumber::SetClock({});
    TWindowTest::TearDown();
  }
  std::vector<TSeenBox> Generate() { return Click("GenerateSerialNoBtn"); }

  int64_t FNow = kDecember2026;
};

TEST_F(SerialNumberButtonTest, TheClockGivesTwelveDigits) {
  const std::pair<int64_t, const char16_t*> cases[] = {
      {kDecember2026, u"000032AA4B4E"},
      {kEpoch, u"000000000000"},
      {kEpoch - 1, u"0000FFFFFFFF"}, // a clock before the fixed moment wraps
      {kEpoch + 0xFFFFFFFFLL + 1, u"000000000000"},
  };
  for (const auto& [now, text] : cases) {
    SCOPED_TRACE(now);
    OpenBytes(Bytes(*MakeExampleD4Single()));
    FNow = now;
    EXPECT_TRUE(Generate().empty());
    EXPECT_EQ(E("SNStrEdit")->text(), QString::fromStdU16String(text));
    EXPECT_EQ(E("SNLenEdit")->text(), "1A");
    EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kSerialNumber), Descriptor(text));
  }
}

TEST_F(SerialNumberButtonTest, PlaceholderGrowsBy22AndALaterNumberIsRewrittenInPlace) {
  OpenBytes(StringImage({kEnglish}, TEEImage::kProduct | TEEImage::kSerialNumber,
                        {{kEnglish, TEEImage::kProduct, Descriptor(u"Hub")}}));
  const uint32_t start = Image().GetLength();
  EXPECT_EQ(E("SNStrEdit")->text(), " ");
  Generate();
  EXPECT_EQ(Image().GetLength(), start + 22);
  const auto first = Bytes(Image());
  ++FNow;
  Generate();
  EXPECT_EQ(E("SNStrEdit")->text(), "000032AA4B4F");
  const auto second = Bytes(Image());
  ASSERT_EQ(second.size(), first.size());
  // Only the last digit's unit changed.
  size_t differing = 0;
  for (size_t i = 0; i < first.size(); ++i)
    differing += first[i] != second[i] ? 1 : 0;
  EXPECT_EQ(differing, 1U);
  EXPECT_EQ(StoredDescriptor(Image(), kEnglish, TEEImage::kProduct), Descriptor(u"Hub"));
  // Within the same second the number is the same: nothing to store.
  EXPECT_TRUE(Generate().empty());
  EXPECT_EQ(Bytes(Image()), second);
}

TEST_F(SerialNumberButtonTest, GeneratedUnderOneLanguageHoldsForAll) {
  OpenExample();
  W<QComboBox>("LangIDBox")->setCurrentIndex(1);
  EXPECT_TRUE(Generate().empty());
  EXPECT_EQ(W<QComboBox>("LangIDBox")->currentIndex(), 1);
  W<QComboBox>("LangIDBox")->setCurrentIndex(0);
  EXPECT_EQ(E("SNStrEdit")->text(), "000032AA4B4E");
  EXPECT_EQ(StoredDescriptor(Image(), kGerman, TEEImage::kSerialNumber),
            Descriptor(u"000032AA4B4E"));
}

// Where the number cannot be stored, the image stays as it was and the field shows the image again.
TEST_F(SerialNumberButtonTest, ANumberThatCannotBeStoredDisappears) {
  struct TCase {
    const char* name;
    std::vector<uint8_t> image;
    std::vector<QString> messages;
    QString shown;
  };
  // 24 + 2 + 6 for the tables, 212 + 4 + 254 for the strings: 502 bytes, 22 more do not fit.
  const std::u16string full(105, u'p');
  const TCase cases[] = {
      {"no languages", StringImage({}, 0, {}), {}, ""},
      {"no serial number string",
       StringImage({kEnglish}, TEEImage::kManufacturer, {}),
       {kStoreFailed},
       ""},
      {"no room",
       StringImage({kEnglish}, TEEImage::kProduct | TEEImage::kSerialNumber | TEEImage::kConfigFS,
                   {{kEnglish, TEEImage::kProduct, Descriptor(full)},
                    {kEnglish, TEEImage::kConfigFS, Descriptor(std::u16string(126, u'c'))}}),
       {kStoreFailed},
       " "},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    OpenBytes(test.image);
    ASSERT_TRUE(Image().IsValid());
    const auto before = Bytes(Image());
    EXPECT_EQ(Texts(Generate()), test.messages);
    EXPECT_EQ(Bytes(Image()), before);
    EXPECT_EQ(E("SNStrEdit")->text(), test.shown);
  }
}

// A read of an image with an unknown signature leaves the page as it was; a number generated there
// cannot be stored, so it must not stay on screen as if it had been.
TEST_F(SerialNumberButtonTest, ANumberAfterAnInvalidReadIsRefused) {
  auto bytes = Bytes(*MakeExampleD4());
  OpenBytes(bytes);
  bytes[0] = 0x00;
  OpenBytes(bytes);
  ASSERT_FALSE(Image().IsValid());
  const auto before = Bytes(Image());
  EXPECT_EQ(Texts(Generate()), std::vector<QString>{kStoreFailed});
  EXPECT_TRUE(E("SNStrEdit")->text().isEmpty());
  EXPECT_TRUE(E("SNStrEdit")->isReadOnly());
  EXPECT_EQ(Bytes(Image()), before);
}

} // namespace
