#pragma once

#include <QAbstractButton>

// A disclosure: a chevron pointing right (collapsed) or down (expanded) and a title, drawn flat,
// never as a pressed button. Checked means expanded.
class DisclosureButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit DisclosureButton(const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int chevronSide() const;
};
