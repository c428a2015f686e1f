#include "gui/results_model.h"

namespace moravine::gui {

namespace {

QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

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
  const auto row = static_cast<size_t>(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return Text(rows_.cell(row, index.column()));
    case Qt::ToolTipRole:
      return PlainTip(Text(rows_.tip(row, index.column())));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(alignment(index.column()) | Qt::AlignVCenter);
    default:
      return QVariant();
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return QVariant();
  if (role == Qt::DisplayRole) return QString::fromLatin1(frontend::Column(section).heading);
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
  rows_.prepend(rows);
  endInsertRows();
}

Qt::Alignment ResultsModel::alignment(int column) {
  switch (frontend::Column(column).alignment) {
    case frontend::CellAlignment::kLeft: return Qt::AlignLeft;
    case frontend::CellAlignment::kCentre: return Qt::AlignHCenter;
    case frontend::CellAlignment::kRight: return Qt::AlignRight;
  }
  return Qt::AlignLeft;
}

int ResultsModel::defaultWidth(int column) { return frontend::Column(column).width; }

void ResultsDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const frontend::ColumnInfo& column = frontend::Column(index.column());
  option->textElideMode = column.cut_on_left ? Qt::ElideLeft : column.cut_in_middle ? Qt::ElideMiddle : Qt::ElideRight;
}

}  // namespace moravine::gui
