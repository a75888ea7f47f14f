// The installation-proxy and house-arrest messages, without a phone.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "device/IPhoneMessages.h"

namespace corvyn::device::messages {
namespace {

std::string Xml(const std::string& body) {
  return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" + body + "</plist>";
}

std::string App(const std::string& identifier) {
  return "<dict><key>CFBundleIdentifier</key><string>" + identifier + "</string></dict>";
}

std::string Binary(const std::string& xml) {
  plist_t node = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
  char* bytes = nullptr;
  uint32_t size = 0;
  plist_to_bin(node, &bytes, &size);
  std::string out(bytes, size);
  std::free(bytes);
  plist_free(node);
  return out;
}

TEST(IPhoneMessages, BrowseRepliesGiveTheirIdentifiersOnlyWhenCounted) {
  const std::string page =
      Xml("<dict><key>Status</key><string>BrowsingApplications</string>"
          "<key>CurrentAmount</key><integer>2</integer><key>CurrentList</key><array>" +
          App("net.whatsapp.WhatsApp") + "<dict/>" + App("com.example.notes") + "</array></dict>");
  const struct {
    const char* name;
    std::string payload;
    bool readable;
    std::vector<std::string> identifiers;
    bool complete;
    const char* error;
  } cases[] = {
      {"a page", page, true, {"net.whatsapp.WhatsApp", "com.example.notes"}, false, ""},
      {"the same page as a binary list",
       Binary(page),
       true,
       {"net.whatsapp.WhatsApp", "com.example.notes"},
       false,
       ""},
      {"a list that CurrentAmount 0 disowns",
       Xml("<dict><key>CurrentAmount</key><integer>0</integer><key>CurrentList</key><array>" + App("x") +
           "</array></dict>"),
       true,
       {},
       false,
       ""},
      {"the end", Xml("<dict><key>Status</key><string>Complete</string></dict>"), true, {}, true, ""},
      {"an error",
       Xml("<dict><key>Error</key><string>APIInternalError</string></dict>"),
       true,
       {},
       false,
       "APIInternalError"},
      {"no dictionary", Xml("<array><string>Complete</string></array>"), false, {}, false, ""},
      {"no property list", "Status: Complete", false, {}, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const BrowseReply reply = ParseBrowseReply(c.payload);
    EXPECT_EQ(reply.readable, c.readable);
    EXPECT_EQ(reply.identifiers, c.identifiers);
    EXPECT_EQ(reply.complete, c.complete);
    EXPECT_EQ(reply.error, c.error);
  }
}

TEST(IPhoneMessages, RequestsAndVendRepliesReadBack) {
  const struct {
    std::string xml;
    std::vector<const char*> path;  // dictionary keys down to a string
    const char* value;
  } requests[] = {{BrowseUserApplicationsRequest(), {"Command"}, "Browse"},
                  {BrowseUserApplicationsRequest(), {"ClientOptions", "ApplicationType"}, "User"},
                  {VendContainerRequest("net.whatsapp.WhatsApp"), {"Command"}, "VendContainer"},
                  {VendContainerRequest("net.whatsapp.WhatsApp"), {"Identifier"}, "net.whatsapp.WhatsApp"}};
  for (const auto& r : requests) {
    SCOPED_TRACE(r.xml);
    plist_t root = nullptr;
    plist_from_xml(r.xml.data(), static_cast<uint32_t>(r.xml.size()), &root);
    plist_t node = root;
    for (const char* key : r.path) node = node ? plist_dict_get_item(node, key) : nullptr;
    char* text = nullptr;
    if (node) plist_get_string_val(node, &text);
    EXPECT_STREQ(text, r.value);
    std::free(text);
    plist_free(root);
  }

  EXPECT_EQ(VendContainerError(Xml("<dict><key>Status</key><string>Complete</string></dict>")), "");
  EXPECT_EQ(VendContainerError(Xml("<dict><key>Error</key><string>ApplicationLookupFailed</string></dict>")),
            "ApplicationLookupFailed");
  EXPECT_EQ(VendContainerError(""), "unreadable reply");

  const std::string frame = Frame(std::string(0x010203, 'x'));
  EXPECT_EQ(frame.substr(0, 4), std::string("\x00\x01\x02\x03", 4)) << "the length is big-endian";
  EXPECT_EQ(PayloadSize(frame), 0x010203u);
  EXPECT_EQ(PayloadSize("\xff\x00\x00"), 0u) << "a head of three bytes";
}

}  // namespace
}  // namespace corvyn::device::messages
