// Shared by the Qt tests: event-loop waiting and catching opened URLs.
#pragma once

#include <functional>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QObject>
#include <QUrl>

// Runs the event loop until `done` holds; the deadline only stops a hung
// test, it is no timing requirement.
inline bool waitFor(const std::function<bool()>& done, int seconds = 30) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Receives what the window hands to the desktop for http and smb.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        QDesktopServices::setUrlHandler("http", this, "open");
        QDesktopServices::setUrlHandler("smb", this, "open");
    }
    ~UrlCatcher() override {
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("smb");
    }
    std::vector<QString> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url.toString()); }
};
