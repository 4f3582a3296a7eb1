// The message boxes and the save-as dialog of the window layer, in Qt.
#pragma once

// Makes the Qt presenter the one used when no other is installed. Every
// dialog calls this, so a program with windows shows its messages in them.
void UseQtMessagePresenter();
