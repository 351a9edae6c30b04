// The order of PHP version texts.
#include "app/AppModel.h"

#include "platform/Text.h"

#include <array>

int AppModel::compareVersion(const QString& a, const QString& b)
{
    auto pieces = [](const QString& text) {
        std::array<qint64, 3> values{0, 0, 0};
        const QStringList parts = text.split(u'.', Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < parts.size() && i < 3; ++i)
            values[static_cast<size_t>(i)] = Text::parseInt64(parts[i]).value_or(0);
        return values;
    };
    const auto left = pieces(a);
    const auto right = pieces(b);
    for (size_t i = 0; i < 3; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}
