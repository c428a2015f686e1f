// The jobs that compress one file to NAME.hwz and decompress NAME.hwz back
// to NAME, each on a worker thread of its own.
#ifndef MORAVINE_CODEC_JOBS_FILE_JOBS_H_
#define MORAVINE_CODEC_JOBS_FILE_JOBS_H_

#include "shell/main_dialog.h"

// Thread procedures; each takes ownership of its JobParams and returns 0.
int CompressJob(moravine::JobParams* params);
int DecompressJob(moravine::JobParams* params);

#endif  // MORAVINE_CODEC_JOBS_FILE_JOBS_H_
