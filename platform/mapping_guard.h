// Keeps a mapped file that shrinks under us from killing the process.
//
// Reading a page of a mapping past the end of a file that another process
// has truncated raises SIGBUS (on Windows, where nobody can cut short a
// file that is mapped, a read error of the disk or the network raises
// EXCEPTION_IN_PAGE_ERROR instead). Every mapping that Moravine makes of a file
// it does not own is registered here; when such a fault hits a registered
// range, the handler puts zero-filled anonymous memory over the rest of the
// range, marks it as damaged and lets the access go on. (Windows: a view
// cannot be replaced in part, so the whole view gives way to zero-filled
// memory, which its owner then frees with VirtualFree rather than unmapping
// it.) The job then sees
// the mark, reports that the file changed while it was read, and throws its
// result away. Faults outside registered ranges keep their default action.
#ifndef MORAVINE_PLATFORM_MAPPING_GUARD_H_
#define MORAVINE_PLATFORM_MAPPING_GUARD_H_

#include <cstddef>

namespace moravine {

class MappingGuard {
 public:
  MappingGuard() = default;
  ~MappingGuard() { release(); }
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  // Watches [start, start + length); false when every slot is taken, in
  // which case the mapping works unguarded.
  bool watch(const void* start, size_t length);
  // Stops watching; call before the range is unmapped.
  void release();
  // Stops watching and forgets the damage, for the next range.
  void reset() {
    release();
    damaged_ = false;
  }
  // Whether a fault replaced part of the range with zeros, while it was
  // watched.
  bool damaged() const;

 private:
  int slot_ = -1;
  bool damaged_ = false;
};

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_MAPPING_GUARD_H_
