#pragma once

class QLineEdit;

// Letters that reach an edit without typing (its paste command, a program's insert) turn into
// upper case as they arrive, as typed ones do through the key filter. The edit stays marked as
// typed into, so its exit handler stores what was pasted.
class TUpperCase {
public:
  static void Apply(QLineEdit& edit);
};
