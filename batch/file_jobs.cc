#include "batch/file_jobs.h"

#include <atomic>
#include <exception>
#include <string>

#include "codec/compress.h"
#include "codec/decompress.h"
#include "wordmodel/hrule.h"
#include "wordmodel/hunicode.h"
#include "batch/job_frame.h"
#include "platform/fileio.h"
#include "wordmodel/hlog.h"

using moravine::CMainDlg;
using moravine::JobParams;
using moravine::MappedFile;

namespace {

// Advice, to the log and the window, for a text of many letters outside
// ASCII that the ASCII models do not take as words.
void GiveUnicodeHint(moravine::WindowControls* ui, const MappedFile& input) {
  const std::string hint = UnicodeHint(input.data(), input.size());
  if (hint.empty()) return;
  HLog_report("%s\n", hint.c_str());
  ui->showHint(hint);
}

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
  // is mapped again from the cache. The counting threads hand over the
  // parts they have read, in any order: their sum is the job's progress.
  moravine::WindowControls* ui = owner->controls();
  const int32_t length = static_cast<int32_t>(input.size());
  std::atomic<int64_t> counted{0};
  auto text_read = [&input, &counted, ui, &path, length](int32_t begin, int32_t end) {
    input.dropPages(begin, end);
    ui->jobProgress(path, counted.fetch_add(end - begin) + (end - begin), length);
  };
  // The compressed file keeps the original's permission bits, owner and
  // times: a private text stays private.
  moravine::FileAttributes attributes = input.attributes();
  // The file is written straight into a new file beside the target, mapped
  // and with its space reserved, where the file system allows; otherwise
  // into memory, and then written out.
  moravine::MappedOutput mapped;
  bool into_mapped = false;
  auto space = [&](int64_t size) -> unsigned char* {
    moravine::WriteFailure ignored;
    int ignored_error = 0;
    if (!mapped.create(target, size, &ignored, &ignored_error, &attributes)) return nullptr;
    into_mapped = true;
    return mapped.data();
  };
  try {
    HCompress_rule(input.data(), length, HRule_of(owner->unicodeModel(), spaceless), distance > 0 ? distance : 0,
                   &out, &out_length, 1, threads, text_read, space);
  } catch (...) {
    if (input.changed()) return moravine::ReportChangedInput(owner, path);
    const std::string why = moravine::FailureText(std::current_exception());
    return ui->showError(moravine::FailureMessage(ui, "Compression failed.", why));
  }
  // A file cut short or rewritten while it was read gave a mixture of old
  // and new bytes: nothing of it is kept.
  if (input.changed()) return moravine::ReportChangedInput(owner, path);
  if (!owner->unicodeModel()) GiveUnicodeHint(ui, input);
  moravine::WriteFailure failure;
  int error = 0;
  const bool written = into_mapped ? mapped.commit(out_length, &failure, &error)
                                   : moravine::WriteFileAtomically(target, out.get(), out_length, &failure,
                                                                   &error, &attributes);
  if (!written) {
    owner->ShowErrorBox(failure == moravine::WriteFailure::kCreate ? "Error creating archive file."
                                                                   : "Error writing to archive file.",
                        error);
  } else {
    ui->fileWritten(path, target, length, out_length);
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

// The text length that a compressed file's header states (bytes 1 to 4,
// most significant first), or 0 when the file is too short to hold it.
int64_t StatedTextLength(const unsigned char* data, size_t size) {
  if (size < 5) return 0;
  return (int64_t{data[1]} << 24) | (int64_t{data[2]} << 16) | (int64_t{data[3]} << 8) | int64_t{data[4]};
}

// A failed write of the output, which stops the decoding.
struct OutputWriteFailure {
  int error;
};

void Decompress(JobParams& params) {
  CMainDlg* owner = params.owner;
  std::string path = params.path;
  owner->controls()->setStatus(moravine::BoundedFormat("Decompressing %s...", path));
  HLog_report("%s", moravine::BoundedFormat("\n=== Decompressing %s ===\n", path).c_str());
  if (path.size() < 5 || path.compare(path.size() - 4, 4, ".hwz") != 0) return;
  std::string target = path.substr(0, path.size() - 4);

  MappedFile input;
  if (!moravine::MapJobInput(owner, path, &input)) return;
  // The text goes to the file a piece at a time as it is decoded: the
  // decoder's small buffer stays in the processor's cache, and the whole
  // text is never held in memory.
  moravine::StreamedOutput output;
  moravine::FileAttributes attributes = input.attributes();
  int error = 0;
  if (!output.create(target, &error, &attributes)) {
    owner->ShowErrorBox("Error opening file for writing", error);
    return;
  }
  // The header's text length is what the progress counts towards.
  moravine::WindowControls* ui = owner->controls();
  const int64_t text_length = StatedTextLength(input.data(), input.size());
  int64_t decoded = 0;
  HDecodeSink sink = [&output, &decoded, ui, &path, text_length](const unsigned char* text, int64_t length) {
    int write_error = 0;
    if (!output.write(text, length, &write_error)) throw OutputWriteFailure{write_error};
    decoded += length;
    ui->jobProgress(path, decoded, text_length);
  };
  int32_t written = 0;
  try {
    HDecompress_fileStream(input.data(), static_cast<int32_t>(input.size()), sink, &written, 1);
  } catch (const OutputWriteFailure& failure) {
    output.abort();
    owner->ShowErrorBox("Error writing to file", failure.error);
    return;
  } catch (...) {
    output.abort();
    if (input.changed()) return moravine::ReportChangedInput(owner, path);
    const std::string why = moravine::FailureText(std::current_exception());
    return ui->showError(moravine::FailureMessage(ui, "Decompression failed.", why));
  }
  if (input.changed()) {
    output.abort();
    return moravine::ReportChangedInput(owner, path);
  }
  if (!output.commit(&error)) {
    owner->ShowErrorBox("Error writing to file", error);
    return;
  }
  ui->fileWritten(path, target, static_cast<int64_t>(input.size()), written);
  input.close();
  moravine::TreeModel* tree = owner->tree();
  std::lock_guard<std::recursive_mutex> lock(tree->mutex());
  moravine::TreeItem* item = tree->FindItemByPath(path);
  if (!tree->FindItemByPath(target) && item) {
    tree->SetItemText(item, item->text.substr(0, item->text.size() >= 4 ? item->text.size() - 4 : 0));
    tree->SetItemImage(item, moravine::IMG_BOTH);
  }
}

}  // namespace

std::string UnicodeHint(const unsigned char* text, int64_t length) {
  int64_t ascii = 0;
  int64_t other = 0;
  HUnicode_sampleLetters(text, length, &ascii, &other);
  // More than 3 %: a German text, with its umlauts, stays below; Russian,
  // Greek or Chinese text is far above.
  if (other * 100 <= 3 * (ascii + other) || other == 0) return std::string();
  const int64_t share = other * 100 / (ascii + other);
  return std::to_string(share) + " % of its letters lie outside ASCII and are no words for this model; " +
         "compress with --unicode to search them";
}

int CompressJob(JobParams* params) { return moravine::RunJob(params, Compress); }

int DecompressJob(JobParams* params) { return moravine::RunJob(params, Decompress); }
