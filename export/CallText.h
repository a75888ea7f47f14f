// Words for a call shared by the HTML report and the printed pages.
#pragma once

#include <string>

#include "core/Records.h"

namespace corvyn::exporting {

// "Incoming" or "Outgoing", followed by the call type in brackets when the
// call log told it, e.g. "Outgoing (FaceTime Video)".
inline std::string CallDirectionText(const CallRecord& call) {
  std::string text = call.incoming == 1 ? "Incoming" : "Outgoing";
  if (!call.callType.empty()) text += " (" + call.callType + ")";
  return text;
}

}  // namespace corvyn::exporting
