#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FontNode.h"
#include "NotificationCenter.h"
#include "platform/MainThread.h"
#include "platform/Operation.h"
#include "platform/SystemLog.h"

// Posted (on the main thread) when the language table is complete.
inline constexpr const char* kReflashLanguage = "AddEarthquakesNotif";
// Posted (on the main thread) when the language file could not be parsed.
inline constexpr const char* kEarthquakesErrorNotif = "EarthquakeErrorNotif";
// Key of the ParseError in the error notification's user information.
inline constexpr const char* kEarthquakesMsgErrorKey = "EarthquakesMsgErrorKey";

using LanguageTable = std::map<std::string, std::shared_ptr<FontNode>>;

struct ParseError {
    int code = 0;  // expat's XML_Error
    std::string description;
    long line = 0;
    long column = 0;
};

// Parses one language file into a table of FontNode entries, once, on the
// operation queue's thread.
class ParseOperation : public Operation, public std::enable_shared_from_this<ParseOperation> {
public:
    static std::shared_ptr<ParseOperation> initWithData(std::vector<char> data, NotificationCenter& center,
                                                        MainThread& mainThread, SystemLog& log);

    void main() override;
    // True once main has ended, with or without error; the table no longer
    // changes after that.
    bool isFinished() const { return finished_.load(std::memory_order_acquire); }

    // Read on the parse thread while parsing; elsewhere only once finished, or
    // from the completion notification's handler (the parse thread waits).
    const LanguageTable& currentParseBatchDic() const { return table_; }
    const FontNode* entry(const std::string& key) const;
    const std::vector<char>& earthquakeData() const { return data_; }
    std::shared_ptr<FontNode> currentEarthquakeObject() const { return current_; }

    // Main thread: posts kEarthquakesErrorNotif with the error.
    void handleEarthquakesError(const ParseError& error);

    // expat callbacks
    void didStartElement(const char* name, const char** attributes);
    void didEndElement(const char* name);

private:
    ParseOperation(std::vector<char> data, NotificationCenter& center, MainThread& mainThread, SystemLog& log);
    void parseErrorOccurred(const ParseError& error);

    const std::vector<char> data_;
    NotificationCenter& center_;
    MainThread& mainThread_;
    SystemLog& log_;
    std::shared_ptr<FontNode> current_;
    LanguageTable table_;
    std::atomic<bool> finished_{false};
};
