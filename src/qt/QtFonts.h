#pragma once

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include "platform/FontCatalogue.h"

inline QFont toQFont(const Font& font) {
    QFont f(QString::fromStdString(font.family));
    if (font.pointSize > 0) f.setPointSizeF(font.pointSize);
    return f;
}

class QtFontCatalogue : public FontCatalogue {
public:
    std::optional<Font> fontWithName(const std::string& name, double size) override {
        if (!QFontDatabase::families().contains(QString::fromStdString(name))) return std::nullopt;
        return Font{name, size > 0 ? size : QApplication::font().pointSizeF()};
    }
};
