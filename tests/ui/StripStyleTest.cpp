// The application's style draws tall frames in strips: the same pixels as Fusion's own drawing,
// in pieces short enough that Qt's raster engine fills each one on the painting thread.
#include "StripStyle.h"

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Tall frames of every kind the style draws in strips, titled and not, enabled and not, beside
// tall controls it leaves alone.
std::unique_ptr<QWidget> TallControls() {
  auto root = std::make_unique<QWidget>();
  root->resize(640, 700);
  auto* group = new QGroupBox(QStringLiteral("Config Bits 1"), root.get());
  group->setGeometry(5, 5, 200, 330);
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(new QLineEdit(QStringLiteral("0x0424"), group));
  auto* disabled = new QLineEdit(QStringLiteral("1"), group);
  disabled->setEnabled(false);
  inner->addWidget(disabled);
  auto* untitled = new QGroupBox(root.get());
  untitled->setGeometry(210, 5, 100, 200);
  auto* checkable = new QGroupBox(QStringLiteral("Supported Strings"), root.get());
  checkable->setCheckable(true);
  checkable->setGeometry(420, 5, 210, 250);
  auto* grey = new QGroupBox(QStringLiteral("Raw Configuration Data"), root.get());
  grey->setEnabled(false);
  grey->setGeometry(420, 260, 135, 430);
  // A child that paints itself leaves the frame a clip of two spans a row.
  auto* grid = new QTableWidget(64, 2, grey);
  grid->setGeometry(9, 20, 100, 400);
  auto* bar = new QScrollBar(Qt::Vertical, grey);
  bar->setGeometry(112, 20, 16, 400);
  auto* tabs = new QTabWidget(root.get());
  tabs->setGeometry(5, 345, 300, 300);
  tabs->addTab(new QWidget, QStringLiteral("Device Settings"));
  tabs->addTab(new QWidget, QStringLiteral("String Descriptor"));
  tabs->setEnabled(false);
  auto* south = new QTabWidget(root.get());
  south->setTabPosition(QTabWidget::South);
  south->setGeometry(210, 210, 200, 480);
  south->addTab(new QPlainTextEdit(QStringLiteral("line\n").repeated(60)), QStringLiteral("Text"));
  auto* button = new QPushButton(QStringLiteral("Read from EEPROM"), root.get());
  button->setGeometry(310, 5, 100, 200);
  return root;
}

void SetStyle(QWidget& root, QStyle* style) {
  root.setStyle(style);
  for (QWidget* child : root.findChildren<QWidget*>())
    child->setStyle(style);
}

QImage Render(QWidget& root, qreal ratio) {
  QImage image(root.size() * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);
  root.render(&image);
  return image;
}

// Where two images of one size differ: the count of pixels and the first of them; empty when
// they are the same.
std::string Difference(const QImage& drawn, const QImage& expected) {
  int count = 0;
  QPoint first;
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x)
      if (drawn.pixel(x, y) != expected.pixel(x, y) && count++ == 0)
        first = QPoint(x, y);
  if (count == 0)
    return {};
  return std::to_string(count) + " pixels, the first at (" + std::to_string(first.x()) + ", " +
         std::to_string(first.y()) + ")";
}

// Fusion, recording the clip each frame is drawn under.
class TClipRecorder : public QProxyStyle {
public:
  TClipRecorder() : QProxyStyle(QStyleFactory::create(QStringLiteral("fusion"))) {}
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    Clips.push_back(painter->hasClipping() ? painter->clipBoundingRect().toRect() : QRect());
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }
  mutable std::vector<QRect> Clips;
};

QStyleOptionFrame Frame(int height) {
  QStyleOptionFrame option;
  option.rect = QRect(0, 0, 120, height);
  option.fontMetrics = QFontMetrics(QApplication::font());
  option.palette = QApplication::palette();
  return option;
}

} // namespace

TEST(StripStyle, IsTheApplicationsStyleOverFusion) {
  const auto* style = qobject_cast<const TStripStyle*>(QApplication::style());
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->baseStyle()->name(), QStringLiteral("fusion"));
}

TEST(StripStyle, DrawsEveryPixelAsFusionDoes) {
  const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("fusion")));
  const auto strips =
      std::make_unique<TStripStyle>(QStyleFactory::create(QStringLiteral("fusion")));
  const std::unique_ptr<QWidget> root = TallControls();
  // A whole scale and scales whose strip edges fall between device rows.
  for (const qreal ratio : {1.0, 2.0, 1.25, 1.5}) {
    SetStyle(*root, fusion.get());
    const QImage expected = Render(*root, ratio);
    SetStyle(*root, strips.get());
    const QImage drawn = Render(*root, ratio);
    EXPECT_EQ(Difference(drawn, expected), "") << "device pixel ratio " << ratio;
    EXPECT_NE(drawn.pixel(10, 10), qRgba(0, 0, 0, 0)) << "something was drawn";
  }
  SetStyle(*root, nullptr);
}

TEST(StripStyle, DrawsTallFramesInStripsOfAtMost45DeviceRows) {
  auto* recorder = new TClipRecorder;
  const TStripStyle style(recorder); // owns the recorder
  QImage image(400, 700, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  const QStyleOptionFrame tall = Frame(300);
  // The strips part the frame's lines at every `lines`; the first and last are open above and
  // below, every strip is open to the sides.
  const auto expectStrips = [&](QStyle::PrimitiveElement element, int lines) {
    recorder->Clips.clear();
    style.drawPrimitive(element, &tall, &painter, nullptr);
    const std::vector<QRect>& clips = recorder->Clips;
    ASSERT_EQ(clips.size(), static_cast<size_t>((300 + lines - 1) / lines)) << element;
    EXPECT_LT(clips.front().top(), -1000);
    EXPECT_GT(clips.back().bottom(), 1000);
    for (size_t i = 0; i < clips.size(); ++i) {
      const int top = lines * static_cast<int>(i);
      EXPECT_LT(clips[i].left(), -1000);
      EXPECT_GT(clips[i].right(), 1000);
      if (i > 0) {
        EXPECT_EQ(clips[i].top(), top) << element;
      }
      if (i + 1 < clips.size()) {
        EXPECT_EQ(clips[i].bottom(), top + lines - 1) << element;
      }
    }
    EXPECT_FALSE(painter.hasClipping()) << "the painter is left as it was";
  };
  static_assert(TStripStyle::kStrip == 45);
  for (const auto element : {QStyle::PE_FrameGroupBox, QStyle::PE_FrameTabWidget})
    expectStrips(element, 45);
  // A child widget's painter is moved to the widget; a painter at twice the size takes half the
  // lines per strip (rounded down), and one at 1.5 times two thirds.
  painter.translate(15, 15);
  expectStrips(QStyle::PE_FrameGroupBox, 45);
  painter.scale(2, 2);
  expectStrips(QStyle::PE_FrameGroupBox, 22);
  painter.resetTransform();
  painter.scale(1.5, 1.5);
  expectStrips(QStyle::PE_FrameTabWidget, 30);
  painter.resetTransform();

  // Within a clip the painter already has.
  painter.setClipRect(QRect(10, 20, 50, 250));
  recorder->Clips.clear();
  style.drawPrimitive(QStyle::PE_FrameGroupBox, &tall, &painter, nullptr);
  ASSERT_EQ(recorder->Clips.size(), 7U);
  for (const QRect& clip : recorder->Clips)
    EXPECT_TRUE(clip.isEmpty() || QRect(10, 20, 50, 250).contains(clip)) << clip.top();
  EXPECT_EQ(painter.clipBoundingRect().toRect(), QRect(10, 20, 50, 250));
  painter.setClipping(false);

  // Drawn once, unclipped: a frame of kStrip lines, other elements, a painter that turns or flips.
  const auto once = [&](QStyle::PrimitiveElement element, const QStyleOptionFrame& option) {
    recorder->Clips.clear();
    style.drawPrimitive(element, &option, &painter, nullptr);
    return recorder->Clips.size() == 1 && recorder->Clips.front().isNull();
  };
  EXPECT_TRUE(once(QStyle::PE_FrameGroupBox, Frame(TStripStyle::kStrip)));
  EXPECT_TRUE(once(QStyle::PE_Frame, tall));
  EXPECT_TRUE(once(QStyle::PE_PanelLineEdit, tall));
  painter.translate(200, 200);
  painter.rotate(90);
  EXPECT_TRUE(once(QStyle::PE_FrameGroupBox, tall));
  painter.resetTransform();
  painter.translate(0, 400);
  painter.scale(1, -1);
  EXPECT_TRUE(once(QStyle::PE_FrameTabWidget, tall));
}

TEST(StripStyle, LeavesOtherStylesAlone) {
  QApplication::setStyle(QStringLiteral("windows"));
  EXPECT_FALSE(TStripStyle::Install());
  EXPECT_EQ(QApplication::style()->name(), QStringLiteral("windows"));
  QApplication::setStyle(QStringLiteral("fusion"));
  EXPECT_TRUE(TStripStyle::Install());
  EXPECT_FALSE(TStripStyle::Install()) << "already installed";
  EXPECT_NE(qobject_cast<const TStripStyle*>(QApplication::style()), nullptr);
}
