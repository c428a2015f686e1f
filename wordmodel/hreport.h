// The statistics report written after every compression and decompression.
#ifndef MORAVINE_WORDMODEL_HREPORT_H_
#define MORAVINE_WORDMODEL_HREPORT_H_

#include <cstdint>

#include "wordmodel/hmodel.h"

// Writes the report's figures of the model, up to its code table, for a
// caller that closes the report in its own words.
void HPrint_modelInfos(const HModel* model, int32_t body_length, int32_t text_length, int32_t parsing_rule);

// Writes the global figures to the report stream; with a report level above
// 1 the dictionary listing follows.
void HPrint_globalInfos(const HModel* model, int32_t body_length, int32_t text_length, int32_t file_length,
                        int32_t parsing_rule, int32_t report_level);

#endif  // MORAVINE_WORDMODEL_HREPORT_H_
