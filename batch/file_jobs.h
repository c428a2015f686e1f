// The jobs that compress one file to NAME.hwz and decompress NAME.hwz back
// to NAME, each on a worker thread of its own.
#ifndef MORAVINE_BATCH_FILE_JOBS_H_
#define MORAVINE_BATCH_FILE_JOBS_H_

#include <cstdint>
#include <string>

#include "batch/main_dialog.h"

// Thread procedures; each takes ownership of its JobParams and returns 0.
int CompressJob(moravine::JobParams* params);
int DecompressJob(moravine::JobParams* params);

// For a text compressed with an ASCII model: a line that advises the
// Unicode models when more than a few per cent of its letters lie outside
// ASCII (the ASCII models cannot make words of those); empty otherwise.
std::string UnicodeHint(const unsigned char* text, int64_t length);

#endif  // MORAVINE_BATCH_FILE_JOBS_H_
