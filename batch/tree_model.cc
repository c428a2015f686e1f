#include "batch/tree_model.h"

#include <algorithm>
#include <cctype>

#include "platform/temp_files.h"

namespace moravine {

const char kPlaceholderText[] = "$$DUMMY$$";

bool EndsWithHwz(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".hwz") == 0;
}

namespace {

// The end of the name that starts at `pos`: the next separator, or the end.
size_t NameEnd(const std::string& path, size_t pos) {
  while (pos < path.size() && !IsPathSeparator(path[pos])) ++pos;
  return pos;
}

// Roots compare as file systems do: drive letters in either case.
bool SameRootText(const std::string& root, const std::string& path) {
  if (path.size() < root.size()) return false;
  for (size_t i = 0; i < root.size(); ++i) {
    const char a = root[i];
    const char b = path[i];
    if (IsPathSeparator(a) && IsPathSeparator(b)) continue;
    if (std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b))) return false;
  }
  return true;
}

}  // namespace

bool DescribeTreePath(FileSystem* fs, const std::string& path, PathItem* item) {
  const size_t root = RootLength(path);
  if (root == 0) return false;
  if (root == path.size()) {
    *item = PathItem{IMG_DRIVE, path};
    return true;
  }
  // The tree leaves out the files that Moravine is writing, and whatever
  // lies below such a name.
  for (size_t pos = root; pos < path.size();) {
    const size_t end = NameEnd(path, pos);
    if (IsTemporaryName(path.substr(pos, end - pos))) return false;
    pos = end + 1;
  }
  DirEntry entry;
  if (!fs->describe(path, &entry)) return false;
  if (entry.is_directory || entry.is_link_to_directory) {
    *item = PathItem{IMG_FOLDER, path};
  } else if (!entry.is_regular) {
    return false;
  } else if (!EndsWithHwz(entry.name)) {
    // With a compressed version beside it, the file shows as both.
    *item = PathItem{fs->fileSize(path + ".hwz") >= 0 ? IMG_BOTH : IMG_PLAIN, path};
  } else {
    const std::string original = path.substr(0, path.size() - 4);
    *item = fs->fileSize(original) >= 0 ? PathItem{IMG_BOTH, original} : PathItem{IMG_COMPRESSED, path};
  }
  return true;
}

bool TreeTextLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

void TreeModel::AddPlaceholder(TreeItem* item) {
  auto placeholder = std::make_unique<TreeItem>();
  placeholder->text = kPlaceholderText;
  placeholder->image = IMG_DRIVE;
  placeholder->parent = item;
  item->children.push_back(std::move(placeholder));
}

void TreeModel::AddDrives() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const std::string& name : FileSystemRoots()) {
    std::vector<DirEntry> entries;
    // A drive without a medium, or a root that cannot be read, is left out.
    if (!fs_->enumerate(name, &entries) || entries.empty()) continue;
    auto root = std::make_unique<TreeItem>();
    root->text = name;
    root->image = IMG_DRIVE;
    AddPlaceholder(root.get());
    roots_.push_back(std::move(root));
  }
  if (roots_.empty()) return;
  if (observer_) observer_->childrenChanged(nullptr);
  if (roots_.size() == 1) PopulateItem(roots_.front().get());
}

TreeItem* TreeModel::RootOf(const std::string& path, size_t* length) const {
  const size_t root = RootLength(path);
  if (root == 0) return nullptr;
  for (const auto& item : roots_) {
    if (item->text.size() == root && SameRootText(item->text, path)) {
      *length = root;
      return item.get();
    }
  }
  return nullptr;
}

void TreeModel::PopulateItem(TreeItem* item) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!item || item->children.empty() || item->children.front()->text != kPlaceholderText) return;
  item->children.clear();
  index_.erase(item);
  std::string dir = ItemPath(item);
  std::vector<DirEntry> entries;
  fs_->enumerate(dir, &entries);

  std::vector<std::unique_ptr<TreeItem>> folders;
  std::vector<std::unique_ptr<TreeItem>> files;
  for (const DirEntry& e : entries) {
    if (IsTemporaryName(e.name)) continue;  // a file that Moravine is writing
    auto child = std::make_unique<TreeItem>();
    child->parent = item;
    if (e.is_directory || e.is_link_to_directory) {
      child->text = e.name;
      child->image = IMG_FOLDER;
      AddPlaceholder(child.get());
      folders.push_back(std::move(child));
    } else if (e.is_regular) {
      std::string path = JoinPath(dir, e.name);
      if (!EndsWithHwz(e.name)) {
        if (fs_->fileSize(path + ".hwz") >= 0) continue;  // the .hwz entry stands for both
        child->text = e.name;
        child->image = IMG_PLAIN;
      } else if (fs_->fileSize(path.substr(0, path.size() - 4)) >= 0) {
        child->text = e.name.substr(0, e.name.size() - 4);
        child->image = IMG_BOTH;
      } else {
        child->text = e.name;
        child->image = IMG_COMPRESSED;
      }
      files.push_back(std::move(child));
    }
  }
  auto by_text = [](const std::unique_ptr<TreeItem>& a, const std::unique_ptr<TreeItem>& b) {
    return TreeTextLess(a->text, b->text);
  };
  std::stable_sort(folders.begin(), folders.end(), by_text);
  std::stable_sort(files.begin(), files.end(), by_text);
  for (auto& f : folders) item->children.push_back(std::move(f));
  for (auto& f : files) item->children.push_back(std::move(f));
  if (observer_) observer_->childrenChanged(item);
}

std::string TreeModel::ItemPath(const TreeItem* item) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<const std::string*> names;
  for (; item && item->parent; item = item->parent) names.push_back(&item->text);
  if (!item) return std::string();
  std::string path = item->text;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path = JoinPath(path, **it);
  return path;
}

TreeItem* TreeModel::FindItemByPath(const std::string& path) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  size_t pos = 0;
  TreeItem* item = RootOf(path, &pos);
  while (item && pos < path.size()) {
    const size_t end = NameEnd(path, pos);
    const std::string name = path.substr(pos, end - pos);
    TreeItem* found = name == kPlaceholderText ? nullptr : FindChild(item, name);
    if (!found) return nullptr;
    item = found;
    pos = end + 1;
  }
  return item;
}

TreeItem* TreeModel::RevealPath(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  size_t pos = 0;
  TreeItem* item = RootOf(path, &pos);
  if (!item) {
    if (roots_.empty()) return nullptr;
    item = roots_.front().get();
    pos = path.size();
  }
  PopulateItem(item);
  while (pos < path.size()) {
    const size_t end = NameEnd(path, pos);
    const std::string name = path.substr(pos, end - pos);
    pos = end + 1;
    if (name.empty()) continue;
    TreeItem* found = nullptr;
    for (const auto& child : item->children) {
      // A file is found by either of its names when it has both versions.
      if (child->text == name || (child->image == IMG_BOTH && child->text + ".hwz" == name)) {
        found = child.get();
        break;
      }
    }
    if (!found) break;
    item = found;
    PopulateItem(item);
  }
  return item;
}

void TreeModel::SetItemImage(TreeItem* item, int image) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  item->image = image;
  if (observer_) observer_->itemChanged(item);
}

TreeItem* TreeModel::FindChild(const TreeItem* parent, const std::string& name) const {
  constexpr size_t kIndexFrom = 64;
  if (parent->children.size() < kIndexFrom) {
    for (const auto& child : parent->children) {
      if (child->text == name) return child.get();
    }
    return nullptr;
  }
  auto [it, made] = index_.try_emplace(parent);
  if (made) {
    for (const auto& child : parent->children) it->second.emplace(child->text, child.get());
  }
  auto found = it->second.find(name);
  return found == it->second.end() ? nullptr : found->second;
}

void TreeModel::SetItemText(TreeItem* item, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = item->parent ? index_.find(item->parent) : index_.end();
  if (it != index_.end()) {
    auto old = it->second.find(item->text);
    if (old != it->second.end() && old->second == item) it->second.erase(old);
    it->second.emplace(text, item);
  }
  item->text = text;
  if (observer_) observer_->itemChanged(item);
}

}  // namespace moravine
