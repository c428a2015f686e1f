#include "gui/file_tree.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <mutex>

namespace moravine::gui {

namespace {
constexpr int kModelRole = Qt::UserRole;
constexpr int kPictureRole = Qt::UserRole + 1;
}  // namespace

std::vector<QIcon> TreePictures() {
  std::vector<QIcon> pictures;
  for (const char* name : {"drive", "folder", "folder-open", "document", "compressed", "both"}) {
    pictures.push_back(Picture(QLatin1String(name)));
  }
  return pictures;
}

QIcon ApplicationIcon() { return Picture(QStringLiteral("moravine")); }

QIcon Picture(const QString& name) {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
  return icon;
}

FileTreeWidget::FileTreeWidget(TreeModel* model, UpdateQueue* updates, QWidget* parent)
    : QTreeWidget(parent), model_(model), updates_(updates) {
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setExpandsOnDoubleClick(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Long names scroll sideways instead of being cut.
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  // An item read for the first time gets its children as it opens.
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (TreeItem* node = modelItem(item)) model_->PopulateItem(node);
  });
  model_->setObserver(this);
}

void FileTreeWidget::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* item = currentItem();
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && item) {
    // A folder not read yet has no children in the view but can open.
    if (item->childCount() > 0 || item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator) {
      item->setExpanded(!item->isExpanded());
    }
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void FileTreeWidget::setPictures(std::vector<QIcon> pictures) {
  pictures_ = std::move(pictures);
  for (const auto& [node, item] : items_) item->setIcon(0, picture(item->data(0, kPictureRole).toInt()));
}

QIcon FileTreeWidget::picture(int index) const {
  return index >= 0 && static_cast<size_t>(index) < pictures_.size() ? pictures_[index] : QIcon();
}

void FileTreeWidget::childrenChanged(TreeItem* item) {
  updates_->post([this, item] { rebuildChildren(item); });
}

void FileTreeWidget::itemChanged(TreeItem* item) {
  updates_->post([this, item] { refreshItem(item); });
}

QTreeWidgetItem* FileTreeWidget::viewItem(const TreeItem* item) const {
  auto it = items_.find(item);
  return it == items_.end() ? nullptr : it->second;
}

TreeItem* FileTreeWidget::modelItem(const QTreeWidgetItem* item) const {
  return item ? reinterpret_cast<TreeItem*>(item->data(0, kModelRole).value<quintptr>()) : nullptr;
}

TreeItem* FileTreeWidget::selectedModelItem() const {
  QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? nullptr : modelItem(selected.front());
}

int FileTreeWidget::pictureOf(const TreeItem* item) const {
  QTreeWidgetItem* view = viewItem(item);
  return view ? view->data(0, kPictureRole).toInt() : -1;
}

QTreeWidgetItem* FileTreeWidget::makeItem(TreeItem* node) {
  auto* item = new QTreeWidgetItem;
  item->setText(0, QString::fromStdString(node->text));
  item->setData(0, kModelRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
  item->setData(0, kPictureRole, node->image);
  item->setIcon(0, picture(node->image));
  items_[node] = item;
  // A directory not read yet holds only the placeholder, which the view
  // does not show: the item just offers to open.
  bool unread = node->children.size() == 1 && node->children.front()->text == kPlaceholderText;
  if (unread) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  } else {
    for (const auto& child : node->children) item->addChild(makeItem(child.get()));
  }
  return item;
}

void FileTreeWidget::forget(QTreeWidgetItem* item) {
  for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
  items_.erase(modelItem(item));
}

void FileTreeWidget::rebuildChildren(TreeItem* node) {
  std::lock_guard<std::recursive_mutex> lock(model_->mutex());
  QTreeWidgetItem* parent = node ? viewItem(node) : invisibleRootItem();
  if (!parent) return;
  QList<QTreeWidgetItem*> old = parent->takeChildren();
  for (QTreeWidgetItem* item : old) forget(item);
  qDeleteAll(old);
  const auto& children = node ? node->children : model_->roots();
  QList<QTreeWidgetItem*> items;
  for (const auto& child : children) items.append(makeItem(child.get()));
  parent->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  parent->addChildren(items);
}

void FileTreeWidget::refreshItem(TreeItem* node) {
  std::lock_guard<std::recursive_mutex> lock(model_->mutex());
  QTreeWidgetItem* item = viewItem(node);
  if (!item) return;
  item->setText(0, QString::fromStdString(node->text));
  item->setData(0, kPictureRole, node->image);
  item->setIcon(0, picture(node->image));
}

void FileTreeWidget::reveal(TreeItem* node) {
  QTreeWidgetItem* item = viewItem(node);
  if (!item) return;
  for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) up->setExpanded(true);
  setCurrentItem(item);
  scrollToItem(item, QAbstractItemView::PositionAtCenter);
}

}  // namespace moravine::gui
