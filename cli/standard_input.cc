#include "cli/standard_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "cli/commands.h"
#include "codec/container.h"
#include "platform/console.h"
#include "platform/fileio.h"
#include "wordmodel/hlog.h"

namespace moravine::cli {

namespace {

constexpr int64_t kPiece = 1 << 16;

std::string Reason(const std::exception& failure) {
  std::string what = failure.what();
  while (!what.empty() && (what.back() == '\n' || what.back() == '.')) what.pop_back();
  return what;
}

// Checks the fields of a compressed file's header that the bytes so far
// hold; the length the file must have at least (its whole length once the
// body length has arrived). Fails as the container reader does.
int64_t CheckPrefix(const std::vector<unsigned char>& bytes) {
  if (!bytes.empty() && bytes[0] > 1) {
    HFatal("Fatal Error: First byte of compressed file not 1, actually %d\n",
           static_cast<int>(static_cast<signed char>(bytes[0])));
  }
  const auto have = static_cast<int64_t>(bytes.size());
  int64_t need = HContainer_prefixNeeds(bytes.data(), have);
  while (need <= have) {
    const int64_t next = HContainer_prefixNeeds(bytes.data(), need);
    if (next == need) break;
    need = next;
  }
  return need;
}

// Appends up to `size` bytes; false at the end of the input.
bool ReadMore(std::vector<unsigned char>* bytes, int64_t size, std::string* error, bool* stopped, bool* failed) {
  const size_t before = bytes->size();
  bytes->resize(before + static_cast<size_t>(size));
  const int64_t n = ReadSomeStandardInput(bytes->data() + before, size);
  bytes->resize(before + static_cast<size_t>(n > 0 ? n : 0));
  if (n >= 0) return n > 0;
  *failed = true;
  if (n == -2) {
    *stopped = true;
  } else {
    *error = std::string("cannot be read: ") + std::strerror(errno);
  }
  return false;
}

}  // namespace

int64_t ReadSomeStandardInput(unsigned char* buffer, int64_t size) {
  return ReadStandardInputUnlessStopped(buffer, size, [] { return g_stop_signal.load() != 0; });
}

bool ReadStandardInput(std::vector<unsigned char>* bytes, bool compressed, std::string* error, bool* stopped) {
  bytes->clear();
  *stopped = false;
  bool failed = false;
  HLogCapture quiet;  // the failure is told in *error, not in the log as well
  int64_t need = 1;  // the length the compressed file must reach at least
  try {
    for (;;) {
      int64_t want = kPiece;
      if (compressed && need > static_cast<int64_t>(bytes->size())) {
        want = std::max(want, std::min<int64_t>(need - static_cast<int64_t>(bytes->size()), 1 << 24));
      }
      if (!ReadMore(bytes, want, error, stopped, &failed)) break;
      if (static_cast<int64_t>(bytes->size()) >= kMaxInputBytes) {
        *error = "2 GiB or larger; Moravine handles inputs below 2 GiB only";
        failed = true;
        break;
      }
      if (compressed) {
        need = CheckPrefix(*bytes);
        if (static_cast<int64_t>(bytes->size()) > need) HContainer_lengthError();  // more than the file holds
      }
    }
  } catch (const HFatalFailure& failure) {
    *error = "not a valid compressed file: " + Reason(failure);
    failed = true;
  }
  quiet.take();
  if (failed) {
    bytes->clear();
    bytes->shrink_to_fit();
  }
  return !failed;
}

bool DecodeStandardInput(const HDecodeSink& sink, std::string* error, bool* stopped) {
  *stopped = false;
  bool failed = false;
  std::vector<unsigned char> header;
  HDecodeStream stream;
  HLogCapture quiet;  // the failure is told in *error, not in the log as well
  try {
    // The header, checked field by field as it arrives.
    int64_t end = -1;
    for (;;) {
      const auto have = static_cast<int64_t>(header.size());
      if (have > 0) CheckPrefix(header);
      end = HContainer_headerEnd(header.data(), have);
      if (end >= 0 && have >= end) break;
      const int64_t want = end >= 0 ? std::clamp<int64_t>(end - have, kPiece, 1 << 24) : kPiece;
      if (!ReadMore(&header, want, error, stopped, &failed)) {
        if (failed) return false;
        if (header.empty()) {
          *error = "not a valid compressed file: it is empty";
          return false;
        }
        HContainer_lengthError();  // the input ends inside the header
      }
    }
    int32_t body_length = 0;
    HDecodeStream_begin(&stream, header.data(), static_cast<int32_t>(end), &body_length);
    // Bytes read beyond the header begin the body.
    if (static_cast<int64_t>(header.size()) > end) {
      HDecodeStream_feed(&stream, header.data() + end, static_cast<int32_t>(header.size() - end), sink);
    }
    std::vector<unsigned char> piece;
    for (;;) {
      piece.clear();
      if (!ReadMore(&piece, kPiece, error, stopped, &failed)) break;
      HDecodeStream_feed(&stream, piece.data(), static_cast<int32_t>(piece.size()), sink);
    }
    if (failed) return false;
    int32_t text_length = 0;
    HDecodeStream_finish(&stream, sink, &text_length);
  } catch (const HFatalFailure& failure) {
    *error = "not a valid compressed file: " + Reason(failure);
    quiet.take();
    return false;
  }
  return true;
}

}  // namespace moravine::cli
