// How the scan page talks to the preview pane beside its list: it hands over
// the row under the cursor, and the pane shows it (a conversation, a contact
// card, a note, an image, or a media file through the players).
#pragma once

#include "core/IPhoneRecoveryParse.h"
#include "core/Records.h"
#include "core/ScanResults.h"

namespace corvyn::app {

// One row of the data list. `record` points into ScanResults and is one of:
//   kCameraRoll, kPhotoStream, kWhatsAppAttachments  MediaFileRecord
//   kMessageAttachments                               AttachmentRecord
//   kAppPhotos, kAppVideos                             AppFileRecord (a file inside a folder)
//   kMessages                                          MessageRecord (a conversation row)
//   kContacts                                          ContactRecord
//   kCallHistory                                       CallRecord
//   kNotes                                             NoteRecord
//   kWhatsApp                                          WhatsAppRecord (a chat row)
struct PreviewItem {
  RecordCategory category = RecordCategory::kNone;
  const void* record = nullptr;
};

class IPreviewPane {
 public:
  virtual ~IPreviewPane() = default;
  // Shows `item`. `results` stays valid and unchanged for the published
  // categories until Clear; `engine` is the scan's engine for extracting media
  // (null while a scan runs: media then cannot be previewed yet).
  virtual void ShowItem(const PreviewItem& item, const ScanResults& results, IPhoneRecoveryParse* engine) = 0;
  // Shows nothing (a new scan begins, no row is current, a folder row).
  virtual void Clear() = 0;
};

}  // namespace corvyn::app
