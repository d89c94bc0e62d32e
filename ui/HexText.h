#pragma once

#include <QString>

#include <cstdint>

// Hexadecimal text as the window shows and reads it.

// `value` in upper-case hexadecimal, zero-padded to `width` digits.
QString HexText(uint32_t value, int width);

// Converts "0x" followed by `digits`, as a typed field is converted. Throws TUiError with
// "'0x...' is not a valid integer value" when `digits` is empty, holds anything but hexadecimal
// digits, or is too long for a 32-bit value.
uint32_t ConvertHex(const QString& digits);

// The conversion failure's message for `digits` (the "0x" prefix is added here).
QString ConversionMessage(const QString& digits);
