// The text of a control's widget, whatever kind of widget stands for it:
// a label's text, a button's caption, an edit's or combo box field's contents,
// a group box's title; any other widget keeps it as its window title.
#pragma once

#include <string>

class QWidget;

void SetWidgetText(QWidget* widget, const std::string& text);
std::string WidgetText(const QWidget* widget);
