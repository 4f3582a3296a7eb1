#include "platform/window/DialogLook.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

const QPalette& DialogPalette()
{
    static const QPalette palette = [] {
        const QColor face(240, 240, 240);      // button face, the dialog background
        const QColor window(255, 255, 255);    // fields
        const QColor text(0, 0, 0);
        const QColor grey(109, 109, 109);      // disabled text
        const QColor highlight(0, 120, 215);
        const QColor shadow(160, 160, 160);
        const QColor darkShadow(105, 105, 105);
        const QColor light(227, 227, 227);
        QPalette p(text, face, QColor(255, 255, 255), shadow, QColor(200, 200, 200), text, window);
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const bool off = g == QPalette::Disabled;
            p.setColor(g, QPalette::Window, face);
            p.setColor(g, QPalette::WindowText, off ? grey : text);
            p.setColor(g, QPalette::Base, off ? face : window);
            p.setColor(g, QPalette::AlternateBase, QColor(247, 247, 247));
            p.setColor(g, QPalette::Text, off ? grey : text);
            p.setColor(g, QPalette::Button, face);
            p.setColor(g, QPalette::ButtonText, off ? grey : text);
            p.setColor(g, QPalette::BrightText, QColor(255, 255, 255));
            p.setColor(g, QPalette::Light, QColor(255, 255, 255));
            p.setColor(g, QPalette::Midlight, light);
            p.setColor(g, QPalette::Mid, QColor(200, 200, 200));
            p.setColor(g, QPalette::Dark, shadow);
            p.setColor(g, QPalette::Shadow, darkShadow);
            p.setColor(g, QPalette::Highlight, off ? face : highlight);
            p.setColor(g, QPalette::HighlightedText, off ? grey : QColor(255, 255, 255));
            p.setColor(g, QPalette::ToolTipBase, QColor(255, 255, 225));
            p.setColor(g, QPalette::ToolTipText, text);
            p.setColor(g, QPalette::Link, QColor(0, 102, 204));
            p.setColor(g, QPalette::LinkVisited, QColor(0, 102, 204));
            p.setColor(g, QPalette::PlaceholderText, grey);
        }
        return p;
    }();
    return palette;
}

// ---------------------------------------------------------------------------

CGroupFrame::CGroupFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent)
{
    setAutoFillBackground(false);
}

void CGroupFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QFontMetrics fm(font());
    const int top = fm.height() / 2;
    const QRect r = rect();
    if (r.width() < 2 || r.height() - top < 2)
        return;
    // Etched: a shadow line with a light line below and right of it.
    const QColor dark = palette().color(QPalette::Dark);
    const QColor lightColour = palette().color(QPalette::Light);
    p.setPen(dark);
    p.drawRect(QRect(0, top, r.width() - 2, r.height() - top - 2));
    p.setPen(lightColour);
    p.drawLine(1, top + 1, r.width() - 3, top + 1);
    p.drawLine(1, top + 1, 1, r.height() - 3);
    p.drawLine(0, r.height() - 1, r.width() - 1, r.height() - 1);
    p.drawLine(r.width() - 1, top, r.width() - 1, r.height() - 1);

    const QString caption = title();
    if (caption.isEmpty())
        return;
    // The caption sits on the top line, on the dialog's colour.
    const int x = fm.averageCharWidth() + 2;
    const int w = fm.horizontalAdvance(caption);
    const QRect textRect(x, 0, std::min(w + 4, r.width() - x), fm.height());
    p.fillRect(textRect, palette().color(QPalette::Window));
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
}

// ---------------------------------------------------------------------------

namespace
{

QString StripMnemonics(const QString& s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'&' && i + 1 < s.size())
            ++i;
        out += s[i];
    }
    return out;
}

// Qt's own button interface toggles a check box or radio button without the
// click notification, so a dialog's click handler would never hear of it.
class AccessibleButton : public QAccessibleWidget
{
public:
    explicit AccessibleButton(QAbstractButton* button) : QAccessibleWidget(button, RoleOf(button)) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? StripMnemonics(Button()->text()) : name;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (Button()->isCheckable() || role() != QAccessible::PushButton) {
            s.checkable = true;
            s.checked = Button()->isChecked();
        }
        if (Button()->isDown())
            s.pressed = true;
        if (auto* push = qobject_cast<QPushButton*>(Button()); push && push->isDefault())
            s.defaultButton = true;
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled())
            names << (Toggles() ? toggleAction() : pressAction());
        names << QAccessibleWidget::actionNames();
        return names;
    }

    void doAction(const QString& action) override
    {
        if (action == pressAction() || action == toggleAction()) {
            if (widget()->isEnabled())
                Button()->click();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString& action) const override
    {
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    static QAccessible::Role RoleOf(QAbstractButton* button)
    {
        if (qobject_cast<QCheckBox*>(button))
            return QAccessible::CheckBox;
        if (qobject_cast<QRadioButton*>(button))
            return QAccessible::RadioButton;
        return QAccessible::PushButton;
    }
    bool Toggles() const { return Button()->isCheckable() || role() != QAccessible::PushButton; }
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* ButtonFactory(const QString& className, QObject* object)
{
    auto* button = qobject_cast<QAbstractButton*>(object);
    if (!button || !(qobject_cast<QPushButton*>(button) || qobject_cast<QCheckBox*>(button)
                     || qobject_cast<QRadioButton*>(button)))
        return nullptr;
    // Asked first with the most derived class, before Qt's own factory.
    if (className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    return new AccessibleButton(button);
}

// A widget whose context menu is made of its actions offers those actions
// to assistive technology too: a screen reader cannot reach a popup menu
// opened by the mouse, but it can run an action of the widget it is on.
class AccessibleMenuWidget : public QAccessibleWidget
{
public:
    explicit AccessibleMenuWidget(QWidget* widget) : QAccessibleWidget(widget, RoleOf(widget)) {}

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        for (QAction* a : MenuActions())
            names << StripMnemonics(a->text());
        return names;
    }

    void doAction(const QString& action) override
    {
        if (QAction* a = Find(action)) {
            a->trigger();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString& action) const override
    {
        if (QAction* a = Find(action))
            return a->shortcut().isEmpty() ? QStringList() : QStringList{a->shortcut().toString(QKeySequence::NativeText)};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    // The roles Qt gives these widgets itself.
    static QAccessible::Role RoleOf(QWidget* w)
    {
        return qobject_cast<QDialog*>(w) ? QAccessible::Dialog : QAccessible::Client;
    }
    QList<QAction*> MenuActions() const
    {
        QList<QAction*> out;
        if (widget()->contextMenuPolicy() != Qt::ActionsContextMenu || !widget()->isEnabled())
            return out;
        for (QAction* a : widget()->actions())
            if (a->isVisible() && a->isEnabled() && !a->isSeparator())
                out << a;
        return out;
    }
    QAction* Find(const QString& name) const
    {
        for (QAction* a : MenuActions())
            if (StripMnemonics(a->text()) == name)
                return a;
        return nullptr;
    }
};

// Our own widgets that Qt would describe as a plain widget or dialog; the
// menu may be given after the interface is made, so it is looked up live.
QAccessibleInterface* MenuWidgetFactory(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    const QMetaObject* qtClass = object->metaObject();
    while (qtClass && !QByteArray(qtClass->className()).startsWith('Q'))
        qtClass = qtClass->superClass();
    if (!qtClass || (qtClass != &QWidget::staticMetaObject && qtClass != &QDialog::staticMetaObject))
        return nullptr;
    return new AccessibleMenuWidget(widget);
}

} // namespace

void InstallAccessibleActions()
{
    static const bool installed = [] {
        QAccessible::installFactory(&ButtonFactory);
        QAccessible::installFactory(&MenuWidgetFactory);
        return true;
    }();
    (void)installed;
}
