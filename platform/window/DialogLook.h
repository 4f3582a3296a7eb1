// How the dialogs look on any desktop: the light system colours they were
// designed with, whatever theme the desktop has, and group boxes that draw
// only their frame and caption.
#pragma once

#include <QGroupBox>
#include <QPalette>

// The fixed light palette of every dialog and message box.
const QPalette& DialogPalette();

// A group box that paints an etched frame and its caption and nothing else:
// it lies above the controls it frames, so a panel would tint them.
class CGroupFrame : public QGroupBox
{
public:
    explicit CGroupFrame(const QString& title, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Accessibility actions of push buttons, check boxes and radio buttons run
// exactly what a mouse click runs (the click notification included); a
// widget whose context menu is its actions offers them as actions too.
void InstallAccessibleActions();
