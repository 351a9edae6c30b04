#pragma once

#include <QString>

// The maker's contact values, shown as links and opened with the default handler.
namespace Maker {

inline QString brand() { return QStringLiteral("Dravix"); }
inline QString webAddress() { return QStringLiteral("https://dravix.vn"); }
inline QString phone() { return QStringLiteral("+84 909 123 456"); }
inline QString phoneURL() { return QStringLiteral("tel:+84909123456"); }
inline QString email() { return QStringLiteral("hello@dravix.vn"); }
inline QString emailURL() { return QStringLiteral("mailto:hello@dravix.vn"); }

} // namespace Maker
