#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"
#include "DudIzizozCrashes/Model/tests/DIZCrashesTesting.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/UUID.h"

namespace {

std::shared_ptr<DIZErrorAttachmentLog> stamped(std::shared_ptr<DIZErrorAttachmentLog> attachment) {
    attachment->setTimestamp(kDIZTestWhen);
    attachment->setDevice(DIZValidDevice());
    return attachment;
}

TEST(DIZErrorAttachmentLogTest, TextAttachmentsAreUtf8AsBase64) {
    auto empty = DIZErrorAttachmentLog::attachmentWithText("", std::nullopt);
    EXPECT_EQ(empty->type(), "errorAttachment");
    EXPECT_EQ(empty->data(), Data{}) << "present, and empty";
    EXPECT_EQ(empty->contentType(), "text/plain");
    EXPECT_EQ(empty->filename(), std::nullopt);
    EXPECT_EQ(DIZJson(*empty)["data"], Value(""));

    auto accented = DIZErrorAttachmentLog::attachmentWithText("été ✓", "notes.txt");
    EXPECT_EQ(DIZJson(*accented)["data"], Value("w6l0w6kg4pyT"))
        << "the UTF-8 bytes c3 a9 74 c3 a9 20 e2 9c 93";
    EXPECT_EQ(DIZJson(*accented)["fileName"], Value("notes.txt"));

    // Long enough that a line-wrapping encoder would break it.
    auto longText = DIZErrorAttachmentLog::attachmentWithText(std::string(100, 'x'), "long.txt");
    EXPECT_EQ(DIZJson(*longText)["data"].asString()->find('\n'), std::string::npos);
}

TEST(DIZErrorAttachmentLogTest, JsonKeysValidityAndIdentity) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    auto attachment = stamped(
        DIZErrorAttachmentLog::attachmentWithBinary({0x00, 0xff}, "blob.bin", "application/octet-stream"));
    EXPECT_FALSE(attachment->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZErrorAttachmentLog: \"errorId\" is not valid.");
    attachment->setErrorId("E1D2C3B4-0000-4000-8000-000000000001");
    EXPECT_TRUE(attachment->isValid());
    attachment->setContentType("");
    EXPECT_TRUE(attachment->isValid()) << "presence is all that is checked";
    attachment->setData(std::nullopt);
    EXPECT_FALSE(attachment->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZErrorAttachmentLog: \"data\" is not valid.");
    attachment->setData(Data{0x00, 0xff});
    attachment->setSid("session");

    EXPECT_EQ(DIZJsonKeys(*attachment),
              (std::vector<std::string>{"type", "timestamp", "sid", "device", "id", "errorId", "contentType",
                                        "fileName", "data"}));
    EXPECT_EQ(DIZJson(*attachment)["id"], Value(*attachment->attachmentId()));
    EXPECT_EQ(DIZJson(*attachment)["data"], Value("AP8="));

    auto a = DIZErrorAttachmentLog::attachmentWithText("same", "same.txt");
    auto b = DIZErrorAttachmentLog::attachmentWithText("same", "same.txt");
    ASSERT_TRUE(a->attachmentId() && b->attachmentId());
    EXPECT_TRUE(UUID::fromString(*a->attachmentId()));
    EXPECT_NE(a->attachmentId(), b->attachmentId());
    EXPECT_FALSE(a->isEqual(*b));
    b->setAttachmentId(a->attachmentId());
    EXPECT_TRUE(a->isEqual(*b));
    b->setData(Data{'s', 'a', 'm', 'E'});
    EXPECT_FALSE(a->isEqual(*b)) << "bytes compare byte for byte";
}

}  // namespace
