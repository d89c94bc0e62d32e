#pragma once

class QWidget;

// Ends the event loop once `window` has painted its first frame, so that a whole process timed
// from outside measures launch to shown.
void QuitWhenPainted(QWidget& window);
