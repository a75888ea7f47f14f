// The property-list messages the iPhone wrapper exchanges with the phone's
// installation proxy and house arrest, and their framing on a service
// socket:
//
//   offset  size  meaning
//   0       4     payload length n, big-endian
//   4       n     the property list (XML when we send; XML or binary back)
//
// Built and read with libplist; nothing here talks to a phone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvyn::device::messages {

inline constexpr std::size_t kFrameHeadSize = 4;
// A payload longer than this is not believed.
inline constexpr uint32_t kMaxPayloadSize = 64u << 20;

// `payload` behind its 4-byte length.
std::string Frame(std::string_view payload);
// The payload length in a frame head (the first kFrameHeadSize bytes).
uint32_t PayloadSize(std::string_view head);

// {"ClientOptions": {"ApplicationType": "User"}, "Command": "Browse"} as XML.
std::string BrowseUserApplicationsRequest();
// {"Command": "VendContainer", "Identifier": bundleIdentifier} as XML.
std::string VendContainerRequest(const std::string& bundleIdentifier);

// One reply of the installation proxy to Browse.
struct BrowseReply {
  bool readable = false;                 // a dictionary could be parsed
  std::string error;                     // its "Error", empty for none
  std::vector<std::string> identifiers;  // "CFBundleIdentifier" of each "CurrentList" item,
                                         // taken only when "CurrentAmount" is above 0
  bool complete = false;                 // "Status" is "Complete"
};
BrowseReply ParseBrowseReply(std::string_view payload);

// The "Error" of house arrest's reply to VendContainer: empty for success,
// "unreadable reply" when the payload is no dictionary.
std::string VendContainerError(std::string_view payload);

}  // namespace corvyn::device::messages
