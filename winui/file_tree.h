// The file tree of the Win32 window: a tree view control that mirrors the
// core's TreeModel item for item, each view item carrying its model item.
// A folder is read when it opens (by its button, a double click, Enter or
// the arrow keys); changes that jobs make reach the view through the
// update queue.
#ifndef MORAVINE_WINUI_FILE_TREE_H_
#define MORAVINE_WINUI_FILE_TREE_H_

#include <windows.h>
#include <commctrl.h>

#include <unordered_map>

#include "batch/tree_model.h"
#include "frontend/update_queue.h"

namespace moravine::winui {

class FileTree : public TreeObserver {
 public:
  // Becomes the model's observer; the owner detaches it before either goes.
  FileTree(HWND view, TreeModel* model, frontend::UpdateQueue* updates);
  ~FileTree() override;
  FileTree(const FileTree&) = delete;
  FileTree& operator=(const FileTree&) = delete;

  // TreeObserver: called on any thread, carried out on the window's.
  void childrenChanged(TreeItem* item) override;
  void itemChanged(TreeItem* item) override;

  // TVN_ITEMEXPANDINGW: an item opening for the first time is read.
  void expanding(const NMTREEVIEWW& change);
  // Enter: opens or closes the selected folder.
  void toggleSelected();

  HTREEITEM viewItem(const TreeItem* item) const;
  TreeItem* selectedModelItem() const;
  // Opens the item's ancestors, selects it and scrolls it into view.
  void reveal(TreeItem* item);
  // Opens the item's own folder too.
  void expand(TreeItem* item);
  // The picture index an item shows, or -1 when it is not in the view.
  int pictureOf(const TreeItem* item) const;
  HWND view() const { return view_; }

 private:
  void rebuildChildren(TreeItem* item);
  void refreshItem(TreeItem* item);
  HTREEITEM insert(HTREEITEM parent, TreeItem* node);
  void forget(HTREEITEM item);

  HWND view_;
  TreeModel* model_;
  frontend::UpdateQueue* updates_;
  HIMAGELIST pictures_ = nullptr;
  std::unordered_map<const TreeItem*, HTREEITEM> items_;
};

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_FILE_TREE_H_
