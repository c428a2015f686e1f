// The job that searches one compressed file for the window's search word
// and adds a row to the results list for every hit.
#ifndef MORAVINE_SEARCH_SEARCH_JOB_H_
#define MORAVINE_SEARCH_SEARCH_JOB_H_

#include "shell/main_dialog.h"

// Thread procedure; takes ownership of its JobParams and returns 0.
int SearchJob(moravine::JobParams* params);

#endif  // MORAVINE_SEARCH_SEARCH_JOB_H_
