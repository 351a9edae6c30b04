#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

// An ordered collection of query parameters: each name maps to the list of its values. Parses
// redirect queries ("+" read as a space, repeated names kept as lists) and encodes URL queries
// and form bodies.
class OAuthURLQueryComponent {
public:
    OAuthURLQueryComponent() = default;
    explicit OAuthURLQueryComponent(const QUrl& url); // initWithURL:

    void addParameter(const QString& name, const QString& value);
    void addParameters(const QMap<QString, QString>& parameters);

    const QMap<QString, QStringList>& parameters() const { return m_parameters; }

    // A name with one value maps to that text, a name with several values to the list of texts.
    QJsonObject dictionaryValue() const;
    // One item per value: names in key order, values in their order.
    QList<QPair<QString, QString>> queryItems() const;
    // Percent-encoded "name=value" pairs joined with "&"; "&", "=", " " and "+" are always escaped.
    QString URLEncodedParameters() const;
    // `url` with its query replaced by URLEncodedParameters(); everything else unchanged.
    QUrl URLByReplacingQueryInURL(const QUrl& url) const;

private:
    QMap<QString, QStringList> m_parameters;
};
