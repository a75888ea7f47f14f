// The conversation of the preview pane: a header row, then one speech bubble
// per message, sent ones on the right and received ones on the left. One
// model row per message and a delegate that paints the bubbles and measures
// them: no widget per message, as a conversation may hold tens of thousands.
#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QString>
#include <QStyledItemDelegate>
#include <vector>

#include "core/Records.h"

class QListView;

namespace corvyn::app {

inline const QColor kDeletedTextColour(0xF3, 0x73, 0x02);
inline const QColor kLiveTextColour(0x40, 0x40, 0x40);
inline const QColor kHeaderTextColour(0xB4, 0xB4, 0xB4);

// The texts the conversation is drawn with (from the pane's language section).
struct ConversationTexts {
  QString header = QStringLiteral("-------------------- Messages --------------------");
  QString sentTitle = QStringLiteral("%s Me:");      // date
  QString receivedTitle = QStringLiteral("%s %s:");  // date, sender
  // In place of a message's text when it has none, only its attachment.
  QString attachmentText = QStringLiteral("[Attachment: %s]");  // attachment name
};

// Row 0 is the header; rows 1.. are the messages in the order given.
//   Qt::DisplayRole        header text / message text
//   kTitleRole             the bubble's first line (date and who)
//   kKindRole              RowKind
//   Qt::TextAlignmentRole  AlignHCenter (header), AlignRight (sent), AlignLeft (received)
//   Qt::ForegroundRole     light grey (header), orange (deleted text), dark grey
class ConversationModel final : public QAbstractListModel {
 public:
  enum RowKind { kHeaderRow = 0, kSentRow = 1, kReceivedRow = 2 };
  enum Role { kTitleRole = Qt::UserRole + 1, kKindRole };

  explicit ConversationModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

  // Replaces the rows. An empty model (no header either) after Clear.
  void SetMessages(const std::vector<MessageRecord>& messages);
  void SetWhatsAppMessages(const std::vector<WhatsAppRecord>& messages);
  void Clear();
  // New texts (a language change); the rows stay.
  void SetTexts(const ConversationTexts& texts);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  struct Bubble {
    bool sent = false;
    bool deleted = false;
    QString date;
    QString sender;  // received only: contact name, else address
    QString text;
    QString attachment;  // shown with texts_.attachmentText in place of an empty text
  };
  void Reset(std::vector<Bubble> bubbles);

  ConversationTexts texts_;
  std::vector<Bubble> bubbles_;
  bool shown_ = false;  // false: no rows at all
};

// Paints ConversationModel rows in a QListView and gives each its measured
// height: the first line and the text wrapped to the bubble's width, at most four fifths of the
// view's width less the margins.
class BubbleDelegate final : public QStyledItemDelegate {
 public:
  static constexpr int kHeaderHeight = 20;
  static constexpr int kMargin = 10;   // between the view's sides and a bubble
  static constexpr int kInset = 8;     // between a bubble's border and its text
  static constexpr int kRowGap = 10;   // below each bubble
  static constexpr int kTitleGap = 4;  // between the first line and the text

  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Where the bubble of a message row lies within option.rect (the row's
  // rectangle); empty for the header row.
  QRect BubbleRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;

 private:
  struct Measure {
    int textWidth = 0;  // the width the text is wrapped to
    int bubbleWidth = 0;
    int titleHeight = 0;  // the first line, wrapped like the text
    int bubbleHeight = 0;
  };
  Measure MeasureBubble(const QStyleOptionViewItem& option, const QModelIndex& index, int rowWidth) const;
};

// Sets up `view` for a conversation: no selection, smooth scrolling, rows
// laid out in batches and again on every resize.
void PrepareConversationView(QListView* view, ConversationModel* model, BubbleDelegate* delegate);

}  // namespace corvyn::app
