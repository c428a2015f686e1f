#include "winui/file_tree.h"

#include <mutex>

#include "winui/resource.h"
#include "winui/text.h"

namespace moravine::winui {

namespace {

// The six pictures in the order of the picture indices, at the size of the
// system's small icons (16 pixels, more on a screen of higher density).
HIMAGELIST LoadPictures() {
  const int size = GetSystemMetrics(SM_CXSMICON);
  HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 6, 0);
  for (int id : {IDI_DRIVE, IDI_FOLDER, IDI_FOLDER_OPEN, IDI_DOCUMENT, IDI_COMPRESSED, IDI_BOTH}) {
    auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size,
                                              size, LR_DEFAULTCOLOR));
    ImageList_AddIcon(list, icon);
    DestroyIcon(icon);
  }
  return list;
}

bool Unread(const TreeItem* node) {
  return node->children.size() == 1 && node->children.front()->text == kPlaceholderText;
}

}  // namespace

FileTree::FileTree(HWND view, TreeModel* model, frontend::UpdateQueue* updates)
    : view_(view), model_(model), updates_(updates), pictures_(LoadPictures()) {
  TreeView_SetImageList(view_, pictures_, TVSIL_NORMAL);
  model_->setObserver(this);
}

FileTree::~FileTree() {
  TreeView_SetImageList(view_, nullptr, TVSIL_NORMAL);
  ImageList_Destroy(pictures_);
}

void FileTree::childrenChanged(TreeItem* item) {
  updates_->post([this, item] { rebuildChildren(item); });
}

void FileTree::itemChanged(TreeItem* item) {
  updates_->post([this, item] { refreshItem(item); });
}

HTREEITEM FileTree::viewItem(const TreeItem* item) const {
  auto it = items_.find(item);
  return it == items_.end() ? nullptr : it->second;
}

TreeItem* FileTree::selectedModelItem() const {
  HTREEITEM selected = TreeView_GetSelection(view_);
  if (!selected) return nullptr;
  TVITEMW item{};
  item.mask = TVIF_PARAM;
  item.hItem = selected;
  TreeView_GetItem(view_, &item);
  return reinterpret_cast<TreeItem*>(item.lParam);
}

int FileTree::pictureOf(const TreeItem* node) const {
  HTREEITEM handle = viewItem(node);
  if (!handle) return -1;
  TVITEMW item{};
  item.mask = TVIF_IMAGE;
  item.hItem = handle;
  TreeView_GetItem(view_, &item);
  return item.iImage;
}

HTREEITEM FileTree::insert(HTREEITEM parent, TreeItem* node) {
  std::wstring text = Widen(node->text);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
  insert.item.pszText = text.data();
  insert.item.iImage = insert.item.iSelectedImage = node->image;
  insert.item.lParam = reinterpret_cast<LPARAM>(node);
  // A folder not read yet holds only the placeholder, which the view does
  // not show: its item just offers to open.
  const bool unread = Unread(node);
  insert.item.cChildren = unread || !node->children.empty() ? 1 : 0;
  HTREEITEM item = TreeView_InsertItem(view_, &insert);
  items_[node] = item;
  if (!unread) {
    for (const auto& child : node->children) this->insert(item, child.get());
  }
  return item;
}

void FileTree::forget(HTREEITEM item) {
  for (HTREEITEM child = TreeView_GetChild(view_, item); child; child = TreeView_GetNextSibling(view_, child)) {
    forget(child);
  }
  TVITEMW data{};
  data.mask = TVIF_PARAM;
  data.hItem = item;
  TreeView_GetItem(view_, &data);
  items_.erase(reinterpret_cast<TreeItem*>(data.lParam));
}

void FileTree::rebuildChildren(TreeItem* node) {
  std::lock_guard<std::recursive_mutex> lock(model_->mutex());
  HTREEITEM parent = node ? viewItem(node) : TVI_ROOT;
  if (!parent) return;
  HTREEITEM first = node ? TreeView_GetChild(view_, parent) : TreeView_GetRoot(view_);
  for (HTREEITEM child = first; child;) {
    HTREEITEM next = TreeView_GetNextSibling(view_, child);
    forget(child);
    TreeView_DeleteItem(view_, child);
    child = next;
  }
  const auto& children = node ? node->children : model_->roots();
  for (const auto& child : children) insert(parent, child.get());
  if (node) {
    TVITEMW item{};
    item.mask = TVIF_CHILDREN;
    item.hItem = parent;
    item.cChildren = children.empty() ? 0 : 1;
    TreeView_SetItem(view_, &item);
  }
}

void FileTree::refreshItem(TreeItem* node) {
  std::lock_guard<std::recursive_mutex> lock(model_->mutex());
  HTREEITEM handle = viewItem(node);
  if (!handle) return;
  std::wstring text = Widen(node->text);
  TVITEMW item{};
  item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  item.hItem = handle;
  item.pszText = text.data();
  item.iImage = item.iSelectedImage = node->image;
  TreeView_SetItem(view_, &item);
}

void FileTree::expanding(const NMTREEVIEWW& change) {
  if (change.action != TVE_EXPAND) return;
  auto* node = reinterpret_cast<TreeItem*>(change.itemNew.lParam);
  if (node && Unread(node)) model_->PopulateItem(node);
}

void FileTree::toggleSelected() {
  if (HTREEITEM selected = TreeView_GetSelection(view_)) TreeView_Expand(view_, selected, TVE_TOGGLE);
}

void FileTree::reveal(TreeItem* node) {
  HTREEITEM item = viewItem(node);
  if (!item) return;
  TreeView_EnsureVisible(view_, item);
  TreeView_SelectItem(view_, item);
}

void FileTree::expand(TreeItem* node) {
  if (HTREEITEM item = viewItem(node)) TreeView_Expand(view_, item, TVE_EXPAND);
}

}  // namespace moravine::winui
