// The buffers' memory where the C library has no aligned allocation that
// free() releases (Windows: msvcrt has none, and the blocks of its
// _aligned_malloc must not be resized to another alignment). Every block
// is part of a malloc block, placed at its alignment after room for a note
// of where that malloc block starts and of the alignment; resizing
// reallocates the malloc block and moves the bytes when their offset in it
// has to change.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wordmodel/hbuffer.h"

namespace {

struct Note {
  void* base;        // the malloc block
  size_t alignment;  // of the block handed out
  size_t offset;     // of the block handed out in the malloc block
};
// Room for the note (in front of the block handed out), a multiple of every alignment handed out by
// HMemory_allocate, so that those blocks start at the same offset in
// every malloc block (which malloc aligns to 16 bytes at least).
constexpr size_t kRoom = 32;
constexpr size_t kPlainAlignment = 16;
static_assert(sizeof(Note) <= kRoom);

Note* NoteOf(void* p) { return reinterpret_cast<Note*>(static_cast<unsigned char*>(p) - sizeof(Note)); }

// Where the block handed out starts in the malloc block `base`.
unsigned char* Place(void* base, size_t alignment) {
  const auto at = reinterpret_cast<uintptr_t>(base) + kRoom;
  return reinterpret_cast<unsigned char*>((at + alignment - 1) & ~static_cast<uintptr_t>(alignment - 1));
}

// What to ask malloc for: the note's room, the bytes, and the largest
// shift that alignment can need beyond malloc's own 16 bytes.
bool MallocSize(size_t alignment, size_t n, size_t* total) {
  const size_t extra = kRoom + alignment - kPlainAlignment;
  if (n > SIZE_MAX - extra) return false;
  *total = n + extra;
  return true;
}

void* Allocate(size_t alignment, size_t n) {
  size_t total;
  if (!MallocSize(alignment, n, &total)) return nullptr;
  void* base = std::malloc(total);
  if (!base) return nullptr;
  unsigned char* p = Place(base, alignment);
  *NoteOf(p) = Note{base, alignment, static_cast<size_t>(p - static_cast<unsigned char*>(base))};
  return p;
}

}  // namespace

void* HMemory_allocate(size_t n) { return Allocate(kPlainAlignment, n); }

void* HMemory_allocateAligned(size_t alignment, size_t n) {
  return Allocate(alignment < kPlainAlignment ? kPlainAlignment : alignment, n);
}

void* HMemory_resize(void* p, size_t n) {
  if (!p) return HMemory_allocate(n);
  const Note note = *NoteOf(p);
  size_t total;
  if (!MallocSize(note.alignment, n, &total)) return nullptr;
  void* base = std::realloc(note.base, total);
  if (!base) return nullptr;
  unsigned char* q = Place(base, note.alignment);
  const size_t new_offset = static_cast<size_t>(q - static_cast<unsigned char*>(base));
  // realloc kept the bytes at their old offset; n bytes from there lie
  // inside the new malloc block, as both offsets are at most total - n.
  if (new_offset != note.offset) std::memmove(q, static_cast<unsigned char*>(base) + note.offset, n);
  *NoteOf(q) = Note{base, note.alignment, new_offset};
  return q;
}

void HMemory_release(void* p) noexcept {
  if (p) std::free(NoteOf(p)->base);
}
