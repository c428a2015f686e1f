// The file tree of the window: a QTreeWidget that mirrors the core's
// TreeModel item for item. Directories are read when their item expands;
// changes that jobs make to items reach the view through the update queue.
#ifndef MORAVINE_GUI_FILE_TREE_H_
#define MORAVINE_GUI_FILE_TREE_H_

#include <QIcon>
#include <QTreeWidget>

#include <unordered_map>
#include <vector>

#include "gui/update_queue.h"
#include "shell/tree_model.h"

namespace moravine::gui {

// The six tree pictures, in the order of the picture indices (IMG_DRIVE to
// IMG_BOTH), and the application icon.
std::vector<QIcon> TreePictures();
QIcon ApplicationIcon();

class FileTreeWidget : public QTreeWidget, public TreeObserver {
 public:
  // Becomes the model's observer; whoever owns the model detaches it before
  // either goes away.
  FileTreeWidget(TreeModel* model, UpdateQueue* updates, QWidget* parent = nullptr);

  void setPictures(std::vector<QIcon> pictures);

  // TreeObserver: called on any thread, carried out on the window's.
  void childrenChanged(TreeItem* item) override;
  void itemChanged(TreeItem* item) override;

  QTreeWidgetItem* viewItem(const TreeItem* item) const;
  TreeItem* modelItem(const QTreeWidgetItem* item) const;
  // The model item of the selection, or null.
  TreeItem* selectedModelItem() const;
  // Opens the item's ancestors, selects it and scrolls it into view.
  void reveal(TreeItem* item);
  // The picture index an item shows, or -1 when it is not in the view.
  int pictureOf(const TreeItem* item) const;

 protected:
  // No expand buttons and no lines.
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}

 private:
  void rebuildChildren(TreeItem* item);
  void refreshItem(TreeItem* item);
  QTreeWidgetItem* makeItem(TreeItem* item);
  void forget(QTreeWidgetItem* item);
  QIcon picture(int index) const;

  TreeModel* model_;
  UpdateQueue* updates_;
  std::vector<QIcon> pictures_;
  std::unordered_map<const TreeItem*, QTreeWidgetItem*> items_;
};

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_FILE_TREE_H_
