// The results list: one row per hit with the five columns of a search,
// and the compressed file each row came from, which the reader opens.
#ifndef MORAVINE_GUI_RESULTS_MODEL_H_
#define MORAVINE_GUI_RESULTS_MODEL_H_

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include <string>
#include <vector>

#include "frontend/results.h"

namespace moravine::gui {

using frontend::ResultRow;

class ResultsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    kFile = frontend::kFileColumn,
    kPosition = frontend::kPositionColumn,
    kLeft = frontend::kLeftColumn,
    kWord = frontend::kWordColumn,
    kRight = frontend::kRightColumn,
    kColumnCount = frontend::kColumnCount
  };

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // Display: the column's text. Tool tip: the whole text, which the column
  // may show elided; for File, the compressed file's full path.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  void clear();
  // The rows of one file go on top, in their own order.
  void prepend(const std::vector<SearchRow>& rows);
  const ResultRow& at(int row) const { return rows_.at(static_cast<size_t>(row)); }

  static Qt::Alignment alignment(int column);
  static int defaultWidth(int column);

 private:
  frontend::ResultRows rows_;
};

// Left context is cut on its left, where it lies farthest from the hit;
// every other column on its right.
class ResultsDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_RESULTS_MODEL_H_
