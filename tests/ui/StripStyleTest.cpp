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
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
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
  auto* bar = new QScrollBar(Qt::Vertical, grey);
  bar->setGeometry(110, 20, 16, 400);
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
  for (const qreal ratio : {1.0, 2.0, 1.5}) {
    SetStyle(*root, fusion.get());
    const QImage expected = Render(*root, ratio);
    SetStyle(*root, strips.get());
    const QImage drawn = Render(*root, ratio);
    EXPECT_TRUE(drawn == expected) << "device pixel ratio " << ratio;
  }
  SetStyle(*root, nullptr);
}

TEST(StripStyle, DrawsTallFramesInStripsOfAtMostNinetyLines) {
  auto* recorder = new TClipRecorder;
  const TStripStyle style(recorder); // owns the recorder
  QImage image(120, 300, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);

  const QStyleOptionFrame tall = Frame(300);
  for (const auto element : {QStyle::PE_FrameGroupBox, QStyle::PE_FrameTabWidget}) {
    recorder->Clips.clear();
    style.drawPrimitive(element, &tall, &painter, nullptr);
    ASSERT_EQ(recorder->Clips.size(), 4U) << element;
    // The strips part the lines at 90, 180 and 270; the first and last are open above and
    // below, and every strip is open to the sides.
    const std::vector<QRect>& clips = recorder->Clips;
    EXPECT_LT(clips[0].top(), -1000);
    for (size_t i = 0; i < clips.size(); ++i) {
      EXPECT_LT(clips[i].left(), -1000);
      EXPECT_GT(clips[i].right(), 1000);
      if (i > 0) {
        EXPECT_EQ(clips[i].top(), 90 * static_cast<int>(i));
      }
      if (i + 1 < clips.size()) {
        EXPECT_EQ(clips[i].bottom(), 90 * static_cast<int>(i) + 89);
      }
    }
    EXPECT_GT(clips[3].bottom(), 1000);
    EXPECT_FALSE(painter.hasClipping()) << "the painter is left as it was";
  }

  // Within a clip the painter already has.
  painter.setClipRect(QRect(10, 20, 50, 250));
  recorder->Clips.clear();
  style.drawPrimitive(QStyle::PE_FrameGroupBox, &tall, &painter, nullptr);
  ASSERT_EQ(recorder->Clips.size(), 4U);
  for (const QRect& clip : recorder->Clips)
    EXPECT_TRUE(clip.isEmpty() || QRect(10, 20, 50, 250).contains(clip)) << clip.top();
  EXPECT_EQ(painter.clipBoundingRect().toRect(), QRect(10, 20, 50, 250));
  painter.setClipping(false);

  // Drawn once, unclipped: a frame of ninety lines, other elements, a scaled painter.
  const auto once = [&](QStyle::PrimitiveElement element, const QStyleOptionFrame& option) {
    recorder->Clips.clear();
    style.drawPrimitive(element, &option, &painter, nullptr);
    return recorder->Clips.size() == 1 && recorder->Clips.front().isNull();
  };
  EXPECT_TRUE(once(QStyle::PE_FrameGroupBox, Frame(TStripStyle::kStrip)));
  EXPECT_TRUE(once(QStyle::PE_Frame, tall));
  EXPECT_TRUE(once(QStyle::PE_PanelLineEdit, tall));
  painter.scale(2, 2);
  EXPECT_TRUE(once(QStyle::PE_FrameGroupBox, tall));
}
