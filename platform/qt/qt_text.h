#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tavro::qt {

// The logic's texts are UTF-8; Qt's are UTF-16.
inline QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace tavro::qt
