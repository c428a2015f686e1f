#include "gui/results_model.h"

namespace moravine::gui {

namespace {

struct ColumnInfo {
  const char* heading;
  Qt::Alignment alignment;
  int width;
};

constexpr ColumnInfo kColumns[ResultsModel::kColumnCount] = {
    {"File", Qt::AlignLeft, 110},
    {"Position", Qt::AlignLeft, 60},
    {"Left context", Qt::AlignRight, 138},
    {"Word", Qt::AlignHCenter, 90},
    {"Right context", Qt::AlignLeft, 138},
};

QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

// The right context begins one byte after the word; where that byte began a
// character of several bytes, the rest of it is no text to show.
std::string WithoutBrokenStart(const std::string& text) {
  size_t skip = 0;
  while (skip < text.size() && (static_cast<unsigned char>(text[skip]) & 0xC0) == 0x80) ++skip;
  return text.substr(skip);
}

// A tool tip in plain words, whatever markup the text holds.
QString PlainTip(const QString& text) {
  return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

}  // namespace

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return QVariant();
  const ResultRow& r = at(index.row());
  const std::string* text[kColumnCount] = {&r.row.file, &r.row.position, &r.row.left, &r.row.word, &r.row.right};
  switch (role) {
    case Qt::DisplayRole:
      return Text(*text[index.column()]);
    case Qt::ToolTipRole:
      return PlainTip(Text(index.column() == kFile && !r.path.empty() ? r.path : *text[index.column()]));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(alignment(index.column()) | Qt::AlignVCenter);
    default:
      return QVariant();
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return QVariant();
  if (role == Qt::DisplayRole) return QString::fromLatin1(kColumns[section].heading);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(alignment(section) | Qt::AlignVCenter);
  return QVariant();
}

void ResultsModel::clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void ResultsModel::prepend(const std::vector<SearchRow>& rows) {
  if (rows.empty()) return;
  beginInsertRows(QModelIndex(), 0, static_cast<int>(rows.size()) - 1);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    rows_.push_front(ResultRow{*it, it->path});
    rows_.front().row.right = WithoutBrokenStart(it->right);
  }
  endInsertRows();
}

Qt::Alignment ResultsModel::alignment(int column) { return kColumns[column].alignment; }
int ResultsModel::defaultWidth(int column) { return kColumns[column].width; }

void ResultsDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  option->textElideMode = index.column() == ResultsModel::kLeft ? Qt::ElideLeft : Qt::ElideRight;
}

}  // namespace moravine::gui
