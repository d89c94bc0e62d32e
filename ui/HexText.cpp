#include "HexText.h"

#include "UiError.h"

QString HexText(uint32_t value, int width) {
  return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

QString ConversionMessage(const QString& digits) {
  return QStringLiteral("'0x%1' is not a valid integer value").arg(digits);
}

uint32_t ConvertHex(const QString& digits) {
  bool fine = !digits.isEmpty() && digits.size() <= 8;
  uint32_t value = 0;
  for (QChar c : digits) {
    if (!fine)
      break;
    const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
    if (c.unicode() > 0x7F || digit < 0)
      fine = false;
    else
      value = value * 16 + static_cast<uint32_t>(digit);
  }
  if (!fine)
    throw TUiError(ConversionMessage(digits).toStdString());
  return value;
}
