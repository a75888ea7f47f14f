#include "app/ConversationView.h"

#include <QAbstractItemView>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "core/TextFormat.h"

namespace corvyn::app {
namespace {

const QColor kSentFill(0xDC, 0xEC, 0xFB);
const QColor kSentBorder(0xB9, 0xD3, 0xEE);
const QColor kReceivedFill(0xF2, 0xF2, 0xF2);
const QColor kReceivedBorder(0xDA, 0xDA, 0xDA);
const QColor kTitleColour(0x80, 0x80, 0x80);
constexpr qreal kCornerRadius = 8;
constexpr int kSmallestTextWidth = 20;

// The language text with each "%s" replaced by the next value.
QString FillStrings(const QString& format, std::initializer_list<QString> values) {
  QString out;
  auto next = values.begin();
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('%') && i + 1 < format.size() && format[i + 1] == QLatin1Char('s') &&
        next != values.end()) {
      out += *next++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Lays `text` out in lines of `width`, breaking between words where it can
// and inside a word too long for a line; returns the size it takes.
QSizeF LayOut(QTextLayout& layout, int width) {
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  qreal height = 0;
  qreal widest = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, height));
    height += line.height();
    widest = std::max(widest, line.naturalTextWidth());
  }
  layout.endLayout();
  return {widest, height};
}

QString BubbleText(const QModelIndex& index) {
  QString text = index.data(Qt::DisplayRole).toString();
  text.replace(QLatin1Char('\n'), QChar::LineSeparator);
  return text;
}

// The width rows are laid out for: the view's visible width.
int RowWidth(const QStyleOptionViewItem& option) {
  if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget)) {
    return view->viewport()->width();
  }
  return option.rect.width();
}

}  // namespace

void ConversationModel::Reset(std::vector<Bubble> bubbles) {
  beginResetModel();
  bubbles_ = std::move(bubbles);
  shown_ = true;
  endResetModel();
}

void ConversationModel::SetMessages(const std::vector<MessageRecord>& messages) {
  std::vector<Bubble> bubbles;
  bubbles.reserve(messages.size());
  for (const MessageRecord& message : messages) {
    const std::string& sender = message.name.empty() ? message.address : message.name;
    const bool attachmentOnly = ShowsAttachmentInsteadOfText(message.text, message.attachment);
    bubbles.push_back({message.sent != 0, message.deleted != 0, FromUtf8(message.date),
                       message.sent != 0 ? QString() : FromUtf8(sender),
                       attachmentOnly ? QString() : FromUtf8(message.text),
                       attachmentOnly ? FromUtf8(message.attachment) : QString()});
  }
  Reset(std::move(bubbles));
}

void ConversationModel::SetWhatsAppMessages(const std::vector<WhatsAppRecord>& messages) {
  std::vector<Bubble> bubbles;
  bubbles.reserve(messages.size());
  for (const WhatsAppRecord& message : messages) {
    // In a group the member wrote it; in a one-to-one chat the partner.
    const std::string& sender = !message.memberName.empty()   ? message.memberName
                                : !message.senderName.empty() ? message.senderName
                                                              : message.senderId;
    bubbles.push_back({message.sent != 0, message.deleted != 0, FromUtf8(message.date),
                       message.sent != 0 ? QString() : FromUtf8(sender), FromUtf8(message.text), QString()});
  }
  Reset(std::move(bubbles));
}

void ConversationModel::Clear() {
  beginResetModel();
  bubbles_.clear();
  shown_ = false;
  endResetModel();
}

void ConversationModel::SetTexts(const ConversationTexts& texts) {
  texts_ = texts;
  if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1));
}

int ConversationModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !shown_) return 0;
  return static_cast<int>(bubbles_.size()) + 1;
}

QVariant ConversationModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (index.row() == 0) {
    switch (role) {
      case Qt::DisplayRole:
        return texts_.header;
      case kKindRole:
        return kHeaderRow;
      case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignHCenter | Qt::AlignVCenter));
      case Qt::ForegroundRole:
        return kHeaderTextColour;
      default:
        return {};
    }
  }
  const Bubble& bubble = bubbles_[static_cast<std::size_t>(index.row() - 1)];
  switch (role) {
    case Qt::DisplayRole:
      return bubble.attachment.isEmpty() ? bubble.text
                                         : FillStrings(texts_.attachmentText, {bubble.attachment});
    case kTitleRole:
      return bubble.sent ? FillStrings(texts_.sentTitle, {bubble.date})
                         : FillStrings(texts_.receivedTitle, {bubble.date, bubble.sender});
    case kKindRole:
      return bubble.sent ? kSentRow : kReceivedRow;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          Qt::Alignment((bubble.sent ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop));
    case Qt::ForegroundRole:
      return bubble.deleted ? kDeletedTextColour : kLiveTextColour;
    default:
      return {};
  }
}

BubbleDelegate::Measure BubbleDelegate::MeasureBubble(const QStyleOptionViewItem& option,
                                                      const QModelIndex& index, int rowWidth) const {
  const int available = std::max(rowWidth - 2 * kMargin, 2 * kInset + kSmallestTextWidth);
  const int widest = std::max(available * 4 / 5, 2 * kInset + kSmallestTextWidth);
  Measure measure;
  measure.textWidth = widest - 2 * kInset;
  QTextLayout textLayout(BubbleText(index), option.font);
  const QSizeF text = LayOut(textLayout, measure.textWidth);
  QTextLayout titleLayout(index.data(ConversationModel::kTitleRole).toString(), option.font);
  const QSizeF title = LayOut(titleLayout, measure.textWidth);
  const int contentWidth = static_cast<int>(std::ceil(std::max(title.width(), text.width())));
  measure.bubbleWidth = std::min(widest, contentWidth + 2 * kInset);
  measure.titleHeight = static_cast<int>(std::ceil(title.height()));
  measure.bubbleHeight =
      kInset + measure.titleHeight + kTitleGap + static_cast<int>(std::ceil(text.height())) + kInset;
  return measure;
}

QRect BubbleDelegate::BubbleRect(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  if (index.data(ConversationModel::kKindRole).toInt() == ConversationModel::kHeaderRow) return {};
  const int rowWidth = RowWidth(option);
  const Measure measure = MeasureBubble(option, index, rowWidth);
  const bool sent = index.data(ConversationModel::kKindRole).toInt() == ConversationModel::kSentRow;
  const int left =
      sent ? option.rect.left() + rowWidth - kMargin - measure.bubbleWidth : option.rect.left() + kMargin;
  return {left, option.rect.top() + kRowGap / 2, measure.bubbleWidth, measure.bubbleHeight};
}

QSize BubbleDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int rowWidth = RowWidth(option);
  if (index.data(ConversationModel::kKindRole).toInt() == ConversationModel::kHeaderRow) {
    return {rowWidth, kHeaderHeight};
  }
  return {rowWidth, MeasureBubble(option, index, rowWidth).bubbleHeight + kRowGap};
}

void BubbleDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setFont(option.font);
  const QColor foreground = index.data(Qt::ForegroundRole).value<QColor>();
  const int kind = index.data(ConversationModel::kKindRole).toInt();
  if (kind == ConversationModel::kHeaderRow) {
    QRect row = option.rect;
    row.setWidth(RowWidth(option));
    painter->setPen(foreground);
    painter->drawText(row, Qt::AlignCenter, index.data(Qt::DisplayRole).toString());
    painter->restore();
    return;
  }
  const bool sent = kind == ConversationModel::kSentRow;
  const QRect bubble = BubbleRect(option, index);
  QPainterPath outline;
  outline.addRoundedRect(QRectF(bubble).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
  painter->setPen(sent ? kSentBorder : kReceivedBorder);
  painter->setBrush(sent ? kSentFill : kReceivedFill);
  painter->drawPath(outline);

  const QRect inner = bubble.adjusted(kInset, kInset, -kInset, -kInset);
  const Measure measure = MeasureBubble(option, index, RowWidth(option));
  QTextLayout title(index.data(ConversationModel::kTitleRole).toString(), option.font);
  LayOut(title, measure.textWidth);
  painter->setPen(kTitleColour);
  title.draw(painter, QPointF(inner.topLeft()));
  QTextLayout text(BubbleText(index), option.font);
  LayOut(text, measure.textWidth);
  painter->setPen(foreground);
  text.draw(painter, QPointF(inner.left(), inner.top() + measure.titleHeight + kTitleGap));
  painter->restore();
}

void PrepareConversationView(QListView* view, ConversationModel* model, BubbleDelegate* delegate) {
  view->setModel(model);
  view->setItemDelegate(delegate);
  view->setSelectionMode(QAbstractItemView::NoSelection);
  view->setFocusPolicy(Qt::NoFocus);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->setUniformItemSizes(false);
  view->setResizeMode(QListView::Adjust);
  // Long conversations are measured a batch at a time, between events.
  view->setLayoutMode(QListView::Batched);
  view->setBatchSize(200);
  view->setSpacing(0);
}

}  // namespace corvyn::app
