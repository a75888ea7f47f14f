// A lockdownd session with one connected phone, and the two questions tool2
// asks it directly: whether backups are encrypted, and whether a backup
// password is the right one.
//
// Every failure comes with words for people that hold no digits (the device
// helper's callers read the digits 0 and 1 in tool2's output as answers).
#pragma once

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <string>

namespace corvyn::tool2 {

enum class LinkResult {
  kOk,
  kNoPhone,  // no phone is listed, or the one asked for is not
  kLocked,   // the phone is locked with a passcode, or waits to be unlocked to trust us
  kFailed,   // any other failure (the words say which)
};

struct LinkOutcome {
  LinkResult result = LinkResult::kOk;
  std::string words;  // empty for kOk
};

class PhoneLink {
 public:
  PhoneLink() = default;
  ~PhoneLink();
  PhoneLink(const PhoneLink&) = delete;
  PhoneLink& operator=(const PhoneLink&) = delete;

  // Connects to the phone `udid` (empty: the first phone listed) and opens a
  // lockdownd session with it.
  LinkOutcome Open(const std::string& udid);
  // The phone's UDID once Open succeeded.
  const std::string& Udid() const { return udid_; }

  // lockdownd's "WillEncrypt" of domain "com.apple.mobile.backup"; a phone
  // that does not hold the value does not encrypt.
  LinkOutcome WillEncrypt(bool& encrypts);

  // Offers `password` to the backup service as both the old and the new
  // backup password; `accepted` tells whether the phone took it. Nothing on
  // the phone changes either way.
  LinkOutcome CheckPassword(const std::string& password, bool& accepted);

 private:
  idevice_t device_ = nullptr;
  lockdownd_client_t lockdown_ = nullptr;
  std::string udid_;
};

// True while the phone `udid` is listed by usbmuxd.
bool PhoneListed(const std::string& udid);

}  // namespace corvyn::tool2
