// 8-bit text of the core code to and from Qt's strings. The system code
// page here is UTF-8.
#pragma once

#include <QString>
#include <string>

namespace plat {

inline QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string FromQ(const QString& s) {
  QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

}  // namespace plat
