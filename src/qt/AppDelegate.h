#pragma once

#include <QWidget>

#include "platform/SystemLog.h"

// The application's delegate: the main window's colour and two log lines.
class AppDelegate {
public:
    AppDelegate(QWidget* window, SystemLog& log) : window_(window), log_(log) {}

    void awakeFromNib();
    void applicationDidFinishLaunching();
    QWidget* window() const { return window_; }
    void setWindow(QWidget* window) { window_ = window; }

private:
    QWidget* window_;
    SystemLog& log_;
};
