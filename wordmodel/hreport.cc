#include "wordmodel/hreport.h"

#include "wordmodel/hdictionary.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hrule.h"

void HPrint_modelInfos(const HModel* model, int32_t body_length, int32_t text_length, int32_t parsing_rule) {
  const HCodetable* table = &model->codetable;
  int32_t jumpers = model->jumpers.count;
  HLog_report("\n------------------- Global infos --------------------\n\n");
  HLog_report("Parsing rule = %d\n", parsing_rule);
  HLog_report("Text length = %d\n", text_length);
  HLog_report("Compressed body length = %d\n", body_length);
  HLog_report("Dictionary size = %d, Dictionary length = %d\n", model->dictionary.token_count,
              model->dictionary.string_length);
  HLog_report("Max codeword length = %d\n", table->max_cw_length);
  HLog_report("Number of jumpers = %d, average jump size = %d chars\n", jumpers,
              jumpers > 0 ? text_length / jumpers : 0);
  if (HRule_unicode(parsing_rule)) HLog_report("Text checksum (CRC-32) = %08x\n", model->text_checksum);
  HLog_report("\n");
  int32_t top = table->max_cw_length;
  if (top > 4) top = 4;  // a damaged table must not index beyond its levels
  for (int32_t l = top; l >= 1; --l) {
    HLog_report("Offset[%d] = %d, First_cw[%d] = %x\n", l, table->Offset[l], l,
                static_cast<unsigned>(table->First_cw[l]));
  }
}

void HPrint_globalInfos(const HModel* model, int32_t body_length, int32_t text_length, int32_t file_length,
                        int32_t parsing_rule, int32_t report_level) {
  HPrint_modelInfos(model, body_length, text_length, parsing_rule);
  float ratio = text_length != 0 ? static_cast<float>(static_cast<double>(file_length) / text_length) : 0.0f;
  HLog_report("\n Overall compressed file length = %d, compression ratio (percentage) = %.1f \n\n", file_length,
              static_cast<double>(ratio) * 100.0);
  if (report_level > 1) HDictionary_print(&model->dictionary, model, true);
}
