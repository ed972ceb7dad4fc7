// The real window on the offscreen platform, with a fake engine: what the Qt
// adapters add to the logic.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include "Fakes.h"
#include "GuiTestSupport.h"
#include "MainWindow.h"
#include "QtDeviceTable.h"
#include "ui_MainWindow.h"

namespace {

struct Gui : testing::Test {
    FakeEngine engine;
    FakeDesktop preferences;  // only its language list is used
    NotificationCenter notifications;
    std::unique_ptr<MainWindow> window;

    Ui::MainWindow& open(std::string langDir = NASSCOUT_LANG_DIR) {
        preferences.languages = {"en"};
        MainWindowOptions options;
        options.tickIntervalMs = 10;
        options.languageDirectories = {langDir};
        options.preferences = &preferences;
        options.notifications = &notifications;
        options.exitProcess = [](int) {};  // closing is tested in its own process
        window = std::make_unique<MainWindow>(engine, options);
        window->show();
        return window->ui();
    }
    QString header(int column) {
        return window->table().model().headerData(column, Qt::Horizontal).toString();
    }
};

TEST_F(Gui, SmallLanguageTableRaisesANonModalAlertAndIsAppliedAsPlainText) {
    QTemporaryDir dir;
    QFile file(dir.filePath("XML_en.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(languageFile({{"Log In", "Enter &amp; go"},
                             {"List2", "Address"},
                             {"Device List", "&lt;b&gt;Boxes"},
                             {"Search Time", "&lt;i&gt;Time:"}})
                   .c_str());
    file.close();
    Ui::MainWindow& ui = open(dir.path().toStdString());
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if ((box = qobject_cast<QMessageBox*>(w)) && box->isVisible()) return true;
        return false;
    }));
    EXPECT_EQ(box->text() + "|" + box->informativeText(), "aaa|bbb");
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(ui.loginbutton->text(), "Enter && go");
    EXPECT_EQ(header(1) + "|" + header(0), "Address|Host name") << "the window's own texts stay";
    EXPECT_EQ(ui.deviceListField->font().family() + " " + ui.deviceListField->text(), "DejaVu Sans <b>Boxes");
    EXPECT_EQ(ui.deviceListField->font().pointSizeF(), 11);
    ASSERT_TRUE(waitFor([&] { return ui.countdownField->text().startsWith("<i>Time: "); }));
    EXPECT_EQ(ui.countdownField->textFormat() + ui.deviceListField->textFormat(), 2 * Qt::PlainText);
    box->close();
}

TEST_F(Gui, TheSelectedRowOfTheSortedTableOpensItsOwnDevice) {
    UrlCatcher catcher;
    engine.list = {device("nas-office", "198.51.100.10"), device("archive", "198.51.100.11")};
    Ui::MainWindow& ui = open();
    ASSERT_TRUE(waitFor([&] { return ui.loginbutton->isEnabled(); }));
    ui.tableview->sortByColumn(0, Qt::AscendingOrder);
    ui.tableview->selectRow(0);
    ui.loginbutton->click();
    ui.storagebutton->click();
    EXPECT_EQ(catcher.urls, (std::vector<QString>{"http://198.51.100.11", "smb://198.51.100.11"}));
}

TEST_F(Gui, ClosingForRealExitsWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            MainWindowOptions options;
            options.languageDirectories = {NASSCOUT_LANG_DIR};
            options.notifications = &notifications;
            MainWindow w(engine, options);
            w.show();
            w.close();
        },
        testing::ExitedWithCode(1), "");
}

TEST_F(Gui, TornDownWhileTheParseWaitsForTheMainThread) {
    for (int i = 0; i < 5; ++i) {
        open();
        // No events are processed meanwhile, so the parse ends up waiting for
        // the main thread to apply the table; teardown must release it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window.reset();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
