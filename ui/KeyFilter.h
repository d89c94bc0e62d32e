#pragma once

#include <QObject>

// The key filters of the window's edits: ForceHex admits hexadecimal digits, ForceBin binary
// digits, both also backspace. Every other character that typing produces is discarded; keys that
// produce no character (Delete, arrows, Home, End, Tab) pass, and so do Enter and Esc. With
// `upper`, typed letters reach the edit in upper case, as the page's edits show them.
class TKeyFilter : public QObject {
  Q_OBJECT
public:
  enum class TMode { Hex, Bin };
  TKeyFilter(TMode mode, bool upper, QObject* parent = nullptr);

  bool Admits(QChar c) const;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  TMode FMode;
  bool FUpper;
};
