#pragma once

#include <QSettings>

#include "platform/Settings.h"

// ~/.config/nasscout/nasscout.conf, or under $XDG_CONFIG_HOME when that is set.
class QtSettings : public Settings {
public:
    QtSettings() : s_(QSettings::NativeFormat, QSettings::UserScope, "nasscout", "nasscout") {}

    std::optional<std::string> value(const std::string& key) const override {
        const QString k = QString::fromStdString(key);
        if (!s_.contains(k)) return std::nullopt;
        return s_.value(k).toString().toStdString();
    }
    bool setValue(const std::string& key, const std::string& value) override {
        s_.setValue(QString::fromStdString(key), QString::fromStdString(value));
        s_.sync();
        return s_.status() == QSettings::NoError;
    }
    std::string location() const override { return s_.fileName().toStdString(); }

private:
    QSettings s_;
};
