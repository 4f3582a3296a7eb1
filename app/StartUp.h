// What the process settles before the application object runs: signals,
// the display, and Qt's own texts.
#pragma once

// Returns false, after one line on stderr, when the tool cannot run (no
// display to show its window on); main then ends with status 1.
bool PrepareProcess(int argc, char** argv);
