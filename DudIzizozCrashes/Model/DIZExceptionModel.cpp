#include "DudIzizozCrashes/Model/DIZExceptionModel.h"

#include <string_view>

#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/NSThread.h"

namespace {
constexpr std::string_view kSeparators = " -[]+?.,";

std::string describe(const DIZExceptionModel::Symbols& symbols) {
    return diz_log::describe(Value(Value::Array(symbols.begin(), symbols.end())));
}

std::vector<std::string_view> piecesOf(std::string_view line) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start < line.size()) {
        const size_t end = std::min(line.find_first_of(kSeparators, start), line.size());
        if (end > start) pieces.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}
}  // namespace

void DIZExceptionModel::initWithError(const Error& error) {
    type_ = error.domain.empty() ? Text() : Text(error.domain);
    const Dictionary* userInfo = error.userInfo.asDictionary();
    message_ = userInfo && !userInfo->empty() ? Text(diz_log::describe(error.userInfo)) : Text();
    setStack(NSThread::callStackSymbols());
}

void DIZExceptionModel::initWithType(Text type, Text message, std::optional<Symbols> stackTrace) {
    type_ = std::move(type);
    message_ = std::move(message);
    setStack(stackTrace ? *stackTrace : NSThread::callStackSymbols());
}

void DIZExceptionModel::fillFromException(Text name, Text reason, std::optional<Symbols> callStackSymbols) {
    type_ = std::move(name);
    message_ = std::move(reason);
    if (callStackSymbols) {
        setStack(*callStackSymbols);
    } else {
        stackTrace_.reset();
        frames_ = loadStackTrace(NSThread::callStackSymbols());
    }
}

void DIZExceptionModel::setStack(const Symbols& symbols) {
    stackTrace_ = describe(symbols);
    frames_ = loadStackTrace(symbols);
}

std::vector<std::shared_ptr<DIZStackFrame>> DIZExceptionModel::loadStackTrace(const Symbols& symbols) {
    std::vector<std::shared_ptr<DIZStackFrame>> frames;
    for (const auto& line : symbols) {
        const auto pieces = piecesOf(line);
        if (pieces.size() < 6) continue;
        auto frame = std::make_shared<DIZStackFrame>();
        frame->setFileName(std::string(pieces[1]));
        frame->setAddress(std::string(pieces[2]));
        frame->setClassName(std::string(pieces[3]));
        frame->setMethodName(std::string(pieces[4]));
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::optional<Dictionary> DIZExceptionModel::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "type", type_);
    DIZSetIfPresent(dictionary, "message", message_);
    DIZSetIfPresent(dictionary, "stackTrace", stackTrace_);
    DIZSetIfPresent(dictionary, "frames", frames_);
    return dictionary;
}

bool DIZExceptionModel::isValid() const {
    const char* missing = !type_ ? "type" : !frames_ || frames_->empty() ? "frames" : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZExceptionModel::isEqual(const DIZExceptionModel& other) const {
    return type_ == other.type_ && message_ == other.message_ && stackTrace_ == other.stackTrace_ &&
           DIZEqualLists(frames_, other.frames_);
}

void DIZExceptionModel::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(type_), "type");
    coder.encodeObject(DIZArchived(message_), "message");
    coder.encodeObject(DIZArchived(stackTrace_), "stackTrace");
    coder.encodeObject(DIZArchived(frames_), "frames");
}

bool DIZExceptionModel::initWithCoder(KeyedUnarchiver& coder) {
    type_ = coder.decodeString("type");
    message_ = coder.decodeString("message");
    stackTrace_ = coder.decodeString("stackTrace");
    return DIZDecodeList(coder, "frames", frames_);
}
