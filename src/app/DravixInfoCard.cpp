#include "app/DravixInfoCard.h"

#include "app/LinkButton.h"
#include "app/Maker.h"
#include "app/Theme.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

DravixInfoCard::DravixInfoCard(std::function<void(const QUrl&)> openURL, QWidget* parent)
    : QGroupBox(QStringLiteral("About"), parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 12);
    layout->setSpacing(12);

    auto* brand = new QLabel(QStringLiteral("A product by ") + Maker::brand());
    brand->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(brand, Theme::TextStyle::headline);
    layout->addWidget(brand);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(8);
    const struct {
        QString label;
        QString value;
        QString address;
    } rows[] = {
        {QStringLiteral("Phone/Zalo"), Maker::phone(), Maker::phoneURL()},
        {QStringLiteral("Email"), Maker::email(), Maker::emailURL()},
        {QStringLiteral("Website"), Maker::webAddress(), Maker::webAddress()},
    };
    int row = 0;
    for (const auto& entry : rows) {
        auto* label = new QLabel(entry.label);
        label->setTextFormat(Qt::PlainText);
        Theme::setTextStyle(label, Theme::TextStyle::callout);
        Theme::setForeground(label, Theme::secondary());
        auto* link = new LinkButton(entry.value, QUrl(entry.address, QUrl::StrictMode), openURL);
        Theme::setTextStyle(link, Theme::TextStyle::callout);
        m_links << link;
        grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(link, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
        ++row;
    }
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);

    auto* description = new QLabel(
        QStringLiteral("Website design, mobile apps, custom software and digital product development."));
    description->setTextFormat(Qt::PlainText);
    description->setWordWrap(true);
    description->setContentsMargins(0, 4, 0, 0);
    Theme::setForeground(description, Theme::secondary());
    layout->addWidget(description);
}
