#include "batch/job_path.h"

namespace moravine {

namespace {
thread_local std::string t_job_path;
}  // namespace

const std::string& CurrentJobPath() { return t_job_path; }
void SetCurrentJobPath(const std::string& path) { t_job_path = path; }

}  // namespace moravine
