// Shared by the Qt tests: event-loop waiting and catching opened URLs.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <functional>
#include <vector>

// Runs the event loop until `done` holds; the deadline only stops a hung
// test, it is no timing requirement.
inline bool waitFor(const std::function<bool()>& done, int seconds = 30) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Receives what the window hands to the desktop for http and smb.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const char* scheme : {"http", "smb"}) QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override {
        for (const char* scheme : {"http", "smb"}) QDesktopServices::unsetUrlHandler(scheme);
    }
    std::vector<QString> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url.toString()); }
};
