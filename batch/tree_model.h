// The file tree: the root directory, its sub-directories and files, read
// lazily. A file and its compressed version are one item whose picture
// tells which versions exist.
#ifndef MORAVINE_BATCH_TREE_MODEL_H_
#define MORAVINE_BATCH_TREE_MODEL_H_

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/filesystem.h"

namespace moravine {

// Picture indices of the tree items.
enum TreeImage {
  IMG_DRIVE = 0,        // the root; also the placeholder child
  IMG_FOLDER = 1,       // a directory
  IMG_OPEN_FOLDER = 2,  // no item kind uses it
  IMG_PLAIN = 3,        // a file without a compressed version
  IMG_COMPRESSED = 4,   // a .hwz file whose original is absent (text includes .hwz)
  IMG_BOTH = 5,         // a file present in both versions (text is the original's name)
};

// The text of the placeholder child that marks a directory not read yet.
extern const char kPlaceholderText[];

struct TreeItem {
  std::string text;
  int image = IMG_DRIVE;
  TreeItem* parent = nullptr;
  std::vector<std::unique_ptr<TreeItem>> children;
};

// Told about every change, on the thread that made it.
class TreeObserver {
 public:
  virtual ~TreeObserver() = default;
  // The children of the item were replaced (read from disk).
  virtual void childrenChanged(TreeItem* item) = 0;
  // The text or picture of the item changed.
  virtual void itemChanged(TreeItem* item) = 0;
};

class TreeModel {
 public:
  explicit TreeModel(FileSystem* fs) : fs_(fs) {}

  void setObserver(TreeObserver* observer) { observer_ = observer; }

  // Adds the root items (FileSystemRoots(): "/", or on Windows the drives)
  // and reads the first one level deep when it is the only one.
  void AddDrives();
  // Reads the directory of an item that still has its placeholder.
  void PopulateItem(TreeItem* item);
  // The item's full path: the root's ("/", "C:\\") for a root, "/dir/file"
  // ("C:\\dir\\file") below it.
  std::string ItemPath(const TreeItem* item) const;
  // The item showing that full path, or null (also when its directory has
  // not been read).
  TreeItem* FindItemByPath(const std::string& path) const;
  // Reads the directories from the root down to the path, and returns the
  // item that shows it (or the deepest one found).
  TreeItem* RevealPath(const std::string& path);

  void SetItemImage(TreeItem* item, int image);
  void SetItemText(TreeItem* item, const std::string& text);

  const std::vector<std::unique_ptr<TreeItem>>& roots() const { return roots_; }

  // Jobs change items from their threads; every access to items goes
  // through this lock.
  std::recursive_mutex& mutex() const { return mutex_; }

 private:
  void AddPlaceholder(TreeItem* item);
  // The root that begins the absolute `path`, with the length of its text
  // in the path; null when none does.
  TreeItem* RootOf(const std::string& path, size_t* length) const;
  // The child of `parent` whose text is `name` (the first such), or null.
  TreeItem* FindChild(const TreeItem* parent, const std::string& name) const;

  FileSystem* fs_;
  TreeObserver* observer_ = nullptr;
  std::vector<std::unique_ptr<TreeItem>> roots_;
  mutable std::recursive_mutex mutex_;
  // Children by text for folders with many entries, made on first use and
  // dropped when the folder is read again: jobs look their items up one by
  // one, and a folder of 100,000 files must not cost a scan per job.
  mutable std::unordered_map<const TreeItem*, std::unordered_map<std::string, TreeItem*>> index_;
};

// What the tree shows, or would show, for a path: the item's picture and
// its path (a file present in both versions goes by its original's name).
struct PathItem {
  int image = IMG_DRIVE;
  std::string path;
};

// The item that the tree would show for the absolute `path` (or, for a
// file present in both versions, for either of its names), found by
// looking at that path and its other version alone: no folder is read.
// False when the tree would show no item for it.
bool DescribeTreePath(FileSystem* fs, const std::string& path, PathItem* item);

// Whether a name ends in ".hwz" (exactly, lower case) and is longer than that.
bool EndsWithHwz(const std::string& name);

// Order of item texts within a group: alphabetical, letter case second.
bool TreeTextLess(const std::string& a, const std::string& b);

}  // namespace moravine

#endif  // MORAVINE_BATCH_TREE_MODEL_H_
