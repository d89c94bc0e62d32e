#pragma once

#include <QProxyStyle>

// The application's style, with the frames of group boxes and of the tab widget drawn in strips of
// at most kStrip device rows when they are taller. Qt's raster engine hands every fill of 96 spans
// or more to its thread pool and waits for it; for a frame the hand-over costs far more than the
// fill (on two cores these frames took a tenth of the window's start, in context switches). A
// frame around a child that paints itself is clipped to two spans a row, hence strips of 45 rows.
// Each strip is the style's own drawing clipped to its rows, open above the first, below the last
// and to the sides, so every pixel is drawn as it would have been. Only frames whose drawing was
// compared pixel for pixel are drawn so: a complex control may change its own clip or animate
// between calls (Fusion's scroll bar came out different in strips).
class TStripStyle : public QProxyStyle {
  Q_OBJECT
public:
  static constexpr int kStrip = 45;

  // Puts this style over a new instance of the application's style when that is Fusion, the
  // style the strips were compared with; otherwise leaves the style alone. Returns whether it did.
  // A proxy has no name of its own, so a second call leaves the style alone too.
  static bool Install();

  // Takes ownership of base.
  explicit TStripStyle(QStyle* base);

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};
