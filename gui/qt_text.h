// The edge between the programs' GBK text and Qt's QString.
#pragma once

#include "common/text/gbk.h"

#include <QString>

#include <string>

namespace mirvo {

inline QString qstr(const std::string& gbk) { return QString::fromUtf8(gbk_to_utf8(gbk)); }
inline std::string gbk(const QString& s) { return utf8_to_gbk(s.toUtf8().toStdString()); }
// For the program's own literals, written as UTF-8 in the source.
inline std::string gbk_lit(const char* utf8) { return utf8_to_gbk(utf8); }

}  // namespace mirvo
