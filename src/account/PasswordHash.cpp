// The local hash of a password kept in the user profile.
#include "app/AppModel.h"

#include <QCryptographicHash>

QString AppModel::hash(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}
