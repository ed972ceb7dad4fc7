#pragma once

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include <QtGlobal>

#include "platform/Alert.h"
#include "platform/SystemLog.h"
#include "platform/Workspace.h"

class QtWorkspace : public Workspace {
public:
    void openURL(const std::string& url) override {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
    }
};

class QtSystemLog : public SystemLog {
public:
    void log(const std::string& line) override { qInfo().noquote() << QString::fromStdString(line); }
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
