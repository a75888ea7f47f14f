#include "platform/Status.h"

#include <cctype>
#include <cerrno>
#include <ostream>

namespace corvyn {

Status Status::System(int errorNumber, std::string context) {
  Status status;
  status.kind_ = Kind::kSystem;
  status.errorNumber_ = errorNumber != 0 ? errorNumber : EIO;
  status.detail_ = std::move(context);
  return status;
}

Status Status::System(const std::error_code& error, std::string context) {
  return System(error.value(), std::move(context));
}

Status Status::FromProgressAnswer(int answer) noexcept {
  if (answer == 0) return {};
  return Status(static_cast<StatusCode>(answer));
}

std::string_view StatusCodeWords(StatusCode code) {
  switch (code) {
    case StatusCode::kOk:
      return "done";
    case StatusCode::kStopped:
      return "stopped by the user";
    case StatusCode::kShortRead:
      return "the file ends before the data it should hold";
    case StatusCode::kInvalidData:
      return "the data is damaged or not in the expected format";
    case StatusCode::kSourceUnreadable:
      return "the source cannot be read";
    case StatusCode::kWrongPassword:
      return "the backup password is wrong";
    case StatusCode::kPasscodeLocked:
      return "the phone is locked with its passcode: unlock it and try again";
    case StatusCode::kPasswordRefused:
      return "the phone did not accept this backup password";
    case StatusCode::kValueTooLong:
      return "the phone's value is too long to be shown";
    case StatusCode::kWhatsAppQueryFailed:
      return "the WhatsApp database could not be queried";
    case StatusCode::kFileMapUnopenable:
      return "the backup's list of files cannot be opened";
  }
  return "an unexpected failure";
}

std::string Status::Message() const {
  if (kind_ == Kind::kSystem) {
    std::string words = std::generic_category().message(errorNumber_);
    if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    if (detail_.empty()) return words;
    return detail_ + ": " + words;
  }
  if (!detail_.empty()) return detail_;
  return std::string(StatusCodeWords(code_));
}

std::string Status::ToString() const {
  std::string text = Message();
  if (kind_ == Kind::kSystem) {
    text += " (system error " + std::to_string(errorNumber_) + ")";
  } else if (code_ != StatusCode::kOk) {
    text += " (status " + std::to_string(static_cast<int>(code_)) + ")";
  }
  return text;
}

Status Status::WithContext(std::string_view context) const {
  if (ok() || context.empty()) return *this;
  Status copy = *this;
  if (copy.detail_.empty() && kind_ == Kind::kProduct) {
    copy.detail_ = std::string(context) + ": " + std::string(StatusCodeWords(code_));
  } else {
    copy.detail_ = std::string(context) + ": " + detail_;
  }
  return copy;
}

std::ostream& operator<<(std::ostream& out, const Status& status) {
  return out << status.ToString();
}

std::ostream& operator<<(std::ostream& out, StatusCode code) {
  return out << Status(code).ToString();
}

}  // namespace corvyn
