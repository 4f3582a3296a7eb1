#include "platform/window/WidgetText.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

void SetWidgetText(QWidget* widget, const std::string& text)
{
    const QString t = QString::fromStdString(text);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text() != t)
            label->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(t);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(t);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->isEditable())
            combo->setEditText(t);
        else
            combo->setCurrentText(t);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(t);
    } else {
        widget->setWindowTitle(t);
    }
}

std::string WidgetText(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text().toStdString();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text().toStdString();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text().toStdString();
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText().toStdString();
    if (auto* group = qobject_cast<const QGroupBox*>(widget))
        return group->title().toStdString();
    return widget->windowTitle().toStdString();
}
