// The path of the job running on the calling thread, for messages that name
// their file.
#ifndef MORAVINE_BATCH_JOB_PATH_H_
#define MORAVINE_BATCH_JOB_PATH_H_

#include <string>

namespace moravine {

// Empty outside jobs.
const std::string& CurrentJobPath();
void SetCurrentJobPath(const std::string& path);

}  // namespace moravine

#endif  // MORAVINE_BATCH_JOB_PATH_H_
