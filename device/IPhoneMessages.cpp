#include "device/IPhoneMessages.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <type_traits>

namespace corvyn::device::messages {
namespace {

using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, decltype(&plist_free)>;

Plist Own(plist_t node) {
  return Plist(node, &plist_free);
}

Plist Parse(std::string_view payload) {
  plist_t node = nullptr;
  if (!payload.empty()) plist_from_memory(payload.data(), static_cast<uint32_t>(payload.size()), &node);
  Plist parsed = Own(node);
  if (parsed && plist_get_node_type(parsed.get()) != PLIST_DICT) parsed.reset();
  return parsed;
}

std::string ToXml(plist_t node) {
  char* xml = nullptr;
  uint32_t size = 0;
  plist_to_xml(node, &xml, &size);
  std::string text = xml ? std::string(xml, size) : std::string();
  if (xml) plist_to_xml_free(xml);
  return text;
}

std::string StringItem(plist_t dict, const char* key) {
  plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
  if (!item || plist_get_node_type(item) != PLIST_STRING) return {};
  char* text = nullptr;
  plist_get_string_val(item, &text);
  std::string out = text ? text : "";
  std::free(text);
  return out;
}

uint64_t UintItem(plist_t dict, const char* key) {
  plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
  uint64_t value = 0;
  if (item && plist_get_node_type(item) == PLIST_UINT) plist_get_uint_val(item, &value);
  return value;
}

}  // namespace

std::string Frame(std::string_view payload) {
  const auto size = static_cast<uint32_t>(payload.size());
  std::string frame = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size)};
  frame += payload;
  return frame;
}

uint32_t PayloadSize(std::string_view head) {
  if (head.size() < kFrameHeadSize) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(head[i])); };
  return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

std::string BrowseUserApplicationsRequest() {
  Plist request = Own(plist_new_dict());
  plist_t options = plist_new_dict();
  plist_dict_set_item(options, "ApplicationType", plist_new_string("User"));
  plist_dict_set_item(request.get(), "ClientOptions", options);
  plist_dict_set_item(request.get(), "Command", plist_new_string("Browse"));
  return ToXml(request.get());
}

std::string VendContainerRequest(const std::string& bundleIdentifier) {
  Plist request = Own(plist_new_dict());
  plist_dict_set_item(request.get(), "Command", plist_new_string("VendContainer"));
  plist_dict_set_item(request.get(), "Identifier", plist_new_string(bundleIdentifier.c_str()));
  return ToXml(request.get());
}

BrowseReply ParseBrowseReply(std::string_view payload) {
  BrowseReply reply;
  const Plist dict = Parse(payload);
  if (!dict) return reply;
  reply.readable = true;
  reply.error = StringItem(dict.get(), "Error");
  reply.complete = StringItem(dict.get(), "Status") == "Complete";
  if (UintItem(dict.get(), "CurrentAmount") == 0) return reply;
  plist_t list = plist_dict_get_item(dict.get(), "CurrentList");
  const uint32_t count = list && plist_get_node_type(list) == PLIST_ARRAY ? plist_array_get_size(list) : 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::string identifier = StringItem(plist_array_get_item(list, i), "CFBundleIdentifier");
    if (!identifier.empty()) reply.identifiers.push_back(std::move(identifier));
  }
  return reply;
}

std::string VendContainerError(std::string_view payload) {
  const Plist dict = Parse(payload);
  if (!dict) return "unreadable reply";
  return StringItem(dict.get(), "Error");
}

}  // namespace corvyn::device::messages
