#include "AppDelegate.h"

#include <QColor>
#include <QPalette>

void AppDelegate::awakeFromNib() {
    if (window_) {
        QPalette palette = window_->palette();
        palette.setColor(QPalette::Window, QColor::fromRgbF(0.33f, 0.41f, 0.54f, 1.0f));
        // The default dark text is hard to read on this background.
        palette.setColor(QPalette::WindowText, Qt::white);
        window_->setPalette(palette);
        window_->setAutoFillBackground(true);
    }
    log_.log("application awakeFromNib........");
}

void AppDelegate::applicationDidFinishLaunching() { log_.log("applicationDidFinishLaunching........"); }
