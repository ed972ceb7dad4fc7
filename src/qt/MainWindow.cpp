#include "MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QShortcut>
#include <QStyleOption>
#include <cstdlib>

#include "Controller.h"
#include "DirectoryResources.h"
#include "EnvironmentPreferences.h"
#include "NotificationCenter.h"
#include "QtControls.h"
#include "QtDesktop.h"
#include "QtDeviceTable.h"
#include "QtFonts.h"
#include "QtMainThread.h"
#include "QtTargetsDialog.h"
#include "QtTimer.h"
#include "ThreadOperationQueue.h"
#include "ui_MainWindow.h"

namespace {

// The base style's hint of a focused button is a faint tint; keyboard users
// must see at a glance where they are.
class FocusRingStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(option->palette.color(QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
        painter->restore();
    }
};

}  // namespace

MainWindow::MainWindow(DeviceEngine& engine, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);

    table_ = std::make_unique<QtDeviceTable>(ui_->tableview);
    table_->model().setHorizontalHeaderLabels({tr("Host name"), tr("IP address"), tr("Device type")});
    login_ = std::make_unique<QtButton>(ui_->loginbutton);
    refresh_ = std::make_unique<QtButton>(ui_->refreshbutton);
    storage_ = std::make_unique<QtButton>(ui_->storagebutton);
    others_ = std::make_unique<QtButton>(ui_->othersbutton);
    countdown_ = std::make_unique<QtTextField>(ui_->countdownField);
    caption_ = std::make_unique<QtTextField>(ui_->deviceListField);
    status_ = std::make_unique<QtTextField>(ui_->statusField);
    timer_ = std::make_unique<QtTimer>(options_.tickIntervalMs);
    mainThread_ = std::make_unique<QtMainThread>();
    QStringList opener;
    for (const std::string& part : options_.urlOpener) opener << QString::fromStdString(part);
    workspace_ = std::make_unique<QtWorkspace>(opener);
    log_ = std::make_unique<QtSystemLog>();
    alert_ = std::make_unique<QtAlert>();
    failureMessage_ = std::make_unique<QtFailureMessage>(this);
    targetsDialog_ = std::make_unique<QtTargetsDialog>(this);
    frame_ = std::make_unique<QtWindowFrame>(this);
    fonts_ = std::make_unique<QtFontCatalogue>();
    parseQueue_ = std::make_unique<ThreadOperationQueue>();
    resources_ = std::make_unique<DirectoryResources>(options_.languageDirectories);
    const Preferences* preferences = options_.preferences;
    if (!preferences) {
        ownPreferences_ = std::make_unique<EnvironmentPreferences>();
        preferences = ownPreferences_.get();
    }
    NotificationCenter& notifications =
        options_.notifications ? *options_.notifications : NotificationCenter::defaultCenter();
    std::function<void(int)> exitProcess = options_.exitProcess;
    if (!exitProcess) exitProcess = [](int status) { std::exit(status); };

    Controller::Outlets outlets{table_.get(),   table_.get(),     login_.get(),   refresh_.get(),
                                storage_.get(), countdown_.get(), caption_.get(), status_.get(),
                                frame_.get(),   others_.get()};
    controller_ = std::make_unique<Controller>(
        outlets,
        Controller::Desktop{*timer_, *workspace_, *log_, *mainThread_, *parseQueue_, *alert_, *fonts_,
                            *resources_, *preferences, notifications, exitProcess, failureMessage_.get(),
                            options_.readmePath, targetsDialog_.get(), options_.settings},
        engine);

    // The installed theme's icon; the built-in copy where none is installed.
    setWindowIcon(QIcon::fromTheme("nasscout", QIcon(":/icons/nasscout.svg")));

    focusStyle_ = std::make_unique<FocusRingStyle>();
    for (QPushButton* b : {ui_->loginbutton, ui_->storagebutton, ui_->refreshbutton, ui_->othersbutton})
        b->setStyle(focusStyle_.get());

    // Keys go through the buttons, so that they do nothing while a button is disabled.
    ui_->tableview->installEventFilter(this);
    for (QKeySequence keys : {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)})
        connect(new QShortcut(keys, this), &QShortcut::activated, ui_->refreshbutton, &QPushButton::click);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this,
            &QWidget::close);

    Controller* c = controller_.get();
    connect(ui_->loginbutton, &QPushButton::clicked, this, [c] { c->onLogin(); });
    connect(ui_->refreshbutton, &QPushButton::clicked, this, [c] { c->onRefreash(); });
    connect(ui_->storagebutton, &QPushButton::clicked, this, [c] { c->onGotoStorage(); });
    connect(ui_->othersbutton, &QPushButton::clicked, this, [c] { c->onOtherNetworks(); });
    connect(ui_->tableview, &QTableView::doubleClicked, this, [c] { c->onTableviewDoubleClicked(); });
    connect(ui_->tableview->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [c] { c->tableViewSortDescriptorsDidChange(); });

    controller_->awakeFromNib();

    if (!options_.screenshotPath.empty())
        // Connected after the controller's tick, so it sees that tick's result.
        connect(&timer_->timer(), &QTimer::timeout, this, [this] { takeScreenshot(); });
}

MainWindow::~MainWindow() {
    // Release a parse thread waiting on the main thread before joining it.
    mainThread_->shutdown();
    parseQueue_->waitUntilAllOperationsAreFinished();
    controller_.reset();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    controller_->windowWillClose();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // A table that takes the focus shows where it is: the first row becomes
    // current (not selected, so nothing opens by accident).
    if (watched == ui_->tableview && event->type() == QEvent::FocusIn) {
        QItemSelectionModel* selection = ui_->tableview->selectionModel();
        if (!selection->currentIndex().isValid() && ui_->tableview->model()->rowCount() > 0)
            selection->setCurrentIndex(ui_->tableview->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    }
    // Enter on a row does what the login button does; double-click stays idle.
    if (watched == ui_->tableview && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ui_->loginbutton->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::takeScreenshot() {
    // Log In opens during a long sweep already; Refresh waits for the search's end.
    if (!ui_->refreshbutton->isEnabled()) return;
    const bool saved = grab().save(QString::fromStdString(options_.screenshotPath), "PNG");
    QCoreApplication::exit(saved ? 0 : 1);
}
