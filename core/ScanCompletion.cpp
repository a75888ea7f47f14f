#include "core/ScanCompletion.h"

#include <cerrno>
#include <new>

#include "core/DerivedData.h"

namespace corvyn {
namespace {

using Items = std::vector<CStatisticsObj::Item>;

template <class File>
Items FileItems(const std::vector<File>& files) {
  Items items;
  items.reserve(files.size());
  for (const File& file : files) items.push_back({&file, RecordWeight(file.size), 0});
  return items;
}

template <class Record>
Items RecordItems(const std::vector<Record>& records) {
  Items items;
  items.reserve(records.size());
  for (const Record& record : records) items.push_back({&record, RecordWeight(record), record.deleted});
  return items;
}

std::vector<CStatisticsObj::Folder> FolderItems(const AppFolderMap& folders) {
  std::vector<CStatisticsObj::Folder> result;
  for (const auto& [appName, files] : folders) result.push_back({&files, FileItems(files)});
  return result;
}

template <class Container>
void Install(Container& from, Container& to) {
  to = std::move(from);
  from = Container();
}

// Registers a category and reports it when it is not empty.
template <class Container>
void Register(RecordCategory category, const Container& container, const Items& items,
              CStatisticsObj& statistics, std::vector<RecordCategory>& nonEmpty) {
  statistics.RegisterCategory(category, &container, items);
  if (!container.empty()) nonEmpty.push_back(category);
}

void RegisterFolders(RecordCategory category, const AppFolderMap& folders, CStatisticsObj& statistics,
                     std::vector<RecordCategory>& nonEmpty) {
  statistics.RegisterFolders(category, &folders, FolderItems(folders));
  if (!folders.empty()) nonEmpty.push_back(category);
}

}  // namespace

std::string_view CollectStepLabel(CollectStep step) {
  switch (step) {
    case CollectStep::kPhotos:
      return CategoryLabel(RecordCategory::kCameraRoll);
    case CollectStep::kMessages:
      return CategoryLabel(RecordCategory::kMessages);
    case CollectStep::kMessageAttachments:
      return CategoryLabel(RecordCategory::kMessageAttachments);
    case CollectStep::kContacts:
      return CategoryLabel(RecordCategory::kContacts);
    case CollectStep::kCallHistory:
      return CategoryLabel(RecordCategory::kCallHistory);
    case CollectStep::kNotes:
      return CategoryLabel(RecordCategory::kNotes);
    case CollectStep::kAppFiles:
      return CategoryLabel(RecordCategory::kAppPhotos);
    case CollectStep::kWhatsApp:
      return CategoryLabel(RecordCategory::kWhatsApp);
    case CollectStep::kWhatsAppAttachments:
      return CategoryLabel(RecordCategory::kWhatsAppAttachments);
  }
  return {};
}

Status RunCollectStep(IPhoneRecoveryParse& engine, CollectStep step, ScanResults& scratch) {
  try {
    switch (step) {
      case CollectStep::kPhotos:
        return engine.CollectPhotos(scratch.cameraRoll, scratch.photoStream);
      case CollectStep::kMessages:
        return engine.CollectMessages(scratch.conversations);
      case CollectStep::kMessageAttachments:
        return engine.CollectMessageAttachments(scratch.messageAttachments);
      case CollectStep::kContacts:
        return engine.CollectContacts(scratch.contacts);
      case CollectStep::kCallHistory:
        return engine.CollectCallHistory(scratch.calls);
      case CollectStep::kNotes:
        return engine.CollectNotes(scratch.notes);
      case CollectStep::kAppFiles:
        return engine.CollectAppFiles(scratch.appFiles);
      case CollectStep::kWhatsApp:
        return engine.CollectWhatsApp(scratch.whatsAppChats);
      case CollectStep::kWhatsAppAttachments:
        return engine.CollectWhatsAppAttachments(scratch.whatsAppAttachments);
    }
  } catch (const std::bad_alloc&) {
    return Status::System(ENOMEM, "collecting " + std::string(CollectStepLabel(step)));
  } catch (...) {
    return kInvalidData;
  }
  return kInvalidData;
}

std::vector<RecordCategory> CompleteCollectStep(CollectStep step, ScanResults& scratch, ScanResults& results,
                                                CStatisticsObj& statistics) {
  using C = RecordCategory;
  std::vector<RecordCategory> nonEmpty;
  switch (step) {
    case CollectStep::kPhotos:
      Install(scratch.cameraRoll, results.cameraRoll);
      Install(scratch.photoStream, results.photoStream);
      Register(C::kCameraRoll, results.cameraRoll, FileItems(results.cameraRoll), statistics, nonEmpty);
      Register(C::kPhotoStream, results.photoStream, FileItems(results.photoStream), statistics, nonEmpty);
      break;
    case CollectStep::kMessages:
      Install(scratch.conversations, results.conversations);
      // The decoder delivers each conversation in date order; sorting again
      // is a no-op then, and keeps "latest message" true if it did not.
      for (auto& [handleId, messages] : results.conversations) SortByDateAscending(messages);
      results.conversationRows = BuildConversationRows(results.conversations);
      Register(C::kMessages, results.conversationRows, RecordItems(results.conversationRows), statistics,
               nonEmpty);
      break;
    case CollectStep::kMessageAttachments:
      Install(scratch.messageAttachments, results.messageAttachments);
      Register(C::kMessageAttachments, results.messageAttachments, FileItems(results.messageAttachments),
               statistics, nonEmpty);
      break;
    case CollectStep::kContacts:
      Install(scratch.contacts, results.contacts);
      SortDeletedFirst(results.contacts);
      Register(C::kContacts, results.contacts, RecordItems(results.contacts), statistics, nonEmpty);
      break;
    case CollectStep::kCallHistory:
      Install(scratch.calls, results.calls);
      SortCallHistory(results.calls);
      Register(C::kCallHistory, results.calls, RecordItems(results.calls), statistics, nonEmpty);
      break;
    case CollectStep::kNotes:
      Install(scratch.notes, results.notes);
      SortDeletedFirst(results.notes);
      Register(C::kNotes, results.notes, RecordItems(results.notes), statistics, nonEmpty);
      break;
    case CollectStep::kAppFiles:
      Install(scratch.appFiles, results.appFiles);
      ClassifyAppFiles(results.appFiles, results.appPhotos, results.appVideos);
      RegisterFolders(C::kAppPhotos, results.appPhotos, statistics, nonEmpty);
      RegisterFolders(C::kAppVideos, results.appVideos, statistics, nonEmpty);
      break;
    case CollectStep::kWhatsApp:
      Install(scratch.whatsAppChats, results.whatsAppChats);
      for (auto& [sessionId, messages] : results.whatsAppChats) SortByDateAscending(messages);
      results.whatsAppChatRows = BuildChatRows(results.whatsAppChats);
      Register(C::kWhatsApp, results.whatsAppChatRows, RecordItems(results.whatsAppChatRows), statistics,
               nonEmpty);
      break;
    case CollectStep::kWhatsAppAttachments:
      Install(scratch.whatsAppAttachments, results.whatsAppAttachments);
      Register(C::kWhatsAppAttachments, results.whatsAppAttachments, FileItems(results.whatsAppAttachments),
               statistics, nonEmpty);
      break;
  }
  return nonEmpty;
}

}  // namespace corvyn
