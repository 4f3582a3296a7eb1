// The flat combo box of the main dialog: an editable drop-down whose closed box
// is a white field with a blue arrow button. Everything else is the platform
// combo box's own behaviour.
#pragma once

#include <QComboBox>

class CCustomDrawCombox : public QComboBox
{
    Q_OBJECT
public:
    explicit CCustomDrawCombox(QWidget* parent = nullptr);
    ~CCustomDrawCombox() override;

    // Called when the object takes over its dialog control.
    virtual void PreSubclassWindow();

    // The drawn arrow button, at the right end over the full height; a press
    // there opens the list.
    static constexpr int ARROW_WIDTH = 20;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void OnPaint();

private:
    void KeepFieldWhite();
};
