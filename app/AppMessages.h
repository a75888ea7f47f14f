// The program's private window messages, by number; the main window routes
// them to its pages.
#pragma once

namespace corvyn::app {

inline constexpr int kMsgOpenPreviewItem = 1027;  // preview pane: open the previewed media item
inline constexpr int kMsgLanguageChanged = 1030;  // assistant menu: every window re-applies its texts
inline constexpr int kMsgStartScan = 1031;        // source pages: wParam 1 backup, 0 device
inline constexpr int kMsgCategoryDone = 1032;     // scan worker: refresh the tree count labels
inline constexpr int kMsgFirstCategory = 1033;    // scan worker: select the first non-empty category
inline constexpr int kMsgScanEnded = 1034;        // scan worker: the scan ended
inline constexpr int kMsgScanState =
    1035;  // wParam 0 begun, 1 wrong password, 2 device removed, 3 open failed

}  // namespace corvyn::app
