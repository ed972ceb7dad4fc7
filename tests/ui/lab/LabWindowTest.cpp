// The real window with the real engine, in the lab only, run by window_lab.py
// while the boxes behind the lab's router (198.18.10.20 and .21) answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "GuiTestSupport.h"
#include "MainWindow.h"
#include "QtSettings.h"
#include "SearchEngine.h"
#include "ui_MainWindow.h"

// A box behind the router hears only unicast: it is listed once the dialog
// names it, and the next window, reading the settings, asks it at start.
TEST(LabWindow, OtherNetworksAreAskedOnlyWhenNamedAndKeptForTheNextStart) {
    SearchEngine engine;
    MainWindowOptions options;
    options.tickIntervalMs = 100;
    options.languageDirectories = {NASSCOUT_LANG_DIR};
    options.exitProcess = [](int) {};
    auto settings = std::make_unique<QtSettings>();
    options.settings = settings.get();
    auto window = std::make_unique<MainWindow>(engine, options);
    window->show();
    auto ended = [&] { return window->ui().loginbutton->isEnabled(); };
    auto far = [&] {
        QAbstractItemModel* model = window->ui().tableview->model();
        return !model->match(model->index(0, 1), Qt::DisplayRole, "198.18.10.20").isEmpty();
    };
    ASSERT_TRUE(waitFor(ended));
    EXPECT_FALSE(far()) << "listed without being named";

    window->ui().othersbutton->click();
    QPointer<QDialog> dialog = window->findChild<QDialog*>("targetsDialog");
    ASSERT_TRUE(dialog);
    auto* edit = dialog->findChild<QPlainTextEdit*>("targetsEdit");
    auto* save = dialog->findChild<QPushButton*>("targetsSave");
    edit->setPlainText("198.18.10.0/33");
    save->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->findChild<QLabel*>("targetsError")->text(),
              "'198.18.10.0/33': a network must be /16 to /32");
    edit->setPlainText("198.18.10.20");
    save->click();
    ASSERT_TRUE(waitFor([&] { return !dialog; }));
    ASSERT_TRUE(waitFor(far));
    ASSERT_TRUE(waitFor(ended));  // every answer is in before the list is emptied
    QFile file(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("nasscout/nasscout.conf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("targets=198.18.10.20"));

    window.reset();
    engine.clearDeviceList();
    settings = std::make_unique<QtSettings>();
    options.settings = settings.get();
    window = std::make_unique<MainWindow>(engine, options);
    window->show();
    EXPECT_TRUE(waitFor(far));
}

int main(int argc, char** argv) {
    // The engine broadcasts: never outside the lab's namespaces.
    if (!std::getenv("LAB_LAN_PID")) {
        std::fprintf(stderr, "ui_lab_tests: not inside tests/lab/lab.sh; skipped\n");
        return 77;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;  // the user's own settings stay untouched
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
