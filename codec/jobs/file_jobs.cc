#include "codec/jobs/file_jobs.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "codec/compress.h"
#include "codec/decompress.h"
#include "shell/job_frame.h"
#include "shell/fileio.h"
#include "wordmodel/hcoding.h"
#include "wordmodel/hlog.h"

using moravine::CMainDlg;
using moravine::JobParams;
using moravine::MappedFile;

namespace {

void Compress(JobParams& params) {
  CMainDlg* owner = params.owner;
  std::string path = params.path;
  owner->controls()->setStatus(moravine::BoundedFormat("Compressing %s...", path));
  HLog_report("%s", moravine::BoundedFormat("\n=== Compressing %s ===\n", path).c_str());

  MappedFile input;
  if (!moravine::MapJobInput(owner, path, &input)) return;
  std::string target = path + ".hwz";
  bool spaceless = owner->spacelessModel();
  int distance = owner->pointerDistance();
  int threads = owner->compressThreads();
  HBuffer out;
  int32_t out_length = 0;
  // Counted text is not read again: its pages leave the process's memory
  // (they stay in the page cache) while counting goes on, so that the text,
  // the id streams and the output are never all held at once. Giving back
  // a page that another counting thread still reads is harmless: the page
  // is mapped again from the cache.
  auto text_read = [&input](int32_t begin, int32_t end) {
    if (!input.mapped()) return;
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    uintptr_t from = reinterpret_cast<uintptr_t>(input.data() + begin) & ~(page - 1);
    uintptr_t to = reinterpret_cast<uintptr_t>(input.data() + end);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  };
  try {
    int32_t length = static_cast<int32_t>(input.size());
    if (spaceless) {
      Huffw_spaceless_compress(input.data(), length, &out, &out_length, 1, threads, text_read);
    } else {
      Huffw_compress(input.data(), length, distance > 0 ? distance : 0, &out, &out_length, 1, threads,
                     text_read);
    }
  } catch (...) {
    if (input.changed()) return moravine::ReportChangedInput(owner, path);
    owner->controls()->showError("Compression failed. See log file for details.");
    return;
  }
  // A file cut short or rewritten while it was read gave a mixture of old
  // and new bytes: nothing of it is kept.
  if (input.changed()) return moravine::ReportChangedInput(owner, path);
  moravine::WriteFailure failure;
  int error = 0;
  // The compressed file keeps the original's permission bits, owner and
  // times: a private text stays private.
  moravine::FileAttributes attributes = input.attributes();
  if (!moravine::WriteFileAtomically(target, out.get(), out_length, &failure, &error, &attributes)) {
    owner->ShowErrorBox(failure == moravine::WriteFailure::kCreate ? "Error creating archive file."
                                                                   : "Error writing to archive file.",
                        error);
  }
  out.reset();
  input.close();
  // The item shows both versions when the compressed file is there, which a
  // failed write leaves as it was.
  if (owner->fileSystem()->exists(target)) {
    moravine::TreeModel* tree = owner->tree();
    std::lock_guard<std::recursive_mutex> lock(tree->mutex());
    if (moravine::TreeItem* item = tree->FindItemByPath(path)) tree->SetItemImage(item, moravine::IMG_BOTH);
  }
}

enum class Outcome { kFinished, kUseBuffer };

// Decodes straight into a mapping of the output file, sized by the text
// length that the header announces, which spares a copy of the whole text.
// When the header's length is not the real one, or the file system cannot
// reserve the space in advance, the caller decodes into memory instead.
Outcome DecodeIntoFile(CMainDlg* owner, const MappedFile& input, const std::string& input_path,
                       const std::string& target, bool* done, int32_t* written) {
  *done = false;
  if (input.size() < 5) return Outcome::kUseBuffer;
  int32_t announced;
  HInt_fromstring(input.data() + 1, &announced);
  // A header may announce anything: space is reserved only for what the
  // compressed file can plausibly hold.
  if (announced <= 0 || announced / 64 > input.size()) return Outcome::kUseBuffer;
  moravine::MappedOutput output;
  moravine::WriteFailure failure;
  int error = 0;
  moravine::FileAttributes attributes = input.attributes();
  if (!output.create(target, announced, &failure, &error, &attributes)) {
    if (failure == moravine::WriteFailure::kCreate) {
      owner->ShowErrorBox("Error opening file for writing", error);
      return Outcome::kFinished;
    }
    return Outcome::kUseBuffer;
  }
  bool fits;
#ifdef MADV_POPULATE_WRITE
  // The output's pages are made writable in one call rather than one page
  // fault at a time while decoding; where the kernel lacks the call,
  // decoding faults them in as before.
  ::madvise(output.data(), static_cast<size_t>(announced), MADV_POPULATE_WRITE);
#endif
  try {
    fits = HDecompress_fileInto(input.data(), static_cast<int32_t>(input.size()), output.data(), announced, written,
                                1);
  } catch (...) {
    output.abort();
    if (input.changed()) {
      moravine::ReportChangedInput(owner, input_path);
      return Outcome::kFinished;
    }
    owner->controls()->showError("Decompression failed. See log file for details.");
    return Outcome::kFinished;
  }
  if (input.changed()) {
    output.abort();
    moravine::ReportChangedInput(owner, input_path);
    return Outcome::kFinished;
  }
  if (!fits) return Outcome::kUseBuffer;
  *done = output.commit(*written, &failure, &error);
  if (!*done) owner->ShowErrorBox("Error writing to file", error);
  return Outcome::kFinished;
}

void Decompress(JobParams& params) {
  CMainDlg* owner = params.owner;
  std::string path = params.path;
  owner->controls()->setStatus(moravine::BoundedFormat("Decompressing %s...", path));
  HLog_report("%s", moravine::BoundedFormat("\n=== Decompressing %s ===\n", path).c_str());
  if (path.size() < 5 || path.compare(path.size() - 4, 4, ".hwz") != 0) return;
  std::string target = path.substr(0, path.size() - 4);

  MappedFile input;
  if (!moravine::MapJobInput(owner, path, &input)) return;
  bool done = false;
  int32_t written = 0;
  if (DecodeIntoFile(owner, input, path, target, &done, &written) == Outcome::kFinished) {
    // done says whether the text was written
  } else {
    HBuffer out;
    int32_t out_length = 0;
    try {
      HDecompress_file(input.data(), static_cast<int32_t>(input.size()), &out, &out_length, 1);
    } catch (...) {
      if (input.changed()) return moravine::ReportChangedInput(owner, path);
      owner->controls()->showError("Decompression failed. See log file for details.");
      return;
    }
    if (input.changed()) return moravine::ReportChangedInput(owner, path);
    moravine::WriteFailure failure;
    int error = 0;
    moravine::FileAttributes attributes = input.attributes();
    done = moravine::WriteFileAtomically(target, out.get(), out_length, &failure, &error, &attributes);
    if (!done) {
      owner->ShowErrorBox(
          failure == moravine::WriteFailure::kCreate ? "Error opening file for writing" : "Error writing to file",
          error);
    }
  }
  input.close();
  if (done) {
    moravine::TreeModel* tree = owner->tree();
    std::lock_guard<std::recursive_mutex> lock(tree->mutex());
    moravine::TreeItem* item = tree->FindItemByPath(path);
    if (!tree->FindItemByPath(target) && item) {
      tree->SetItemText(item, item->text.substr(0, item->text.size() >= 4 ? item->text.size() - 4 : 0));
      tree->SetItemImage(item, moravine::IMG_BOTH);
    }
  }
}

}  // namespace

int CompressJob(JobParams* params) { return moravine::RunJob(params, Compress); }

int DecompressJob(JobParams* params) { return moravine::RunJob(params, Decompress); }
