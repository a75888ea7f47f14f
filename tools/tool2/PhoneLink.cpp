#include "tools/tool2/PhoneLink.h"

#include <libimobiledevice/mobilebackup2.h>
#include <plist/plist.h>

#include <cstdlib>
#include <cstring>

namespace corvyn::tool2 {
namespace {

constexpr const char* kClientLabel = "tool2";
constexpr const char* kBackupDomain = "com.apple.mobile.backup";
constexpr const char* kBackupService = "com.apple.mobilebackup2";
// Messages read while waiting for the answer to a request, before giving up.
constexpr int kMaxMessagesPerAnswer = 16;

LinkOutcome Fail(LinkResult result, std::string words) {
  return {result, std::move(words)};
}

LinkOutcome FromLockdownError(lockdownd_error_t error, const char* doing) {
  switch (error) {
    case LOCKDOWN_E_SUCCESS:
      return {};
    case LOCKDOWN_E_PASSWORD_PROTECTED:
      return Fail(LinkResult::kLocked, "the phone is locked with a passcode");
    case LOCKDOWN_E_MUX_ERROR:
    case LOCKDOWN_E_RECEIVE_TIMEOUT:
      return Fail(LinkResult::kNoPhone, std::string("the connection to the phone failed while ") + doing);
    case LOCKDOWN_E_USER_DENIED_PAIRING:
      return Fail(LinkResult::kFailed, "the phone's owner did not trust this computer");
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
      // the owner has to unlock the phone to answer: the same thing to ask of them as for a lock
      return Fail(LinkResult::kLocked, "the phone waits for its owner to unlock it and trust this computer");
    case LOCKDOWN_E_INVALID_HOST_ID:
      return Fail(LinkResult::kFailed, "the phone does not know this computer: pair it again");
    default:
      return Fail(LinkResult::kFailed, std::string("the phone refused the connection while ") + doing);
  }
}

class BackupService {
 public:
  ~BackupService() {
    if (client_) mobilebackup2_client_free(client_);  // says goodbye to the service
  }

  LinkOutcome Open(idevice_t device, lockdownd_client_t lockdown) {
    lockdownd_service_descriptor_t service = nullptr;
    const lockdownd_error_t started =
        lockdownd_start_service_with_escrow_bag(lockdown, kBackupService, &service);
    if (started != LOCKDOWN_E_SUCCESS || !service) {
      if (service) lockdownd_service_descriptor_free(service);
      const LinkOutcome failed = FromLockdownError(started, "starting the backup service");
      return failed.result == LinkResult::kOk ? Fail(LinkResult::kFailed, "the backup service did not start")
                                              : failed;
    }
    const mobilebackup2_error_t made = mobilebackup2_client_new(device, service, &client_);
    lockdownd_service_descriptor_free(service);
    if (made != MOBILEBACKUP2_E_SUCCESS || !client_) {
      client_ = nullptr;
      return Fail(LinkResult::kFailed, "the backup service did not agree on a message version");
    }
    double versions[] = {2.0, 2.1};
    double remoteVersion = 0.0;
    if (mobilebackup2_version_exchange(client_, versions, 2, &remoteVersion) != MOBILEBACKUP2_E_SUCCESS)
      return Fail(LinkResult::kFailed, "the backup service speaks no protocol version tool two knows");
    return {};
  }

  // Sends ChangePassword with `password` as the old and the new password and
  // reads the ErrorCode of the answer.
  LinkOutcome ChangePassword(const std::string& udid, const std::string& password, uint64_t& errorCode) {
    plist_t options = plist_new_dict();
    plist_dict_set_item(options, "TargetIdentifier", plist_new_string(udid.c_str()));
    plist_dict_set_item(options, "OldPassword", plist_new_string(password.c_str()));
    plist_dict_set_item(options, "NewPassword", plist_new_string(password.c_str()));
    const mobilebackup2_error_t sent = mobilebackup2_send_message(client_, "ChangePassword", options);
    plist_free(options);
    if (sent != MOBILEBACKUP2_E_SUCCESS)
      return Fail(LinkResult::kNoPhone, "the password could not be sent to the phone");

    for (int i = 0; i < kMaxMessagesPerAnswer; ++i) {
      plist_t message = nullptr;
      char* name = nullptr;
      const mobilebackup2_error_t got = mobilebackup2_receive_message(client_, &message, &name);
      if (got != MOBILEBACKUP2_E_SUCCESS || !message || !name) {
        if (message) plist_free(message);
        std::free(name);
        return Fail(LinkResult::kNoPhone, "the phone did not answer the password check");
      }
      const bool answer = std::strcmp(name, "DLMessageProcessMessage") == 0;
      std::free(name);
      if (!answer) {
        plist_free(message);
        continue;
      }
      plist_t code = plist_dict_get_item(plist_array_get_item(message, 1), "ErrorCode");
      const bool readable = code && plist_get_node_type(code) == PLIST_UINT;
      if (readable) plist_get_uint_val(code, &errorCode);
      plist_free(message);
      if (!readable)
        return Fail(LinkResult::kFailed, "the phone's answer to the password check holds no code");
      return {};
    }
    return Fail(LinkResult::kFailed, "the phone never answered the password check");
  }

 private:
  mobilebackup2_client_t client_ = nullptr;
};

}  // namespace

PhoneLink::~PhoneLink() {
  if (lockdown_) lockdownd_client_free(lockdown_);
  if (device_) idevice_free(device_);
}

LinkOutcome PhoneLink::Open(const std::string& udid) {
  const idevice_error_t found =
      idevice_new_with_options(&device_, udid.empty() ? nullptr : udid.c_str(), IDEVICE_LOOKUP_USBMUX);
  if (found != IDEVICE_E_SUCCESS || !device_) {
    device_ = nullptr;
    return Fail(LinkResult::kNoPhone,
                udid.empty() ? "no phone is connected" : "the phone asked for is not connected");
  }
  char* id = nullptr;
  if (idevice_get_udid(device_, &id) != IDEVICE_E_SUCCESS || !id) {
    std::free(id);
    return Fail(LinkResult::kNoPhone, "the phone's identifier cannot be read");
  }
  udid_ = id;
  std::free(id);
  return FromLockdownError(lockdownd_client_new_with_handshake(device_, &lockdown_, kClientLabel),
                           "opening a session");
}

LinkOutcome PhoneLink::WillEncrypt(bool& encrypts) {
  encrypts = false;
  plist_t value = nullptr;
  const lockdownd_error_t got = lockdownd_get_value(lockdown_, kBackupDomain, "WillEncrypt", &value);
  if (got == LOCKDOWN_E_MISSING_VALUE) return {};
  if (got != LOCKDOWN_E_SUCCESS) {
    if (value) plist_free(value);
    const LinkOutcome failed = FromLockdownError(got, "reading the backup settings");
    return failed;
  }
  uint8_t on = 0;
  if (value && plist_get_node_type(value) == PLIST_BOOLEAN) plist_get_bool_val(value, &on);
  if (value) plist_free(value);
  encrypts = on != 0;
  return {};
}

LinkOutcome PhoneLink::CheckPassword(const std::string& password, bool& accepted) {
  accepted = false;
  BackupService service;
  if (LinkOutcome opened = service.Open(device_, lockdown_); opened.result != LinkResult::kOk) return opened;
  uint64_t errorCode = 0;
  if (LinkOutcome asked = service.ChangePassword(udid_, password, errorCode); asked.result != LinkResult::kOk)
    return asked;
  accepted = errorCode == 0;
  return {};
}

bool PhoneListed(const std::string& udid) {
  char** list = nullptr;
  int count = 0;
  if (idevice_get_device_list(&list, &count) != IDEVICE_E_SUCCESS) return false;
  bool listed = false;
  for (int i = 0; i < count && !listed; ++i) listed = udid == list[i];
  idevice_device_list_free(list);
  return listed;
}

}  // namespace corvyn::tool2
