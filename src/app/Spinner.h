#pragma once

#include <QTimer>
#include <QWidget>

// A small indeterminate progress spinner: spokes fading around a circle, turning only while the
// spinner is shown.
class Spinner : public QWidget {
    Q_OBJECT

public:
    // `side` is the diameter in points.
    explicit Spinner(int side = 16, QWidget* parent = nullptr);

    bool isSpinning() const { return m_timer.isActive(); }
    int step() const { return m_step; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_side;
    int m_step = 0;
    QTimer m_timer;
};
