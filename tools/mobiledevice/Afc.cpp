// The file service (AFC) on a started "com.apple.afc"/"com.apple.afc2"
// socket or on a house-arrest socket whose container was vended.
#include <mutex>

#include "tools/mobiledevice/Internal.h"

namespace corvyn::mobiledevice {
namespace {

int32_t FromAfc(afc_error_t error) {
  switch (error) {
    case AFC_E_SUCCESS:
      return kAMDSuccess;
    case AFC_E_INVALID_ARG:
      return kAMDInvalidArgument;
    case AFC_E_OBJECT_NOT_FOUND:
      return kAMDNotFound;
    case AFC_E_OBJECT_IS_DIR:
      return kAMDIsDirectory;
    case AFC_E_PERM_DENIED:
      return kAMDPermissionDenied;
    case AFC_E_OP_TIMEOUT:
      return kAMDTimeout;
    case AFC_E_OP_NOT_SUPPORTED:
      return kAMDNotSupported;
    case AFC_E_SERVICE_NOT_CONNECTED:
    case AFC_E_MUX_ERROR:
    case AFC_E_NOT_ENOUGH_DATA:
    case AFC_E_IO_ERROR:
      return kAMDDeviceDisconnected;
    case AFC_E_OP_HEADER_INVALID:
    case AFC_E_UNKNOWN_PACKET_TYPE:
      return kAMDReceiveError;
    default:
      return kAMDUndefinedError;
  }
}

bool Usable(AFCConnectionRef connection) {
  return connection && connection->client;
}

}  // namespace
}  // namespace corvyn::mobiledevice

using corvyn::mobiledevice::FromAfc;
using corvyn::mobiledevice::Usable;

CORVYN_EXPORT int32_t AFCConnectionOpen(AMDServiceSocket socket, uint32_t /*timeoutSeconds*/,
                                        AFCConnectionRef* out) {
  if (!socket || !socket->device || !out) return kAMDInvalidArgument;
  *out = nullptr;
  std::lock_guard lock(socket->device->mutex);
  if (socket->afc || socket->raw) return kAMDInvalidArgument;  // taken, or already carrying raw bytes
  afc_client_t client = nullptr;
  afc_error_t error = AFC_E_UNKNOWN_ERROR;
  if (socket->arrest) {
    error = afc_client_new_from_house_arrest_client(socket->arrest, &client);
  } else {
    lockdownd_service_descriptor descriptor = corvyn::mobiledevice::DescriptorOf(*socket);
    error = afc_client_new(socket->link.get(), &descriptor, &client);
  }
  if (error != AFC_E_SUCCESS || !client) return error != AFC_E_SUCCESS ? FromAfc(error) : kAMDUndefinedError;
  socket->afc = new AFCConnection{socket, client};
  *out = socket->afc;
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCConnectionClose(AFCConnectionRef connection) {
  if (!connection || !connection->socket || !connection->socket->device) return kAMDInvalidArgument;
  AMDServiceConnection* socket = connection->socket;
  std::lock_guard lock(socket->device->mutex);
  socket->device->sockets.erase(socket);
  corvyn::mobiledevice::FreeSocket(socket);  // frees the connection too
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCDeviceInfoOpen(AFCConnectionRef connection, AFCDictionaryRef* out) {
  if (!Usable(connection) || !out) return kAMDInvalidArgument;
  *out = nullptr;
  char** pairs = nullptr;
  const afc_error_t error = afc_get_device_info(connection->client, &pairs);
  if (error != AFC_E_SUCCESS) return FromAfc(error);
  *out = new AFCDictionary{pairs, 0};
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCFileInfoOpen(AFCConnectionRef connection, const char* path, AFCDictionaryRef* out) {
  if (!Usable(connection) || !path || !out) return kAMDInvalidArgument;
  *out = nullptr;
  char** pairs = nullptr;
  const afc_error_t error = afc_get_file_info(connection->client, path, &pairs);
  if (error != AFC_E_SUCCESS) return FromAfc(error);
  *out = new AFCDictionary{pairs, 0};
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCKeyValueRead(AFCDictionaryRef dictionary, const char** key, const char** value) {
  if (!dictionary || !key || !value) return kAMDInvalidArgument;
  *key = *value = nullptr;
  char** pairs = dictionary->pairs;
  if (pairs && pairs[dictionary->next] && pairs[dictionary->next + 1]) {
    *key = pairs[dictionary->next];
    *value = pairs[dictionary->next + 1];
    dictionary->next += 2;
  }
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCKeyValueClose(AFCDictionaryRef dictionary) {
  if (!dictionary) return kAMDInvalidArgument;
  if (dictionary->pairs) afc_dictionary_free(dictionary->pairs);
  delete dictionary;
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCDirectoryOpen(AFCConnectionRef connection, const char* path, AFCDirectoryRef* out) {
  if (!Usable(connection) || !path || !out) return kAMDInvalidArgument;
  *out = nullptr;
  char** names = nullptr;
  const afc_error_t error = afc_read_directory(connection->client, path, &names);
  if (error != AFC_E_SUCCESS) return FromAfc(error);
  *out = new AFCDirectory{names, 0};
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCDirectoryRead(AFCConnectionRef /*connection*/, AFCDirectoryRef directory,
                                       const char** name) {
  if (!directory || !name) return kAMDInvalidArgument;
  *name = nullptr;
  if (directory->names && directory->names[directory->next]) *name = directory->names[directory->next++];
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCDirectoryClose(AFCConnectionRef /*connection*/, AFCDirectoryRef directory) {
  if (!directory) return kAMDInvalidArgument;
  if (directory->names) afc_dictionary_free(directory->names);
  delete directory;
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCDirectoryCreate(AFCConnectionRef connection, const char* path) {
  if (!Usable(connection) || !path) return kAMDInvalidArgument;
  return FromAfc(afc_make_directory(connection->client, path));
}

CORVYN_EXPORT int32_t AFCFileRefOpen(AFCConnectionRef connection, const char* path, uint64_t mode,
                                     AFCFileRef* out) {
  if (!Usable(connection) || !path || !out || mode < kAFCModeReadOnly || mode > kAFCModeReadAppend)
    return kAMDInvalidArgument;
  *out = 0;
  uint64_t handle = 0;
  const afc_error_t error =
      afc_file_open(connection->client, path, static_cast<afc_file_mode_t>(mode), &handle);
  if (error != AFC_E_SUCCESS) return FromAfc(error);
  *out = handle;
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCFileRefRead(AFCConnectionRef connection, AFCFileRef file, void* buffer,
                                     uint32_t* length) {
  if (!Usable(connection) || !length || (!buffer && *length > 0)) return kAMDInvalidArgument;
  uint32_t got = 0;
  const afc_error_t error =
      afc_file_read(connection->client, file, static_cast<char*>(buffer), *length, &got);
  *length = error == AFC_E_SUCCESS ? got : 0;
  return FromAfc(error);
}

CORVYN_EXPORT int32_t AFCFileRefWrite(AFCConnectionRef connection, AFCFileRef file, const void* data,
                                      uint32_t length) {
  if (!Usable(connection) || (!data && length > 0)) return kAMDInvalidArgument;
  const char* bytes = static_cast<const char*>(data);
  for (uint32_t done = 0; done < length;) {
    uint32_t written = 0;
    const afc_error_t error = afc_file_write(connection->client, file, bytes + done, length - done, &written);
    if (error != AFC_E_SUCCESS) return FromAfc(error);
    if (written == 0) return kAMDUndefinedError;
    done += written;
  }
  return kAMDSuccess;
}

CORVYN_EXPORT int32_t AFCFileRefSeek(AFCConnectionRef connection, AFCFileRef file, int64_t offset,
                                     uint64_t origin) {
  if (!Usable(connection) || origin > kAFCSeekEnd) return kAMDInvalidArgument;
  return FromAfc(afc_file_seek(connection->client, file, offset, static_cast<int>(origin)));
}

CORVYN_EXPORT int32_t AFCFileRefClose(AFCConnectionRef connection, AFCFileRef file) {
  if (!Usable(connection)) return kAMDInvalidArgument;
  return FromAfc(afc_file_close(connection->client, file));
}

CORVYN_EXPORT int32_t AFCRemovePath(AFCConnectionRef connection, const char* path) {
  if (!Usable(connection) || !path) return kAMDInvalidArgument;
  return FromAfc(afc_remove_path(connection->client, path));
}

CORVYN_EXPORT int32_t AFCRenamePath(AFCConnectionRef connection, const char* from, const char* to) {
  if (!Usable(connection) || !from || !to) return kAMDInvalidArgument;
  return FromAfc(afc_rename_path(connection->client, from, to));
}
