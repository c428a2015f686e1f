// The file tree of the window: a QTreeWidget that mirrors the core's
// TreeModel item for item. Directories are read when their item expands
// (by its arrow, a double click, Enter or the arrow keys); changes that
// jobs make to items reach the view through the update queue.
#ifndef MORAVINE_GUI_FILE_TREE_H_
#define MORAVINE_GUI_FILE_TREE_H_

#include <QIcon>
#include <QTreeWidget>

#include <unordered_map>
#include <vector>

#include "gui/update_queue.h"
#include "batch/tree_model.h"

namespace moravine::gui {

// The six tree pictures, in the order of the picture indices (IMG_DRIVE to
// IMG_BOTH), and the application icon; each drawn at 16, 32 and 48 pixels,
// so that they stay sharp on screens of any density.
std::vector<QIcon> TreePictures();
QIcon ApplicationIcon();
// The picture NAME of the resources, at every size it is drawn in.
QIcon Picture(const QString& name);

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
  // The width that the names shown now take, with their pictures and
  // indentation.
  int namesWidth() const { return sizeHintForColumn(0); }

 protected:
  // Enter opens or closes the current folder, as a double click does.
  void keyPressEvent(QKeyEvent* event) override;

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
