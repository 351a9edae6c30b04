#pragma once

#include <QHash>
#include <QMetaType>
#include <QString>
#include <QUrl>

// One entry of the workspace's file tree.
struct CodeFileItem {
    QUrl url;
    bool isDirectory = false;

    // The path of `url`.
    QString id() const { return url.toLocalFile(); }
    QString path() const { return url.toLocalFile(); }
    // The entry's own name.
    QString name() const;

    friend bool operator==(const CodeFileItem& a, const CodeFileItem& b)
    {
        return a.url == b.url && a.isDirectory == b.isDirectory;
    }
    friend bool operator!=(const CodeFileItem& a, const CodeFileItem& b) { return !(a == b); }
};

inline size_t qHash(const CodeFileItem& item, size_t seed = 0)
{
    return qHashMulti(seed, item.url, item.isDirectory);
}

Q_DECLARE_METATYPE(CodeFileItem)
