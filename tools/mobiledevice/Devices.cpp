// Phones: arrival and removal through usbmuxd's event feed, the lockdown
// connection (pairing, session, values) and the services started from it.
#include <plist/plist.h>
#include <pthread.h>
#include <usbmuxd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/mobiledevice/Internal.h"

struct AMDNotification {
  AMDeviceNotificationCallback callback = nullptr;
  void* cookie = nullptr;
};

namespace corvyn::mobiledevice {
namespace {

constexpr const char* kLabel = "corvyn";
constexpr const char* kHouseArrest = "com.apple.mobile.house_arrest";
constexpr unsigned kReceiveTimeoutMs = 30000;

struct Registry {
  std::mutex changes;  // one subscribe or unsubscribe at a time
  std::mutex mutex;    // the fields below; held while callbacks run
  std::set<AMDNotification*> subscribers;
  std::map<std::string, std::unique_ptr<AMDevice>> devices;
  bool listening = false;
};

Registry& TheRegistry() {
  static Registry* registry =
      new Registry;  // never destroyed: the event thread may outlive static destruction
  return *registry;
}

void Announce(Registry& registry, AMDevice* device, uint32_t message) {
  const AMDeviceNotificationInfo info{device, message};
  for (AMDNotification* subscriber : registry.subscribers) subscriber->callback(&info, subscriber->cookie);
}

void OnEvent(const idevice_event_t* event, void* /*unused*/) {
  // usbmuxd's unsubscription cancels this thread; never in the middle of a callback
  int cancelState = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
  if (event && event->udid && event->conn_type == CONNECTION_USBMUXD) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (registry.listening) {
      auto& slot = registry.devices[event->udid];
      if (!slot) {
        slot = std::make_unique<AMDevice>();
        slot->udid = event->udid;
      }
      if (event->event == IDEVICE_DEVICE_ADD && !slot->attached.exchange(true)) {
        Announce(registry, slot.get(), kAMDNotificationConnected);
      } else if (event->event == IDEVICE_DEVICE_REMOVE && slot->attached.exchange(false)) {
        Announce(registry, slot.get(), kAMDNotificationDisconnected);
      }
    }
  }
  pthread_setcancelstate(cancelState, nullptr);
}

int32_t FromLockdown(lockdownd_error_t error) {
  switch (error) {
    case LOCKDOWN_E_SUCCESS:
      return kAMDSuccess;
    case LOCKDOWN_E_INVALID_ARG:
      return kAMDInvalidArgument;
    case LOCKDOWN_E_PASSWORD_PROTECTED:
      return kAMDPasswordProtected;
    case LOCKDOWN_E_USER_DENIED_PAIRING:
      return kAMDUserDeniedPairing;
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
      return kAMDPairingDialogPending;
    case LOCKDOWN_E_INVALID_SERVICE:
    case LOCKDOWN_E_MISSING_SERVICE:
    case LOCKDOWN_E_SERVICE_PROHIBITED:
      return kAMDInvalidService;
    case LOCKDOWN_E_NO_RUNNING_SESSION:
    case LOCKDOWN_E_SESSION_INACTIVE:
    case LOCKDOWN_E_INVALID_SESSION_ID:
    case LOCKDOWN_E_MISSING_SESSION_ID:
      return kAMDSessionInactive;
    case LOCKDOWN_E_INVALID_CONF:
    case LOCKDOWN_E_INVALID_HOST_ID:
    case LOCKDOWN_E_MISSING_HOST_ID:
    case LOCKDOWN_E_MISSING_PAIR_RECORD:
    case LOCKDOWN_E_INVALID_PAIR_RECORD:
      return kAMDInvalidPairRecord;
    case LOCKDOWN_E_MUX_ERROR:
    case LOCKDOWN_E_SSL_ERROR:
      return kAMDDeviceDisconnected;
    case LOCKDOWN_E_RECEIVE_TIMEOUT:
      return kAMDTimeout;
    default:
      return kAMDUndefinedError;
  }
}

void DropLockdown(AMDevice& device) {
  if (device.lockdown) lockdownd_client_free(device.lockdown);  // ends an open session too
  device.lockdown = nullptr;
  device.sessionId.clear();
}

// The HostID of this computer's pairing record for the phone; empty without one.
std::string PairedHostId(const std::string& udid) {
  char* record = nullptr;
  uint32_t size = 0;
  if (usbmuxd_read_pair_record(udid.c_str(), &record, &size) != 0 || !record) return {};
  plist_t dict = nullptr;
  plist_from_memory(record, size, &dict);
  std::free(record);
  std::string hostId;
  char* text = nullptr;
  if (dict && plist_get_node_type(plist_dict_get_item(dict, "HostID")) == PLIST_STRING) {
    plist_get_string_val(plist_dict_get_item(dict, "HostID"), &text);
    if (text) hostId = text;
    std::free(text);
  }
  plist_free(dict);
  return hostId;
}

std::string TextOfNode(plist_t node) {
  char* text = nullptr;
  std::string out;
  switch (plist_get_node_type(node)) {
    case PLIST_STRING:
      plist_get_string_val(node, &text);
      if (text) out = text;
      std::free(text);
      return out;
    case PLIST_BOOLEAN: {
      uint8_t on = 0;
      plist_get_bool_val(node, &on);
      return on ? "true" : "false";
    }
    case PLIST_UINT: {
      uint64_t number = 0;
      plist_get_uint_val(node, &number);
      return std::to_string(number);
    }
    case PLIST_REAL: {
      double number = 0;
      plist_get_real_val(node, &number);
      return std::to_string(number);
    }
    default:
      return out;
  }
}

int32_t StartService(AMDevice* device, const std::string& name, AMDServiceSocket* out) {
  if (!device || !out || name.empty()) return kAMDInvalidArgument;
  *out = nullptr;
  std::lock_guard lock(device->mutex);
  if (!device->lockdown) return kAMDNotConnected;
  lockdownd_service_descriptor_t descriptor = nullptr;
  const lockdownd_error_t error = lockdownd_start_service(device->lockdown, name.c_str(), &descriptor);
  if (error != LOCKDOWN_E_SUCCESS || !descriptor) {
    lockdownd_service_descriptor_free(descriptor);
    return error != LOCKDOWN_E_SUCCESS ? FromLockdown(error) : kAMDUndefinedError;
  }
  auto* socket = new AMDServiceConnection;
  socket->device = device;
  socket->service = name;
  socket->link = device->link;
  socket->port = descriptor->port;
  socket->ssl = descriptor->ssl_enabled != 0;
  lockdownd_service_descriptor_free(descriptor);
  device->sockets.insert(socket);
  *out = socket;
  return kAMDSuccess;
}

house_arrest_client_t HouseArrestClient(AMDServiceConnection* socket) {
  if (!socket->arrest) {
    lockdownd_service_descriptor descriptor = DescriptorOf(*socket);
    if (house_arrest_client_new(socket->link.get(), &descriptor, &socket->arrest) != HOUSE_ARREST_E_SUCCESS)
      socket->arrest = nullptr;
  }
  return socket->arrest;
}

service_client_t RawClient(AMDServiceConnection* socket) {
  if (!socket->raw) {
    lockdownd_service_descriptor descriptor = DescriptorOf(*socket);
    if (service_client_new(socket->link.get(), &descriptor, &socket->raw) != SERVICE_E_SUCCESS)
      socket->raw = nullptr;
  }
  return socket->raw;
}

// House arrest speaks whole property lists: complete messages among the bytes
// sent so far are handed to the house-arrest client.
int32_t SendToHouseArrest(AMDServiceConnection* socket, const char* data, uint32_t length) {
  socket->unsentBytes.append(data, length);
  while (socket->unsentBytes.size() >= 4) {
    const auto* head = reinterpret_cast<const unsigned char*>(socket->unsentBytes.data());
    const uint32_t size =
        (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
    if (socket->unsentBytes.size() - 4 < size) break;
    plist_t message = nullptr;
    plist_from_memory(socket->unsentBytes.data() + 4, size, &message);
    socket->unsentBytes.erase(0, 4 + std::size_t{size});
    house_arrest_client_t client = message ? HouseArrestClient(socket) : nullptr;
    const bool sent = client && house_arrest_send_request(client, message) == HOUSE_ARREST_E_SUCCESS;
    plist_free(message);
    if (!sent) return -1;
  }
  return static_cast<int32_t>(length);
}

int32_t ReceiveFromHouseArrest(AMDServiceConnection* socket, char* buffer, uint32_t length) {
  if (socket->unreadBytes.empty()) {
    plist_t reply = nullptr;
    if (!socket->arrest || house_arrest_get_result(socket->arrest, &reply) != HOUSE_ARREST_E_SUCCESS ||
        !reply)
      return -1;
    char* xml = nullptr;
    uint32_t size = 0;
    plist_to_xml(reply, &xml, &size);
    plist_free(reply);
    if (!xml) return -1;
    const char head[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                          static_cast<char>(size >> 8), static_cast<char>(size)};
    socket->unreadBytes.assign(head, 4);
    socket->unreadBytes.append(xml, size);
    plist_to_xml_free(xml);
  }
  const uint32_t count = std::min<std::size_t>(length, socket->unreadBytes.size());
  socket->unreadBytes.copy(buffer, count);
  socket->unreadBytes.erase(0, count);
  return static_cast<int32_t>(count);
}

}  // namespace

lockdownd_service_descriptor DescriptorOf(const AMDServiceConnection& socket) {
  return lockdownd_service_descriptor{socket.port, static_cast<uint8_t>(socket.ssl ? 1 : 0), nullptr};
}

void FreeSocket(AMDServiceConnection* socket) {
  if (!socket) return;
  if (socket->afc) {
    afc_client_free(socket->afc->client);  // before the house-arrest client whose connection it borrows
    delete socket->afc;
  }
  if (socket->arrest) house_arrest_client_free(socket->arrest);
  if (socket->raw) service_client_free(socket->raw);
  delete socket;
}

}  // namespace corvyn::mobiledevice

using namespace corvyn::mobiledevice;

CORVYN_EXPORT int32_t AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback,
                                                    uint32_t /*unused0*/, uint32_t /*unused1*/, void* cookie,
                                                    AMDNotificationRef* out) {
  if (!callback || !out) return kAMDInvalidArgument;
  *out = nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard change(registry.changes);
  auto subscriber = std::make_unique<AMDNotification>();
  subscriber->callback = callback;
  subscriber->cookie = cookie;
  {
    std::lock_guard lock(registry.mutex);
    // phones already known are announced to the newcomer alone
    for (auto& [udid, device] : registry.devices) {
      if (!device->attached) continue;
      const AMDeviceNotificationInfo info{device.get(), kAMDNotificationConnected};
      callback(&info, cookie);
    }
    registry.subscribers.insert(subscriber.get());
    if (registry.listening) {
      *out = subscriber.release();
      return kAMDSuccess;
    }
    registry.listening = true;
  }
  if (idevice_event_subscribe(OnEvent, nullptr) != IDEVICE_E_SUCCESS) {
    std::lock_guard lock(registry.mutex);
    registry.subscribers.erase(subscriber.get());
    registry.listening = false;
    return kAMDUndefinedError;
  }
  *out = subscriber.release();
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AMDeviceNotificationUnsubscribe(AMDNotificationRef notification) {
  if (!notification) return kAMDInvalidArgument;
  Registry& registry = TheRegistry();
  std::lock_guard change(registry.changes);
  bool last = false;
  {
    std::lock_guard lock(registry.mutex);  // waits for a callback under way
    if (registry.subscribers.erase(notification) == 0) return kAMDInvalidArgument;
    last = registry.subscribers.empty();
    if (last) registry.listening = false;
  }
  delete notification;
  if (!last) return kAMDSuccess;
  idevice_event_unsubscribe();  // ends the event thread
  std::map<std::string, std::unique_ptr<AMDevice>> devices;
  {
    std::lock_guard lock(registry.mutex);
    devices.swap(registry.devices);
  }
  for (auto& [udid, device] : devices) {
    std::lock_guard lock(device->mutex);
    for (AMDServiceConnection* socket : device->sockets) FreeSocket(socket);
    device->sockets.clear();
    DropLockdown(*device);
  }
  return kAMDSuccess;
}

CORVYN_EXPORT CFStringRef AMDeviceCopyDeviceIdentifier(AMDeviceRef device) {
  return device ? NewText(device->udid) : nullptr;
}

CORVYN_EXPORT int32_t AMDeviceConnect(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  if (!device->attached) return kAMDDeviceDisconnected;
  std::lock_guard lock(device->mutex);
  DropLockdown(*device);
  // a fresh link each time: a phone that came back may have a new usbmuxd number
  idevice_t link = nullptr;
  if (idevice_new_with_options(&link, device->udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS ||
      !link)
    return kAMDDeviceDisconnected;
  device->link = DeviceLink(link, idevice_free);
  const lockdownd_error_t error = lockdownd_client_new(link, &device->lockdown, kLabel);
  if (error != LOCKDOWN_E_SUCCESS) {
    device->lockdown = nullptr;
    return FromLockdown(error);
  }
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AMDeviceIsPaired(AMDeviceRef device) {
  return device && !PairedHostId(device->udid).empty() ? 1 : 0;
}

CORVYN_EXPORT int32_t AMDeviceValidatePairing(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  std::lock_guard lock(device->mutex);
  if (!device->lockdown) return kAMDNotConnected;
  return FromLockdown(lockdownd_validate_pair(device->lockdown, nullptr));
}

CORVYN_EXPORT int32_t AMDevicePair(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  std::lock_guard lock(device->mutex);
  if (!device->lockdown) return kAMDNotConnected;
  return FromLockdown(lockdownd_pair(device->lockdown, nullptr));
}

CORVYN_EXPORT int32_t AMDeviceStartSession(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  std::lock_guard lock(device->mutex);
  if (!device->lockdown) return kAMDNotConnected;
  const std::string hostId = PairedHostId(device->udid);
  if (hostId.empty()) return kAMDInvalidPairRecord;
  char* sessionId = nullptr;
  int ssl = 0;
  const lockdownd_error_t error = lockdownd_start_session(device->lockdown, hostId.c_str(), &sessionId, &ssl);
  if (error == LOCKDOWN_E_SUCCESS && sessionId) device->sessionId = sessionId;
  std::free(sessionId);
  return FromLockdown(error);
}

CORVYN_EXPORT int32_t AMDeviceStopSession(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  std::lock_guard lock(device->mutex);
  if (!device->lockdown) return kAMDNotConnected;
  if (device->sessionId.empty()) return kAMDSessionInactive;
  const lockdownd_error_t error = lockdownd_stop_session(device->lockdown, device->sessionId.c_str());
  device->sessionId.clear();
  return FromLockdown(error);
}

CORVYN_EXPORT int32_t AMDeviceStartService(AMDeviceRef device, CFStringRef serviceName, AMDServiceSocket* out,
                                           uint32_t* unused) {
  if (unused) *unused = 0;
  return StartService(device, TextOf(serviceName), out);
}

CORVYN_EXPORT int32_t AMDeviceSecureStartService(AMDeviceRef device, CFStringRef serviceName,
                                                 void* /*options*/, AMDServiceSocket* out) {
  return StartService(device, TextOf(serviceName), out);
}

CORVYN_EXPORT int32_t AMDServiceConnectionInvalidate(AMDServiceSocket socket) {
  if (!socket || !socket->device) return kAMDInvalidArgument;
  std::lock_guard lock(socket->device->mutex);
  socket->device->sockets.erase(socket);
  FreeSocket(socket);
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AMDeviceStartHouseArrestService(AMDeviceRef device, CFStringRef bundleIdentifier,
                                                      void* /*options*/, AMDServiceSocket* out,
                                                      uint32_t* unused) {
  if (unused) *unused = 0;
  const std::string identifier = TextOf(bundleIdentifier);
  if (identifier.empty() || !out) return kAMDInvalidArgument;
  AMDServiceSocket socket = nullptr;
  const int32_t started = StartService(device, kHouseArrest, &socket);
  if (started != kAMDSuccess) return started;
  int32_t result = kAMDReceiveError;
  plist_t reply = nullptr;
  {
    std::lock_guard lock(device->mutex);
    house_arrest_client_t client = HouseArrestClient(socket);
    if (client &&
        house_arrest_send_command(client, "VendContainer", identifier.c_str()) == HOUSE_ARREST_E_SUCCESS &&
        house_arrest_get_result(client, &reply) == HOUSE_ARREST_E_SUCCESS && reply) {
      plist_t error = plist_dict_get_item(reply, "Error");
      result = !error                                           ? kAMDSuccess
               : TextOfNode(error) == "ApplicationLookupFailed" ? kAMDNotFound
                                                                : kAMDUndefinedError;
    }
    plist_free(reply);
  }
  if (result != kAMDSuccess) {
    AMDServiceConnectionInvalidate(socket);
    return result;
  }
  *out = socket;
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AMDServiceConnectionSend(AMDServiceSocket socket, const void* data, uint32_t length) {
  if (!socket || !socket->device || (!data && length > 0) || socket->afc) return -1;
  std::lock_guard lock(socket->device->mutex);
  const char* bytes = static_cast<const char*>(data);
  if (socket->service == kHouseArrest) return SendToHouseArrest(socket, bytes, length);
  service_client_t client = RawClient(socket);
  if (!client) return -1;
  for (uint32_t done = 0; done < length;) {
    uint32_t sent = 0;
    if (service_send(client, bytes + done, length - done, &sent) != SERVICE_E_SUCCESS || sent == 0) return -1;
    done += sent;
  }
  return static_cast<int32_t>(length);
}

CORVYN_EXPORT int32_t AMDServiceConnectionReceive(AMDServiceSocket socket, void* buffer, uint32_t length) {
  if (!socket || !socket->device || !buffer || socket->afc) return -1;
  if (length == 0) return 0;
  std::lock_guard lock(socket->device->mutex);
  char* bytes = static_cast<char*>(buffer);
  if (socket->service == kHouseArrest) return ReceiveFromHouseArrest(socket, bytes, length);
  service_client_t client = RawClient(socket);
  if (!client) return -1;
  uint32_t received = 0;
  if (service_receive_with_timeout(client, bytes, length, &received, kReceiveTimeoutMs) !=
          SERVICE_E_SUCCESS ||
      received == 0)
    return -1;
  return static_cast<int32_t>(received);
}

CORVYN_EXPORT int32_t AMDeviceDisconnect(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  std::lock_guard lock(device->mutex);
  DropLockdown(*device);
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AMDeviceRelease(AMDeviceRef device) {
  if (!device) return kAMDInvalidArgument;
  std::lock_guard lock(device->mutex);
  for (AMDServiceConnection* socket : device->sockets) FreeSocket(socket);
  device->sockets.clear();
  DropLockdown(*device);
  device->link.reset();
  return kAMDSuccess;
}

CORVYN_EXPORT CFStringRef AMDeviceCopyValue(AMDeviceRef device, CFStringRef domain, CFStringRef key) {
  if (!device || !key) return nullptr;
  const std::string domainText = TextOf(domain);
  const std::string keyText = TextOf(key);
  std::lock_guard lock(device->mutex);
  if (!device->lockdown || keyText.empty()) return nullptr;
  plist_t value = nullptr;
  if (lockdownd_get_value(device->lockdown, domainText.empty() ? nullptr : domainText.c_str(),
                          keyText.c_str(), &value) != LOCKDOWN_E_SUCCESS ||
      !value) {
    plist_free(value);
    return nullptr;
  }
  const plist_type type = plist_get_node_type(value);
  const std::string text = TextOfNode(value);
  plist_free(value);
  if (type != PLIST_STRING && type != PLIST_BOOLEAN && type != PLIST_UINT && type != PLIST_REAL)
    return nullptr;
  return NewText(text);
}
