#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QStyle>

#include "platform/DeviceEngine.h"
#include "platform/Preferences.h"
#include "platform/Settings.h"

namespace Ui {
class MainWindow;
}
class Controller;
class QtDeviceTable;
class QtButton;
class QtTextField;
class QtTimer;
class QtMainThread;
class QtWorkspace;
class QtSystemLog;
class QtAlert;
class QtFailureMessage;
class QtTargetsDialog;
class QtWindowFrame;
class QtFontCatalogue;
class ThreadOperationQueue;
class Resources;
class NotificationCenter;

struct MainWindowOptions {
    int tickIntervalMs = 0;  // 0: the controller's one second
    std::vector<std::string> languageDirectories;
    const Preferences* preferences = nullptr;  // null: the locale environment
    NotificationCenter* notifications = nullptr;  // null: the default centre
    std::function<void(int)> exitProcess;  // empty: std::exit
    std::string screenshotPath;  // when set: save the window there once the countdown ends, then quit
    std::vector<std::string> urlOpener;  // program (and arguments) that opens a URL; empty: desktop services
    std::string readmePath = "README.md";  // named in the status line when a search finds nothing
    Settings* settings = nullptr;          // where the other networks are kept; null: for this run only
};

// The main window: loads the form, connects the controller to it and starts
// the controller (which starts the engine).
class MainWindow : public QMainWindow {
public:
    MainWindow(DeviceEngine& engine, MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;

    Ui::MainWindow& ui() { return *ui_; }
    Controller& controller() { return *controller_; }
    QtDeviceTable& table() { return *table_; }
    QtTimer& tickTimer() { return *timer_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeScreenshot();

    MainWindowOptions options_;
    std::unique_ptr<Ui::MainWindow> ui_;
    std::unique_ptr<Preferences> ownPreferences_;
    std::unique_ptr<Resources> resources_;
    std::unique_ptr<QtDeviceTable> table_;
    std::unique_ptr<QtButton> login_, refresh_, storage_, others_;
    std::unique_ptr<QtTextField> countdown_, caption_, status_;
    std::unique_ptr<QtTimer> timer_;
    std::unique_ptr<QtMainThread> mainThread_;
    std::unique_ptr<QtWorkspace> workspace_;
    std::unique_ptr<QtSystemLog> log_;
    std::unique_ptr<QtAlert> alert_;
    std::unique_ptr<QtFailureMessage> failureMessage_;
    std::unique_ptr<QtTargetsDialog> targetsDialog_;
    std::unique_ptr<QtWindowFrame> frame_;
    std::unique_ptr<QStyle> focusStyle_;
    std::unique_ptr<QtFontCatalogue> fonts_;
    std::unique_ptr<ThreadOperationQueue> parseQueue_;
    std::unique_ptr<Controller> controller_;
};
