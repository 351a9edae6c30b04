#pragma once

#include <QGroupBox>
#include <QUrl>

#include <functional>

class LinkButton;

// The maker's "About" card: brand line, phone, e-mail and web links, and a short description.
class DravixInfoCard : public QGroupBox {
    Q_OBJECT

public:
    // Links open through `openURL` (the platform's default handler when none is given).
    explicit DravixInfoCard(std::function<void(const QUrl&)> openURL = {}, QWidget* parent = nullptr);

    QList<LinkButton*> links() const { return m_links; }

private:
    QList<LinkButton*> m_links;
};
