#pragma once

#include <memory>

#include <QSettings>
#include <QStringList>

#include "platform/Settings.h"

// ~/.config/nasscout/nasscout.conf, or under $XDG_CONFIG_HOME when that is set.
// Each call opens the file afresh: QSettings keeps the first error it met,
// so one object would report a failed save, or a hand-edited line it could
// not parse, at every later save.
class QtSettings : public Settings {
public:
    std::optional<std::string> value(const std::string& key) const override {
        const auto s = open();
        const QString k = QString::fromStdString(key);
        if (!s->contains(k)) return std::nullopt;
        const QVariant v = s->value(k);
        // An unquoted comma in a hand-edited line makes the value a list.
        if (v.metaType().id() == QMetaType::QStringList) return v.toStringList().join(", ").toStdString();
        return v.toString().toStdString();
    }
    bool setValue(const std::string& key, const std::string& value) override {
        const QString k = QString::fromStdString(key), v = QString::fromStdString(value);
        {
            const auto s = open();
            s->setValue(k, v);
            s->sync();
            if (s->status() == QSettings::NoError) return true;
        }
        // The error may be the file's old text, which the write has replaced
        // by now: a fresh read of it tells. A write that failed is still
        // pending and is tried again here, failing again.
        const auto check = open();
        return check->status() == QSettings::NoError && check->value(k) == v;
    }
    std::string location() const override { return open()->fileName().toStdString(); }

private:
    static std::unique_ptr<QSettings> open() {
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "nasscout", "nasscout");
    }
};
