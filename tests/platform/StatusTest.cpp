#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "platform/Status.h"

namespace corvyn {
namespace {

// The numbers of the product's codes and of errno overlap (ENOENT is 2 like
// kStopped, EROFS 30 like kShortRead, EUSERS 87 like kInvalidData); a
// status knows which of the two it is.
TEST(Status, SystemErrorsNeverEqualProductCodesOfTheSameNumber) {
  const struct {
    int errorNumber;
    StatusCode code;
  } collisions[] = {{ENOENT, kStopped}, {EROFS, kShortRead}, {EUSERS, kInvalidData}};
  for (const auto& c : collisions) {
    SCOPED_TRACE(c.errorNumber);
    ASSERT_EQ(static_cast<int>(c.code), c.errorNumber);  // the overlap this type exists for
    const Status system = Status::System(c.errorNumber, "x");
    EXPECT_NE(system, c.code);
    EXPECT_NE(system, Status(c.code));
    EXPECT_FALSE(system.ok());
    EXPECT_TRUE(system.IsSystemError());
    EXPECT_EQ(system.systemError(), c.errorNumber);
    EXPECT_EQ(system.code(), kInvalidData);  // callers that know only codes: unreadable data
    EXPECT_EQ(Status(c.code).systemError(), 0);
  }
  EXPECT_FALSE(Status::System(ENOENT, "sms.db").IsStopped());
  EXPECT_TRUE(Status(kStopped).IsStopped());
}

TEST(Status, EqualityComparesKindAndNumberNotWords) {
  EXPECT_EQ(Status(), kOk);
  EXPECT_TRUE(Status().ok());
  EXPECT_EQ(Status(kInvalidData, "one text"), Status(kInvalidData, "another"));
  EXPECT_EQ(Status::System(ENOENT, "a"), Status::System(ENOENT, "b"));
  EXPECT_NE(Status::System(ENOENT, "a"), Status::System(EACCES, "a"));
  EXPECT_EQ(Status::System(0, "failed without saying why").systemError(), EIO);
  EXPECT_EQ(Status::System(std::make_error_code(std::errc::permission_denied), "p").systemError(), EACCES);
}

TEST(Status, EveryStatusHasWordsForPeople) {
  for (StatusCode code :
       {kOk, kStopped, kShortRead, kInvalidData, kSourceUnreadable, kWrongPassword, kPasscodeLocked,
        kPasswordRefused, kValueTooLong, kWhatsAppQueryFailed, kFileMapUnopenable}) {
    const std::string words = Status(code).Message();
    EXPECT_FALSE(words.empty());
    EXPECT_EQ(words.find_first_of("0123456789"), std::string::npos) << words;
  }
  EXPECT_EQ(Status(kInvalidData, "the database file is missing from this backup").Message(),
            "the database file is missing from this backup");
  EXPECT_EQ(Status::System(ENOENT, "opening /b/sms.db").Message(),
            "opening /b/sms.db: no such file or directory");
  EXPECT_EQ(Status::System(ENOENT, "").Message(), "no such file or directory");

  // Logs and test output carry the number too.
  std::ostringstream out;
  out << Status::System(ENOENT, "x") << " | " << Status(kInvalidData);
  EXPECT_EQ(out.str(),
            "x: no such file or directory (system error 2) | "
            "the data is damaged or not in the expected format (status 87)");
}

TEST(Status, ContextGoesInFrontOfTheWords) {
  EXPECT_EQ(Status(kShortRead).WithContext("reading message").Message(),
            "reading message: the file ends before the data it should hold");
  EXPECT_EQ(Status::System(EIO, "page 7").WithContext("reading message").Message(),
            "reading message: page 7: input/output error");
  const Status withContext = Status::System(EIO, "page 7").WithContext("reading message");
  EXPECT_EQ(withContext.systemError(), EIO);  // the kind and number stay
  EXPECT_TRUE(Status().WithContext("anything").ok());
  EXPECT_EQ(Status().WithContext("anything").Message(), Status().Message());
}

TEST(Status, ProgressAnswersBecomeTheStatusToReturn) {
  EXPECT_TRUE(Status::FromProgressAnswer(0).ok());
  EXPECT_EQ(Status::FromProgressAnswer(2), kStopped);
  EXPECT_FALSE(Status::FromProgressAnswer(2).IsSystemError());
  EXPECT_FALSE(Status::FromProgressAnswer(5).ok());
}

}  // namespace
}  // namespace corvyn
