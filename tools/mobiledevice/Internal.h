// The mobile-device library's own objects behind the opaque handles of
// device/MobileDeviceApi.h, shared by its source files. Nothing here is seen
// by the program.
#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "device/MobileDeviceApi.h"

#define CORVYN_EXPORT extern "C" __attribute__((visibility("default")))

namespace corvyn::mobiledevice {

// A text. Constant texts (__CFStringMakeConstantString) are never freed.
struct Text {
  static constexpr uint32_t kMagic = 0x43465354;  // "CFST"
  uint32_t magic = kMagic;
  bool constant = false;
  std::string utf8;
};

CFStringRef NewText(std::string utf8);
// The UTF-8 of a text handle; empty for null or a foreign pointer.
std::string TextOf(CFStringRef text);

// The library's connection to one phone through usbmuxd, shared by the
// phone and by every service connection started from it (those need it to
// outlive the phone's own lockdown connection).
using DeviceLink = std::shared_ptr<std::remove_pointer_t<idevice_t>>;

}  // namespace corvyn::mobiledevice

// One phone, identified by its UDID. Lives until the last notification
// subscription ends.
struct AMDevice {
  std::string udid;
  std::atomic<bool> attached{false};
  std::mutex mutex;  // guards everything below; held by the calling thread only
  corvyn::mobiledevice::DeviceLink link;
  lockdownd_client_t lockdown = nullptr;
  std::string sessionId;
  std::set<AMDServiceConnection*> sockets;
};

// One started service. The connection is made on first use: a raw service
// connection for Send/Receive, a house-arrest client for house arrest, or a
// file connection (AFCConnectionOpen), which then owns the socket.
struct AMDServiceConnection {
  AMDevice* device = nullptr;
  std::string service;
  corvyn::mobiledevice::DeviceLink link;
  uint16_t port = 0;
  bool ssl = false;
  service_client_t raw = nullptr;
  house_arrest_client_t arrest = nullptr;
  std::string unsentBytes;       // house arrest: the start of a message not yet complete
  std::string unreadBytes;       // house arrest: reply bytes not yet taken
  AFCConnection* afc = nullptr;  // the file connection that took the socket over
};

struct AFCConnection {
  AMDServiceConnection* socket = nullptr;
  afc_client_t client = nullptr;
};

struct AFCDictionary {
  char** pairs = nullptr;  // key, value, key, value, ..., null (libimobiledevice's form)
  std::size_t next = 0;
};

struct AFCDirectory {
  char** names = nullptr;
  std::size_t next = 0;
};

namespace corvyn::mobiledevice {

// The service descriptor of a socket for the libimobiledevice calls (its
// identifier is null).
lockdownd_service_descriptor DescriptorOf(const AMDServiceConnection& socket);
// Closes a socket's connections and frees it; the caller holds the phone's
// mutex and removes it from the phone's set.
void FreeSocket(AMDServiceConnection* socket);

}  // namespace corvyn::mobiledevice
