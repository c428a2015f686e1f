// The statistics report: the exact lines that land in the log file after a
// compression or a decompression.
#include "test_support.h"
#include "wordmodel/hreport.h"

namespace mtest {
namespace {

class ReportTest : public LibTest {};

TEST_F(ReportTest, CompressionReportOfATinyText) {
  Compress("a b", 0, 0, 1);
  EXPECT_EQ(TakeReport(),
            "\n------------------- Global infos --------------------\n\n"
            "Parsing rule = 0\n"
            "Text length = 3\n"
            "Compressed body length = 3\n"
            "Dictionary size = 3, Dictionary length = 6\n"
            "Max codeword length = 1\n"
            "Number of jumpers = 0, average jump size = 0 chars\n\n"
            "Offset[1] = 0, First_cw[1] = 0\n"
            "\n Overall compressed file length = 66, compression ratio (percentage) = 2200.0 \n\n");
  Compress("a b", 0, 0, 0);
  EXPECT_EQ(TakeReport(), "");
}

TEST_F(ReportTest, DecompressionReportsTheStoredBody) {
  Decompress(Compress("a b", 1), 1, 1);
  std::string report = TakeReport();
  EXPECT_NE(report.find("Parsing rule = 1\nText length = 3\nCompressed body length = 2\n"), std::string::npos);
  EXPECT_NE(report.find("file length = 65, compression ratio (percentage) = 2166.7 \n"), std::string::npos);

  Decompress(Compress("a b", 0, 128), 0, 2);  // level 2 appends the dictionary listing
  report = TakeReport();
  EXPECT_NE(report.find("Number of jumpers = 1, average jump size = 3 chars\n\n"), std::string::npos);
  EXPECT_NE(report.find("\n\n================== Dictionary ====================\n"), std::string::npos);
  EXPECT_EQ(report.substr(report.size() - 32), "\nb:plain_cw = 2 cwlen 7 (bits)\n\n");
}

TEST_F(ReportTest, CodeTableLinesAndRatio) {
  Built built("x y z x y x");  // any model; the figures below are passed in
  built.model.codetable = HCodetable{{0, 1, 128, 0, 0}, {0, 16257, 16512, 0, 16512}, 3, 16384};
  HPrint_globalInfos(&built.model, 100, 1000, 250, 0, 1);
  std::string report = TakeReport();
  EXPECT_NE(report.find("Offset[3] = 0, First_cw[3] = 0\nOffset[2] = 16512, First_cw[2] = 80\n"
                        "Offset[1] = 16257, First_cw[1] = 1\n\n Overall compressed file length = 250, "
                        "compression ratio (percentage) = 25.0 \n\n"),
            std::string::npos)
      << report;
}

}  // namespace
}  // namespace mtest
