#include "StripStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTransform>

namespace {

// Beyond any window: the strips' open sides.
constexpr int kFar = 1 << 24;

} // namespace

TStripStyle::TStripStyle(QStyle* base) : QProxyStyle(base) {}

bool TStripStyle::Install() {
  if (QApplication::style()->name() != QLatin1String("fusion"))
    return false;
  QStyle* base = QStyleFactory::create(QStringLiteral("fusion"));
  if (base == nullptr)
    return false;
  QApplication::setStyle(new TStripStyle(base));
  return true;
}

void TStripStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
  const bool strips = (element == PE_FrameGroupBox || element == PE_FrameTabWidget) &&
                      option != nullptr && painter != nullptr && option->rect.height() > kStrip &&
                      painter->deviceTransform().type() <= QTransform::TxTranslate;
  if (!strips) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  // The strips part the lines of the frame; what the style draws beyond its rectangle, above,
  // below or to the sides, falls in the first, the last or the strip of its lines.
  const QRect& rect = option->rect;
  for (int top = rect.top(); top <= rect.bottom(); top += kStrip) {
    const int from = top == rect.top() ? -kFar : top;
    const int to = top + kStrip > rect.bottom() ? kFar : top + kStrip - 1;
    painter->save();
    painter->setClipRect(QRect(QPoint(-kFar, from), QPoint(kFar, to)), Qt::IntersectClip);
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    painter->restore();
  }
}
