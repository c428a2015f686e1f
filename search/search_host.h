// What the search needs from the platform: the temporary directory, the
// process id, exclusive file creation, child processes and read-only
// mapping, and whether agrep may run in-process. platform/ provides the
// implementation.
#ifndef MORAVINE_SEARCH_SEARCH_HOST_H_
#define MORAVINE_SEARCH_SEARCH_HOST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wordmodel/hlog.h"

class SearchHost {
 public:
  // An open file of the host's, opaque to the search: a descriptor on POSIX
  // systems, a handle on Windows.
  using File = intptr_t;
  static constexpr File kNoFile = -1;

  virtual ~SearchHost() = default;

  // The temporary directory, ending with a path separator.
  virtual std::string temporaryDirectory() const = 0;
  virtual int64_t processId() const = 0;

  // Creates a file that must not exist yet, for reading and writing, readable
  // and writable by the owner only. Returns the open file, or kNoFile with errno
  // set (EEXIST when the name is taken; a planted link counts as taken).
  virtual File createExclusive(const std::string& path) = 0;
  // Writes everything, retrying short writes; false with errno set on failure.
  virtual bool writeAll(File file, const void* data, size_t length) = 0;
  virtual int closeFile(File file) = 0;
  virtual void removeFile(const std::string& path) = 0;

  // Starts argv[0], found through the command search path, with the given
  // arguments passed as they are, its standard output sent to `out`, and
  // waits for it. Returns 0 with the exit status; -1 with errno set when it
  // cannot be started; -2 when it ended without an exit status.
  virtual int runProcess(const std::vector<std::string>& argv, File out, int* exit_status) = 0;

  // Maps an open file read-only; false with errno set on failure. An empty
  // file gives no bytes and needs no unmapping.
  virtual bool mapFile(File file, const unsigned char** data, int64_t* size) = 0;
  virtual void unmapFile(const unsigned char* data, int64_t size) = 0;
  // A hint that the bytes [data, data + length), of a mapped file, are about
  // to be read through: the host may map their pages in at once, which costs
  // less than a page fault at a time. What is read stays the same.
  virtual void willRead(const unsigned char* data, int64_t length) {
    (void)data;
    (void)length;
  }

  // Whether the agrep that runProcess would start is the one built with this
  // program, so that the search may run the same matching in its own
  // process instead: no child process and no temporary files, with the same
  // matched tokens and the same messages.
  virtual bool useBundledMatcher() const { return false; }

  // Whether the search was asked to stop: long loops ask every few thousand
  // steps and then throw HCancelled, and a running agrep is ended.
  virtual bool cancelled() const { return false; }
  // Throws HCancelled when cancelled().
  void checkCancel() const {
    if (cancelled()) throw HCancelled();
  }
};

#endif  // MORAVINE_SEARCH_SEARCH_HOST_H_
