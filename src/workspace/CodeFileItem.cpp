#include "workspace/CodeFileItem.h"

#include <QFileInfo>

QString CodeFileItem::name() const
{
    return QFileInfo(url.toLocalFile()).fileName();
}
