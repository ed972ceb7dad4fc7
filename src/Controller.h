#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataPair.h"
#include "LanguageTexts.h"
#include "NotificationCenter.h"
#include "ParseOperation.h"
#include "platform/Alert.h"
#include "platform/ArrayController.h"
#include "platform/Button.h"
#include "platform/DeviceEngine.h"
#include "platform/FailureMessage.h"
#include "platform/FontCatalogue.h"
#include "platform/MainThread.h"
#include "platform/OperationQueue.h"
#include "platform/Preferences.h"
#include "platform/Resources.h"
#include "platform/Settings.h"
#include "platform/SystemLog.h"
#include "platform/TableView.h"
#include "platform/TargetsDialog.h"
#include "platform/TextField.h"
#include "platform/Timer.h"
#include "platform/WindowFrame.h"
#include "platform/Workspace.h"

// The main window's behaviour: device table, countdown, buttons, language.
// Every operation runs on the main thread.
class Controller {
public:
    // The window's controls, set by whoever loads the window.
    struct Outlets {
        ArrayController* array_controller = nullptr;
        TableView* tableview = nullptr;
        Button* loginbutton = nullptr;
        Button* refreshbutton = nullptr;
        Button* storagebutton = nullptr;
        TextField* countdownField = nullptr;
        TextField* deviceListField = nullptr;
        TextField* statusField = nullptr;  // optional: searches that could not start, nothing found
        WindowFrame* window = nullptr;     // optional: the translated title
        Button* othersbutton = nullptr;    // optional: opens the dialog of other networks
    };
    // What the controller needs of the desktop.
    struct Desktop {
        Timer& timer;
        Workspace& workspace;
        SystemLog& log;
        MainThread& mainThread;
        OperationQueue& parseQueue;
        Alert& alert;
        FontCatalogue& fonts;
        const Resources& resources;
        const Preferences& preferences;
        NotificationCenter& notifications;
        std::function<void(int)> exitProcess;
        FailureMessage* failureMessage = nullptr;  // optional: why a device could not be opened
        std::string readmePath = "README.md";      // named when a search found nothing
        TargetsDialog* targetsDialog = nullptr;    // optional: edits the other networks
        Settings* settings = nullptr;              // optional: keeps them between runs
    };

    static constexpr int kCountdownTicks = 11;
    // The setting that holds the other networks, as the user typed them.
    static constexpr const char* kTargetsSetting = "targets";

    Controller(Outlets outlets, Desktop desktop, DeviceEngine& engine);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    void awakeFromNib();
    void getDeviceList();  // timer tick
    void onRefreash();
    void onLogin();
    void onGotoStorage();
    void onOtherNetworks();
    void onTableviewDoubleClicked();
    void tableViewSortDescriptorsDidChange();
    void windowWillClose();
    void ReflashLanguage(const Notification& note);

    int counter() const { return counter_; }
    int count() const { return count_; }
    const std::shared_ptr<ParseOperation>& parseOperation() const { return parseOperation_; }

private:
    void loadLanguage();
    void setButtonsEnabled(bool enabled);
    void clearTable();
    void openSelected(const std::string& scheme);
    std::optional<Font> fontOf(const FontNode& node);
    const FontNode* finishedEntry(const std::string& key) const;
    const LanguageTable* finishedTable() const;
    void showStatus(const LanguageTexts& texts);
    void applyAccessTexts(const LanguageTexts& texts);
    void showOpenFailure(const std::string& scheme, const std::string& url);
    void loadTargets();
    void search();
    std::string saveTargets(const std::string& text);

    Outlets o_;
    Desktop d_;
    DeviceEngine& engine_;
    std::vector<RowPtr> device_;
    std::shared_ptr<ParseOperation> parseOperation_;
    std::optional<NotificationCenter::ObserverId> observer_;
    std::int32_t counter_ = 0;
    std::int32_t count_ = 0;
    std::vector<SearchWorkerStatus> workers_;  // as of the last search
    std::vector<SearchBroadcastSend> broadcastSends_;  // of the last search
    bool searchEnded_ = false;
    // Other networks: asked directly after each search, which then counts
    // down from the end of their sweep.
    std::string targetsText_;
    CSearchTargetList targets_;
    SearchTargetError storedTargetsError_;  // the stored text was refused
    bool targetsNotSaved_ = false;
    bool sweeping_ = false;
    SweepStatus lastSweep_;  // of the search shown
    KnownBoxes* boxes_ = nullptr;  // null when the user turned it off
    std::vector<KnownBoxes::Moved> moved_;  // since the last Refresh
    std::vector<KnownBoxes::Problem> boxProblems_;
    std::string receivedata_;
    DataPair value_pair_;
};
