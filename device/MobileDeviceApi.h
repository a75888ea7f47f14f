// The C interface of the mobile-device library (libcorvyn-mobiledevice.so,
// built from tools/mobiledevice), shared by the library and by its loader.
// The library is loaded at run time: the program only ever sees the function
// pointer types below, resolved by name.
//
// Handles are opaque and owned by the library:
//   AMDeviceRef       one phone, the same handle for as long as any
//                     notification subscription lives (a phone that goes and
//                     comes back keeps its handle); it carries the phone's UDID.
//   AMDServiceSocket  one started service of a phone; connected on first use.
//                     It is released by AFCConnectionClose once a file
//                     connection was opened on it, by
//                     AMDServiceConnectionInvalidate, or with the phone by
//                     AMDeviceRelease. AMDeviceDisconnect leaves it open.
//   AFCConnectionRef  a file-service connection (AFCConnectionClose).
//   AFCDictionaryRef  file or device information (AFCKeyValueClose).
//   AFCDirectoryRef   an open folder listing (AFCDirectoryClose).
//   CFStringRef       a text; those returned by AMDeviceCopyValue and
//                     CFStringCreateWithCString are released with CFRelease,
//                     those of __CFStringMakeConstantString live until the
//                     library is unloaded.
//
// Every function returns 0 (kAMDSuccess) for success, or one of the codes
// below. Texts passed in and out are UTF-8 unless an encoding says otherwise.
// Functions may be called from any thread, but one phone is driven from one
// thread at a time.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AMDevice* AMDeviceRef;
typedef struct AMDNotification* AMDNotificationRef;
typedef struct AMDServiceConnection* AMDServiceSocket;
typedef struct AFCConnection* AFCConnectionRef;
typedef struct AFCDictionary* AFCDictionaryRef;
typedef struct AFCDirectory* AFCDirectoryRef;
typedef struct CFStringOpaque* CFStringRef;
typedef uint64_t AFCFileRef;

// Result codes.
enum {
  kAMDSuccess = 0,
  kAMDUndefinedError = 1,         // a failure the lower layers did not explain
  kAMDInvalidArgument = 2,        // a null handle, text or out pointer
  kAMDDeviceDisconnected = 3,     // the phone is gone, or no longer answers
  kAMDNotConnected = 4,           // AMDeviceConnect was not called (or failed)
  kAMDSessionInactive = 5,        // the call needs AMDeviceStartSession first
  kAMDInvalidService = 6,         // the phone does not offer that service
  kAMDInvalidPairRecord = 7,      // this computer holds no pairing with the phone
  kAMDPasswordProtected = 8,      // pairing refused: the phone is locked
  kAMDUserDeniedPairing = 9,      // pairing refused: the user tapped "Don't Trust"
  kAMDPairingDialogPending = 10,  // pairing waits for the user's answer on the phone
  kAMDIsDirectory = 11,           // AFCFileRefRead on a folder
  kAMDNotFound = 12,              // no such file or folder on the phone
  kAMDPermissionDenied = 13,
  kAMDTimeout = 14,
  kAMDReceiveError = 15,  // a service answered with malformed data
  kAMDNotSupported = 16,
};

// Notification messages.
enum { kAMDNotificationConnected = 1, kAMDNotificationDisconnected = 2 };

// What a notification callback receives: the phone and whether it came (1)
// or went (2). Valid during the call only; the device handle stays valid.
typedef struct AMDeviceNotificationInfo {
  AMDeviceRef device;
  uint32_t message;
} AMDeviceNotificationInfo;

// Runs on the library's notification thread (the first announcements to a
// later subscriber: on the subscribing thread). It must not subscribe or
// unsubscribe.
typedef void (*AMDeviceNotificationCallback)(const AMDeviceNotificationInfo* info, void* cookie);

// Encodings of CFStringGetCString / CFStringCreateWithCString.
enum {
  kCFStringEncodingUnicode = 0x0100,  // UTF-16, host byte order, ended by a 16-bit zero
  kCFStringEncodingUTF8 = 0x08000100,
};

// AFC file open modes (AFCFileRefOpen).
enum {
  kAFCModeReadOnly = 1,   // "r"
  kAFCModeReadWrite = 2,  // "r+"
  kAFCModeWriteOnly = 3,  // "w": created or emptied
  kAFCModeReadWriteCreate = 4,
  kAFCModeAppend = 5,
  kAFCModeReadAppend = 6,
};

// AFCFileRefSeek origins.
enum { kAFCSeekSet = 0, kAFCSeekCurrent = 1, kAFCSeekEnd = 2 };

// --- notifications -----------------------------------------------------------
// Subscribes `callback`. Phones already present are announced (message 1):
// those the library already follows for another subscriber at once on the
// calling thread, before this returns; the others, and later arrivals and
// removals, on the notification thread. `unused0` and `unused1` are ignored.
typedef int32_t (*AMDeviceNotificationSubscribeFn)(AMDeviceNotificationCallback callback, uint32_t unused0,
                                                   uint32_t unused1, void* cookie, AMDNotificationRef* out);
// After it returns, the callback is never called again. The last
// unsubscription releases every phone handle.
typedef int32_t (*AMDeviceNotificationUnsubscribeFn)(AMDNotificationRef notification);

// --- the phone ---------------------------------------------------------------
// The phone's UDID, a text the caller releases.
typedef CFStringRef (*AMDeviceCopyDeviceIdentifierFn)(AMDeviceRef device);
// Opens the phone's lockdown service (a plain connection, no session).
typedef int32_t (*AMDeviceConnectFn)(AMDeviceRef device);
// 1 when this computer holds a pairing record for the phone, else 0.
typedef int32_t (*AMDeviceIsPairedFn)(AMDeviceRef device);
// Checks the stored pairing with the phone.
typedef int32_t (*AMDeviceValidatePairingFn)(AMDeviceRef device);
// Pairs with the phone; a locked phone or one whose user refuses gives
// kAMDPasswordProtected, kAMDUserDeniedPairing or kAMDPairingDialogPending.
typedef int32_t (*AMDevicePairFn)(AMDeviceRef device);
typedef int32_t (*AMDeviceStartSessionFn)(AMDeviceRef device);
typedef int32_t (*AMDeviceStopSessionFn)(AMDeviceRef device);
// Starts a service (needs a session); `unused` may be null.
typedef int32_t (*AMDeviceStartServiceFn)(AMDeviceRef device, CFStringRef serviceName, AMDServiceSocket* out,
                                          uint32_t* unused);
// As AMDeviceStartService; `options` is ignored and may be null.
typedef int32_t (*AMDeviceSecureStartServiceFn)(AMDeviceRef device, CFStringRef serviceName, void* options,
                                                AMDServiceSocket* out);
// Starts "com.apple.mobile.house_arrest" and vends the container of the
// application `bundleIdentifier`; the socket is ready for AFCConnectionOpen.
typedef int32_t (*AMDeviceStartHouseArrestServiceFn)(AMDeviceRef device, CFStringRef bundleIdentifier,
                                                     void* options, AMDServiceSocket* out, uint32_t* unused);
// Closes the lockdown connection (and its session); started services stay.
typedef int32_t (*AMDeviceDisconnectFn)(AMDeviceRef device);
// Disconnects and closes every service socket of the phone. The handle
// itself stays valid (see above).
typedef int32_t (*AMDeviceReleaseFn)(AMDeviceRef device);
// The value of `key` in `domain` (null: the default domain) as a text that
// the caller releases; true/false for a truth value, decimal for a number.
// Null when the phone has no such value or is not connected.
typedef CFStringRef (*AMDeviceCopyValueFn)(AMDeviceRef device, CFStringRef domain, CFStringRef key);

// --- service messages --------------------------------------------------------
// Bytes on a started service: for "com.apple.mobile.house_arrest" each message
// is a 4-byte big-endian length and an XML property list, as on the wire; the
// other services carry raw bytes. Send returns the count sent, Receive the
// count received (at most `length`, waiting up to 30 s for the first byte), or
// -1 on failure, when the wait ends, or when the service closed.
typedef int32_t (*AMDServiceConnectionSendFn)(AMDServiceSocket socket, const void* data, uint32_t length);
typedef int32_t (*AMDServiceConnectionReceiveFn)(AMDServiceSocket socket, void* buffer, uint32_t length);
// Closes and releases a service socket that no file connection took over.
typedef int32_t (*AMDServiceConnectionInvalidateFn)(AMDServiceSocket socket);

// --- files (AFC) -------------------------------------------------------------
// Opens the file service on a socket of "com.apple.afc", "com.apple.afc2" or
// a house-arrest socket whose container was vended. The connection takes
// over the socket. `timeoutSeconds` is ignored.
typedef int32_t (*AFCConnectionOpenFn)(AMDServiceSocket socket, uint32_t timeoutSeconds,
                                       AFCConnectionRef* out);
typedef int32_t (*AFCConnectionCloseFn)(AFCConnectionRef connection);
typedef int32_t (*AFCDeviceInfoOpenFn)(AFCConnectionRef connection, AFCDictionaryRef* out);
typedef int32_t (*AFCFileInfoOpenFn)(AFCConnectionRef connection, const char* path, AFCDictionaryRef* out);
// Next key and value; both null after the last pair (result 0).
typedef int32_t (*AFCKeyValueReadFn)(AFCDictionaryRef dictionary, const char** key, const char** value);
typedef int32_t (*AFCKeyValueCloseFn)(AFCDictionaryRef dictionary);
typedef int32_t (*AFCDirectoryOpenFn)(AFCConnectionRef connection, const char* path, AFCDirectoryRef* out);
// Next entry name ("." and ".." included); null after the last (result 0).
typedef int32_t (*AFCDirectoryReadFn)(AFCConnectionRef connection, AFCDirectoryRef directory,
                                      const char** name);
typedef int32_t (*AFCDirectoryCloseFn)(AFCConnectionRef connection, AFCDirectoryRef directory);
typedef int32_t (*AFCDirectoryCreateFn)(AFCConnectionRef connection, const char* path);
typedef int32_t (*AFCFileRefOpenFn)(AFCConnectionRef connection, const char* path, uint64_t mode,
                                    AFCFileRef* out);
// Reads up to *length bytes; *length receives the count (0 at the end).
typedef int32_t (*AFCFileRefReadFn)(AFCConnectionRef connection, AFCFileRef file, void* buffer,
                                    uint32_t* length);
typedef int32_t (*AFCFileRefWriteFn)(AFCConnectionRef connection, AFCFileRef file, const void* data,
                                     uint32_t length);
typedef int32_t (*AFCFileRefSeekFn)(AFCConnectionRef connection, AFCFileRef file, int64_t offset,
                                    uint64_t origin);
typedef int32_t (*AFCFileRefCloseFn)(AFCConnectionRef connection, AFCFileRef file);
typedef int32_t (*AFCRemovePathFn)(AFCConnectionRef connection, const char* path);
typedef int32_t (*AFCRenamePathFn)(AFCConnectionRef connection, const char* from, const char* to);

// --- texts ---------------------------------------------------------------------
// `allocator` is ignored and may be null; `encoding` is UTF-8 (or 0x0600,
// ASCII, taken as UTF-8). Null for invalid UTF-8.
typedef CFStringRef (*CFStringCreateWithCStringFn)(const void* allocator, const char* text,
                                                   uint32_t encoding);
// The same handle for the same text; never released.
typedef CFStringRef (*CFStringMakeConstantStringFn)(const char* text);
// Copies the text with its terminator into `buffer` of `size` bytes as UTF-8
// or UTF-16. 1 on success; 0 (buffer untouched) when it does not fit or the
// encoding is unknown.
typedef uint8_t (*CFStringGetCStringFn)(CFStringRef text, char* buffer, int64_t size, uint32_t encoding);
// The length in UTF-16 units.
typedef int64_t (*CFStringGetLengthFn)(CFStringRef text);
typedef void (*CFReleaseFn)(const void* object);

#ifdef __cplusplus
}
#endif
