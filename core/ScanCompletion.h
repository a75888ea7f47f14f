// The category operations a scan runs, in their binding order, and the
// completion step that follows each: the engine fills a scratch ScanResults,
// then the step's containers move into the scan's results, derived rows are
// built, lists are sorted and every item is registered with the statistics.
// Runs without a thread or a window; the scan driver calls it under its
// results lock.
#pragma once

#include <array>
#include <vector>

#include "core/IPhoneRecoveryParse.h"
#include "core/ScanResults.h"
#include "core/Statistics.h"

namespace corvyn {

enum class CollectStep {
  kPhotos,  // Camera Roll and Photo Stream
  kMessages,
  kMessageAttachments,
  kContacts,
  kCallHistory,
  kNotes,
  kAppFiles,  // App Photos and App Videos
  kWhatsApp,
  kWhatsAppAttachments,
};

inline constexpr std::array<CollectStep, 9> kCollectOrder = {
    CollectStep::kPhotos,   CollectStep::kMessages,    CollectStep::kMessageAttachments,
    CollectStep::kContacts, CollectStep::kCallHistory, CollectStep::kNotes,
    CollectStep::kAppFiles, CollectStep::kWhatsApp,    CollectStep::kWhatsAppAttachments,
};

// The label a step's failure is reported under: the label of its first
// category ("Camera Roll", "Messages", ... "WhatsApp Attachments").
std::string_view CollectStepLabel(CollectStep step);

// Calls the step's engine operation on the scratch containers. An exception
// escaping the engine becomes a status (a system error ENOMEM for
// bad_alloc, kInvalidData otherwise) so that it cannot end the program from the worker thread.
Status RunCollectStep(IPhoneRecoveryParse& engine, CollectStep step, ScanResults& scratch);

// The completion step: moves what the step's operation put into `scratch`
// into `results`, builds the conversation / chat rows or the application
// folders, sorts, and registers each category of the step with `statistics`.
// Returns the step's categories that hold at least one item, in tree order.
std::vector<RecordCategory> CompleteCollectStep(CollectStep step, ScanResults& scratch, ScanResults& results,
                                                CStatisticsObj& statistics);

}  // namespace corvyn
