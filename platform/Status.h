// The outcome of an operation, shared by every library.
//
// A status is one of two kinds:
//   - a product status: one of the named codes below, whose numbers are part
//     of the program's contract (messages, helper programs and callers test
//     them), optionally with a detail text for people;
//   - a system error: the errno of a failed call together with the path or
//     operation it concerns. It never compares equal to a product status,
//     even when the numbers coincide (ENOENT is 2 like kStopped).
// Operations return a Status and never throw across a library boundary.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <system_error>

namespace corvyn {

enum class StatusCode : int {
  kOk = 0,
  kStopped = 2,            // the progress callback asked to stop
  kShortRead = 30,         // a read returned fewer bytes than asked
  kInvalidData = 87,       // invalid data, or a file that cannot be opened
  kSourceUnreadable = -1,  // device source cannot be read
  kWrongPassword = -110,   // wrong backup password
  kPasscodeLocked = -102,  // the phone is locked with a passcode
  kPasswordRefused = 86,   // the phone refused the backup password offered
  kValueTooLong = 111,     // a device value longer than its buffer
  kWhatsAppQueryFailed = 1006,
  kFileMapUnopenable = 6009,
};

inline constexpr StatusCode kOk = StatusCode::kOk;
inline constexpr StatusCode kStopped = StatusCode::kStopped;
inline constexpr StatusCode kShortRead = StatusCode::kShortRead;
inline constexpr StatusCode kInvalidData = StatusCode::kInvalidData;
inline constexpr StatusCode kSourceUnreadable = StatusCode::kSourceUnreadable;
inline constexpr StatusCode kWrongPassword = StatusCode::kWrongPassword;
inline constexpr StatusCode kPasscodeLocked = StatusCode::kPasscodeLocked;
inline constexpr StatusCode kPasswordRefused = StatusCode::kPasswordRefused;
inline constexpr StatusCode kValueTooLong = StatusCode::kValueTooLong;
inline constexpr StatusCode kWhatsAppQueryFailed = StatusCode::kWhatsAppQueryFailed;
inline constexpr StatusCode kFileMapUnopenable = StatusCode::kFileMapUnopenable;

class [[nodiscard]] Status {
 public:
  enum class Kind : uint8_t { kProduct, kSystem };

  // Success.
  Status() noexcept = default;
  // A product status; implicit so that `return kInvalidData;` reads naturally.
  Status(StatusCode code) noexcept : code_(code) {}  // NOLINT(google-explicit-constructor)
  // A product status with a text for people ("the database file is missing
  // from this backup"); the text replaces the code's own words.
  Status(StatusCode code, std::string detail) : code_(code), detail_(std::move(detail)) {}

  // The errno of a failed call and the path or operation it concerns. An
  // errno of 0 (a call that failed without saying why) becomes EIO.
  static Status System(int errorNumber, std::string context);
  static Status System(const std::error_code& error, std::string context);
  // A progress callback's non-zero answer: the engine returns it at once.
  static Status FromProgressAnswer(int answer) noexcept;

  bool ok() const noexcept { return kind_ == Kind::kProduct && code_ == StatusCode::kOk; }
  Kind kind() const noexcept { return kind_; }
  bool IsSystemError() const noexcept { return kind_ == Kind::kSystem; }
  bool IsStopped() const noexcept { return *this == kStopped; }
  // The product code; kInvalidData for a system error (callers that only know
  // product codes treat a system error as data they could not read).
  StatusCode code() const noexcept { return kind_ == Kind::kProduct ? code_ : StatusCode::kInvalidData; }
  // The product code's number, or the errno of a system error.
  int value() const noexcept { return kind_ == Kind::kProduct ? static_cast<int>(code_) : errorNumber_; }
  int systemError() const noexcept { return kind_ == Kind::kSystem ? errorNumber_ : 0; }
  // The path or operation of a system error, or the detail text of a product status.
  const std::string& detail() const noexcept { return detail_; }

  // Words for people: the detail text, or the code's own words; for a system
  // error "the system's words: the path or operation".
  std::string Message() const;
  // Message() followed by the kind and number, for logs and test output.
  std::string ToString() const;

  // A copy with `context` put in front of the detail ("reading sms.db: ...").
  Status WithContext(std::string_view context) const;

  // Equal when kind and number agree; detail texts are not compared.
  friend bool operator==(const Status& a, const Status& b) noexcept {
    return a.kind_ == b.kind_ && a.value() == b.value();
  }
  friend bool operator==(const Status& a, StatusCode code) noexcept {
    return a.kind_ == Kind::kProduct && a.code_ == code;
  }

 private:
  Kind kind_ = Kind::kProduct;
  StatusCode code_ = StatusCode::kOk;
  int errorNumber_ = 0;
  std::string detail_;
};

// Words for a product code alone.
std::string_view StatusCodeWords(StatusCode code);

// Lets test frameworks and logs print a status.
std::ostream& operator<<(std::ostream& out, const Status& status);
std::ostream& operator<<(std::ostream& out, StatusCode code);

}  // namespace corvyn
