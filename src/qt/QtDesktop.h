#pragma once

#include <syslog.h>

#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QObject>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include "QtControls.h"
#include "platform/Alert.h"
#include "platform/FailureMessage.h"
#include "platform/SystemLog.h"
#include "platform/Workspace.h"

// With an opener program (xdg-open), the URL goes to it and its exit status
// tells whether a handler took it: the desktop services only report that the
// program started. Without one, the desktop services decide (tests register
// their own handlers there).
//
// Only a prompt failure counts. xdg-open ends at once with its own codes 1-4
// (bad arguments, no such file, no handler found, the handler refused) when
// nothing could be opened. In its generic mode it waits for the browser
// instead, and ends with whatever the browser ends with, perhaps minutes later
// when the user closes it: an opener still running after graceMs has opened
// the page, and its end says nothing more.
class QtWorkspace : public Workspace {
public:
    explicit QtWorkspace(QStringList opener = {}, int graceMs = 5000)
        : opener_(std::move(opener)), graceMs_(graceMs) {}

    void openURL(const std::string& url, std::function<void()> failed) override {
        const QUrl u(QString::fromStdString(url), QUrl::StrictMode);
        if (opener_.isEmpty()) {
            if (!QDesktopServices::openUrl(u)) failed();
            return;
        }
        // Owned by guard_: no report reaches a window that is gone.
        auto* process = new QProcess(&guard_);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer started;
        started.start();
        QObject::connect(process, &QProcess::finished, &guard_,
                         [process, failed, started, grace = graceMs_](int code, QProcess::ExitStatus status) {
                             const bool failure = status != QProcess::NormalExit || (code >= 1 && code <= 4);
                             if (failure && !started.hasExpired(grace)) failed();
                             process->deleteLater();
                         });
        QObject::connect(process, &QProcess::errorOccurred, &guard_,
                         [process, failed](QProcess::ProcessError e) {
                             if (e != QProcess::FailedToStart) return;  // the others end in finished
                             failed();
                             process->deleteLater();
                         });
        process->start(opener_.front(), opener_.mid(1) << u.toString(QUrl::FullyEncoded));
    }

private:
    QStringList opener_;
    int graceMs_;
    QObject guard_;
};

// syslog(3); the journal picks the lines up. echoToStderr (the --verbose
// switch) copies them to standard error as well.
class QtSystemLog : public SystemLog {
public:
    static void open(bool echoToStderr) {
        openlog("nasscout", LOG_PID | (echoToStderr ? LOG_PERROR : 0), LOG_USER);
    }
    void log(const std::string& line) override { syslog(LOG_INFO, "%s", line.c_str()); }
};

// Not modal and without a parent: the caller goes on at once.
class QtAlert : public Alert {
public:
    void show(const std::string& message, const std::string& defaultButton,
              const std::string& informativeText) override {
        auto* box = new QMessageBox;
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->setTextFormat(Qt::PlainText);
        box->setText(QString::fromStdString(message));
        box->setInformativeText(QString::fromStdString(informativeText));
        box->addButton(QString::fromStdString(defaultButton), QMessageBox::AcceptRole);
        box->show();
    }
};

// A warning over the window, not modal: the window stays usable.
class QtFailureMessage : public FailureMessage {
public:
    explicit QtFailureMessage(QWidget* window) : window_(window) {}
    void show(const std::string& message, const std::string& details, const ButtonText& copy,
              const std::string& copyText, const ButtonText& close) override {
        auto* box = new QMessageBox(QMessageBox::Warning, window_->windowTitle(),
                                    QString::fromStdString(message), QMessageBox::NoButton, window_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(QString::fromStdString(details));
        QPushButton* copyButton = box->addButton(QString(), QMessageBox::ActionRole);
        QPushButton* closeButton = box->addButton(QString(), QMessageBox::RejectRole);
        for (const auto& [button, text] : {std::pair{copyButton, &copy}, std::pair{closeButton, &close}}) {
            button->setText(titleWithMnemonic(QString::fromStdString(text->title),
                                              QString::fromStdString(text->access.mnemonic)));
            applyAccess(button, text->access, true);
        }
        const QString toCopy = QString::fromStdString(copyText);
        QObject::connect(copyButton, &QPushButton::clicked, box,
                         [toCopy] { QGuiApplication::clipboard()->setText(toCopy); });
        box->setDefaultButton(copyButton);
        box->show();
    }

private:
    QWidget* window_;
};
