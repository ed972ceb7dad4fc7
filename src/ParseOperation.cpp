#include "ParseOperation.h"

#include <expat.h>

#include <algorithm>
#include <cstring>

namespace {

void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<ParseOperation*>(self)->didStartElement(name, attributes);
}

void XMLCALL onEnd(void* self, const XML_Char* name) { static_cast<ParseOperation*>(self)->didEndElement(name); }

std::optional<std::string> attribute(const char** attributes, const char* name) {
    for (const char** a = attributes; a && a[0]; a += 2)
        if (std::strcmp(a[0], name) == 0) return std::string(a[1]);
    return std::nullopt;
}

}  // namespace

std::shared_ptr<ParseOperation> ParseOperation::initWithData(std::vector<char> data, NotificationCenter& center,
                                                             MainThread& mainThread, SystemLog& log) {
    return std::shared_ptr<ParseOperation>(new ParseOperation(std::move(data), center, mainThread, log));
}

ParseOperation::ParseOperation(std::vector<char> data, NotificationCenter& center, MainThread& mainThread,
                               SystemLog& log)
    : data_(std::move(data)), center_(center), mainThread_(mainThread), log_(log) {}

const FontNode* ParseOperation::entry(const std::string& key) const {
    const auto it = table_.find(key);
    return it == table_.end() ? nullptr : it->second.get();
}

void ParseOperation::main() {
    table_.clear();
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) {
        parseErrorOccurred({XML_ERROR_NO_MEMORY, XML_ErrorString(XML_ERROR_NO_MEMORY), 0, 0});
        finished_.store(true, std::memory_order_release);
        return;
    }
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, onStart, onEnd);
    // XML_Parse takes an int length, so feed large data in pieces.
    constexpr std::size_t kChunk = 1 << 20;
    std::size_t offset = 0;
    bool ok = true;
    do {
        const std::size_t n = std::min(kChunk, data_.size() - offset);
        const bool last = offset + n == data_.size();
        const char* bytes = data_.empty() ? "" : data_.data() + offset;
        ok = XML_Parse(parser, bytes, static_cast<int>(n), last) == XML_STATUS_OK;
        offset += n;
    } while (ok && offset < data_.size());
    if (!ok) {
        const XML_Error code = XML_GetErrorCode(parser);
        parseErrorOccurred({code, XML_ErrorString(code) ? XML_ErrorString(code) : "",
                            static_cast<long>(XML_GetCurrentLineNumber(parser)),
                            static_cast<long>(XML_GetCurrentColumnNumber(parser))});
    }
    XML_ParserFree(parser);
    finished_.store(true, std::memory_order_release);
}

void ParseOperation::didStartElement(const char* name, const char** attributes) {
    if (std::strcmp(name, "NODE") == 0) {
        current_ = std::make_shared<FontNode>();
    } else if (std::strcmp(name, "KEY") == 0) {
        log_.log("KEY1=KEY");
        // Before the first NODE there is no entry to fill.
        if (!current_) return;
        current_->KeyString = attribute(attributes, "KeyString");
        current_->String = attribute(attributes, "String");
        current_->Font = attribute(attributes, "Font");
        current_->FontColor = attribute(attributes, "Color");
        current_->FontSize = attribute(attributes, "Size");
        current_->FontOffset = attribute(attributes, "Offset");
    }
}

void ParseOperation::didEndElement(const char* name) {
    if (std::strcmp(name, "NODE") == 0) {
        if (current_ && current_->KeyString) table_[*current_->KeyString] = current_;
    } else if (std::strcmp(name, "LanguageCFG") == 0) {
        // Controls may only be touched on the main thread; the parse goes on
        // once the observers have returned.
        auto self = shared_from_this();
        mainThread_.perform([self] { self->center_.postNotificationName(kReflashLanguage, self.get()); }, true);
    }
}

void ParseOperation::parseErrorOccurred(const ParseError& error) {
    // An abort by the handler is no error to report; this parser never aborts.
    if (error.code == XML_ERROR_ABORTED) return;
    auto self = shared_from_this();
    mainThread_.perform([self, error] { self->handleEarthquakesError(error); }, false);
}

void ParseOperation::handleEarthquakesError(const ParseError& error) {
    center_.postNotificationName(kEarthquakesErrorNotif, this, {{kEarthquakesMsgErrorKey, error}});
}
