#pragma once

#include <QAbstractButton>
#include <QUrl>

#include <functional>

// A text link: its label in the accent colour; pressing it hands its address to `openURL`.
class LinkButton : public QAbstractButton {
    Q_OBJECT

public:
    LinkButton(const QString& label, const QUrl& url, std::function<void(const QUrl&)> openURL,
               QWidget* parent = nullptr);

    QUrl url() const { return m_url; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QUrl m_url;
};
