#pragma once

#include <QLabel>
#include <QPushButton>

#include "QtFonts.h"
#include "platform/Button.h"
#include "platform/TextField.h"

class QtButton : public Button {
public:
    explicit QtButton(QPushButton* button) : b_(button) {}
    void setEnabled(bool enabled) override { b_->setEnabled(enabled); }
    void setTitle(const std::string& title) override {
        // "&" would otherwise turn into a shortcut marker.
        b_->setText(QString::fromStdString(title).replace('&', QStringLiteral("&&")));
    }
    void setFont(const Font& font) override { b_->setFont(toQFont(font)); }

private:
    QPushButton* b_;
};

class QtTextField : public TextField {
public:
    explicit QtTextField(QLabel* label) : l_(label) { l_->setTextFormat(Qt::PlainText); }
    void setStringValue(const std::string& text) override { l_->setText(QString::fromStdString(text)); }
    void setFont(const Font& font) override { l_->setFont(toQFont(font)); }

private:
    QLabel* l_;
};
