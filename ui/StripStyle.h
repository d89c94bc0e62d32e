#pragma once

#include <QProxyStyle>

// The application's style, with the frames of group boxes and of the tab widget drawn in strips of
// at most kStrip lines when they are taller. Qt's raster engine hands every fill of 96 lines or
// more to its thread pool and waits for it; for a frame the hand-over costs far more than the fill
// (on two cores these frames took a tenth of the window's start, in context switches). Each strip
// is the style's own drawing clipped to its lines, so every pixel is drawn as it would have been.
// Only frames whose drawing was compared pixel for pixel are drawn so, and only under a painter
// that maps pixels to pixels: a complex control may change its own clip or animate between calls,
// and a scaled painter may place a line differently when it is clipped.
class TStripStyle : public QProxyStyle {
  Q_OBJECT
public:
  static constexpr int kStrip = 90;

  // Puts this style over a new instance of the application's style when that is Fusion, the
  // style the strips were compared with; otherwise leaves the style alone. Returns whether it did.
  static bool Install();

  // Takes ownership of base.
  explicit TStripStyle(QStyle* base);

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};
