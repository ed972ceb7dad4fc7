// The real window on the offscreen platform, with a fake engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include "AppDelegate.h"
#include "Fakes.h"
#include "GuiTestSupport.h"
#include "MainWindow.h"
#include "QtDeviceTable.h"
#include "ui_MainWindow.h"

namespace {

struct Gui : testing::Test {
    FakeEngine engine;
    FakePreferences preferences;
    NotificationCenter notifications;
    std::unique_ptr<MainWindow> window;

    MainWindow& open(std::vector<std::string> languages = {"en"}, std::string langDir = NASSCOUT_LANG_DIR) {
        preferences.languages = std::move(languages);
        MainWindowOptions options;
        options.tickIntervalMs = 10;
        options.languageDirectories = {langDir};
        options.preferences = &preferences;
        options.notifications = &notifications;
        options.exitProcess = [](int) {};  // closing is tested in its own process
        window = std::make_unique<MainWindow>(engine, options);
        window->show();
        return *window;
    }
    Ui::MainWindow& ui() { return window->ui(); }
    bool buttonsEnabled() {
        return ui().loginbutton->isEnabled() && ui().refreshbutton->isEnabled() && ui().storagebutton->isEnabled();
    }
    QString header(int column) { return window->table().model().headerData(column, Qt::Horizontal).toString(); }
};

TEST_F(Gui, CountsDownWithButtonsDisabledThenEnablesThem) {
    engine.workers = {{SearchWorkerStatus::Kind::Broadcast, "", 67, false, "bind: Permission denied"}};
    open();
    EXPECT_FALSE(ui().loginbutton->isEnabled());
    EXPECT_FALSE(ui().refreshbutton->isEnabled());
    EXPECT_FALSE(ui().storagebutton->isEnabled());
    EXPECT_TRUE(ui().statusField->text().startsWith("Broadcast search unavailable: port 67"));
    ASSERT_TRUE(waitFor([&] { return ui().countdownField->text().startsWith("Search time: "); }));
    EXPECT_FALSE(buttonsEnabled());
    ASSERT_TRUE(waitFor([&] { return buttonsEnabled(); }));
    EXPECT_EQ(ui().countdownField->text(), "");
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"init", "search"}));
}

TEST_F(Gui, LanguageFileStylesHeadersButtonsAndCaption) {
    open({"de"});
    ASSERT_TRUE(waitFor([&] { return ui().loginbutton->text() == "Anmelden"; }));
    EXPECT_EQ(header(0), "Hostname");
    EXPECT_EQ(header(1), "IP-Adresse");
    EXPECT_EQ(header(2), QString::fromUtf8("Gerätetyp"));
    EXPECT_EQ(ui().refreshbutton->text(), "Aktualisieren");
    EXPECT_EQ(ui().storagebutton->text(), "Mein Speicher");
    EXPECT_EQ(ui().deviceListField->text(), QString::fromUtf8("Geräteliste"));
    EXPECT_EQ(ui().deviceListField->font().family(), "DejaVu Sans");
    EXPECT_EQ(ui().deviceListField->font().pointSizeF(), 13);
    ASSERT_TRUE(waitFor([&] { return ui().countdownField->text().startsWith("Suchzeit: "); }));
    EXPECT_EQ(ui().countdownField->textFormat(), Qt::PlainText);
}

TEST_F(Gui, OpensTheSelectedDeviceAlsoWhenSorted) {
    UrlCatcher catcher;
    engine.list = {device("charlie", "198.51.100.10"), device("alpha", "198.51.100.11"),
                   device("<b>bravo</b>", "198.51.100.12")};
    open();
    ASSERT_TRUE(waitFor([&] { return buttonsEnabled(); }));
    QTableView* view = ui().tableview;
    ASSERT_EQ(view->model()->rowCount(), 3);
    EXPECT_EQ(view->model()->index(2, 0).data().toString(), "<b>bravo</b>");

    view->sortByColumn(0, Qt::AscendingOrder);  // <b>bravo</b>, alpha, charlie
    view->selectRow(1);
    ui().loginbutton->click();
    ui().storagebutton->click();
    view->selectAll();
    ui().loginbutton->click();  // several rows: nothing
    EXPECT_EQ(catcher.urls, (std::vector<QString>{"http://198.51.100.11", "smb://198.51.100.11"}));
}

TEST_F(Gui, SmallLanguageTableRaisesANonModalAlertAndIsApplied) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("XML_en.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(languageFile({{"Log In", "Enter &amp; go"}, {"List2", "Address"}}).c_str());
    file.close();
    open({"en"}, dir.path().toStdString());
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if ((box = qobject_cast<QMessageBox*>(w)) && box->isVisible()) return true;
        return false;
    }));
    EXPECT_EQ(box->text(), "aaa");
    EXPECT_EQ(box->informativeText(), "bbb");
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(ui().loginbutton->text(), "Enter && go");
    EXPECT_EQ(header(1), "Address");
    EXPECT_EQ(header(0), "Host name") << "the window's own text stays";
    box->close();
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
    SUCCEED();
}

TEST_F(Gui, AppDelegateColoursTheWindow) {
    open();
    FakeLog log;
    AppDelegate delegate(window.get(), log);
    delegate.awakeFromNib();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor::fromRgbF(0.33f, 0.41f, 0.54f));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"application awakeFromNib........",
                                                   "applicationDidFinishLaunching........"}));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
