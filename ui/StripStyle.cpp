#include "StripStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTransform>

#include <algorithm>

namespace {

// Beyond any window: the strips' open sides.
constexpr int kFar = 1 << 24;

// The frame's lines in one strip of kStrip device rows under this painter; none under a painter
// that turns or flips, whose clip would no longer be rows.
int StripLines(const QPainter& painter) {
  const QTransform transform = painter.deviceTransform();
  if (transform.type() > QTransform::TxScale || transform.m22() <= 0)
    return 0;
  return std::max(1, static_cast<int>(TStripStyle::kStrip / transform.m22()));
}

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
  const int lines = (element == PE_FrameGroupBox || element == PE_FrameTabWidget) &&
                            option != nullptr && painter != nullptr
                        ? StripLines(*painter)
                        : 0;
  if (lines == 0 || option->rect.height() <= lines) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  // Neighbouring strips meet at one line, which a scaled painter rounds to the same device row
  // for both, so the strips part the device rows.
  const QRect& rect = option->rect;
  for (int top = rect.top(); top <= rect.bottom(); top += lines) {
    const int from = top == rect.top() ? -kFar : top;
    const int to = top + lines > rect.bottom() ? kFar : top + lines - 1;
    painter->save();
    painter->setClipRect(QRect(QPoint(-kFar, from), QPoint(kFar, to)), Qt::IntersectClip);
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    painter->restore();
  }
}
