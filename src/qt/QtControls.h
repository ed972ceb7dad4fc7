#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>

#include "QtFonts.h"
#include "platform/Button.h"
#include "platform/TextField.h"
#include "platform/WindowFrame.h"

// A title shown as given ("&" stays "&"), with the mnemonic letter marked at
// its first occurrence, or added as " (&X)" where the title lacks it.
inline QString titleWithMnemonic(const QString& title, const QString& mnemonic) {
    QString text = title;
    text.replace('&', QStringLiteral("&&"));
    if (mnemonic.isEmpty() || mnemonic == "&") return text;
    const QString letter = mnemonic.left(mnemonic.front().isHighSurrogate() ? 2 : 1);
    const int at = text.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at >= 0) return text.insert(at, '&');
    return text + " (&" + letter + ")";
}

// The accessible name and description; the description doubles as tool tip
// where asked, so that mouse users read what a screen reader announces.
inline void applyAccess(QWidget* widget, const AccessTexts& access, bool toolTip = false) {
    if (!access.name.empty()) widget->setAccessibleName(QString::fromStdString(access.name));
    if (access.description.empty()) return;
    widget->setAccessibleDescription(QString::fromStdString(access.description));
    if (toolTip) widget->setToolTip(QString::fromStdString(access.description));
}

class QtButton : public Button {
public:
    explicit QtButton(QPushButton* button) : b_(button), title_(button->text()) {}
    void setEnabled(bool enabled) override { b_->setEnabled(enabled); }
    void setTitle(const std::string& title) override {
        title_ = QString::fromStdString(title);
        b_->setText(titleWithMnemonic(title_, mnemonic_));
    }
    void setFont(const Font& font) override { b_->setFont(toQFont(font)); }
    void setAccess(const AccessTexts& access) override {
        if (!access.mnemonic.empty()) {
            mnemonic_ = QString::fromStdString(access.mnemonic);
            b_->setText(titleWithMnemonic(title_, mnemonic_));
        }
        applyAccess(b_, access, true);
    }

private:
    QPushButton* b_;
    QString title_, mnemonic_;
};

// Plain text always. A label with a buddy (a caption) takes a mnemonic that
// moves the focus to the buddy.
class QtTextField : public TextField {
public:
    explicit QtTextField(QLabel* label) : l_(label), text_(label->text()) {
        l_->setTextFormat(Qt::PlainText);
    }
    void setStringValue(const std::string& text) override {
        text_ = QString::fromStdString(text);
        show();
    }
    void setFont(const Font& font) override { l_->setFont(toQFont(font)); }
    void setAccess(const AccessTexts& access) override {
        if (!access.mnemonic.empty()) mnemonic_ = QString::fromStdString(access.mnemonic);
        show();
        applyAccess(l_, access);
    }

private:
    void show() { l_->setText(l_->buddy() ? titleWithMnemonic(text_, mnemonic_) : text_); }
    QLabel* l_;
    QString text_, mnemonic_;
};

class QtWindowFrame : public WindowFrame {
public:
    explicit QtWindowFrame(QWidget* window) : w_(window) {}
    void setTitle(const std::string& title) override { w_->setWindowTitle(QString::fromStdString(title)); }

private:
    QWidget* w_;
};
