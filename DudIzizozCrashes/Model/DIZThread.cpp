#include "DudIzizozCrashes/Model/DIZThread.h"

#include "DudIzizoz/Internals/Util/DIZLogger.h"

std::optional<Dictionary> DIZThread::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "id", threadId_);
    DIZSetIfPresent(dictionary, "name", name_);
    DIZSetIfPresent(dictionary, "frames", frames_);
    DIZSetIfPresent(dictionary, "exception", exception_);
    return dictionary;
}

bool DIZThread::isValid() const {
    const char* missing = !threadId_ ? "threadId" : !frames_ || frames_->empty() ? "frames" : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZThread::isEqual(const DIZThread& other) const {
    return threadId_ == other.threadId_ && name_ == other.name_ && DIZEqualLists(frames_, other.frames_) &&
           DIZEqualObjects(exception_, other.exception_);
}

std::string DIZThread::description() const {
    return diz_log::describe(Value(serializeToDictionary().value_or(Dictionary{})));
}

void DIZThread::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(threadId_), "id");
    coder.encodeObject(DIZArchived(name_), "name");
    coder.encodeObject(DIZArchived(frames_), "frames");
    coder.encodeObject(DIZArchived(exception_), "exception");
}

bool DIZThread::initWithCoder(KeyedUnarchiver& coder) {
    threadId_ = DIZDecodeNumber(coder, "id");
    name_ = coder.decodeString("name");
    return DIZDecodeList(coder, "frames", frames_) && DIZDecodeObject(coder, "exception", exception_);
}
