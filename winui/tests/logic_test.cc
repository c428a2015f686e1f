// The Win32 window's logic without a window: the layout at its least size
// and larger (no control overlaps another or leaves the client, Help, Exit
// and Search keep to the right edge, the list takes what is left, the
// splitter stays within bounds), UTF-8 and UTF-16 both ways, the reader's
// edit text in pieces, a cell cut on its left, and the command line.
#include <gtest/gtest.h>

#include "winui/layout.h"
#include "winui/text.h"

namespace moravine::winui {
namespace {

bool Overlap(const Box& a, const Box& b) {
  return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
}

TEST(Layout, ControlsFitTheClientAtEverySize) {
  for (Units units : {Units{6, 13}, Units{7, 16}, Units{12, 26}}) {  // 96, 120 and 192 dots per inch
    const Box least = MinimumClient(units);
    for (Box client : {least, FirstClient(units), Box{0, 0, least.width * 3, least.height * 2}}) {
      for (int splitter : {0, FirstSplitter(units), client.width}) {
        const MainLayout l = LayOut(client.width, client.height, splitter, units);
        for (int i = 0; i < static_cast<int>(Part::kCount); ++i) {
          const Box& a = l.boxes[i];
          EXPECT_GE(a.x, 0) << i;
          EXPECT_GE(a.y, 0) << i;
          EXPECT_LE(a.right(), client.width) << i << " at width " << client.width;
          EXPECT_LE(a.bottom(), client.height) << i;
          EXPECT_GT(a.width, 0) << i;
          EXPECT_GT(a.height, 0) << i;
          EXPECT_FALSE(Overlap(a, l.splitter)) << i;
          for (int j = i + 1; j < static_cast<int>(Part::kCount); ++j) {
            EXPECT_FALSE(Overlap(a, l.boxes[j])) << i << " and " << j << " at width " << client.width;
          }
        }
        // Help, Exit and Search end where the list ends; Cancel at the bottom right.
        for (Part right : {Part::kHelp, Part::kExit, Part::kSearch}) {
          EXPECT_EQ(l[right].right(), l[Part::kResults].right());
        }
        EXPECT_EQ(l[Part::kCancel].right(), l[Part::kStatus].right());
        EXPECT_EQ(l[Part::kResults].bottom(), l[Part::kTree].bottom());
        EXPECT_EQ(l[Part::kTree].right(), l.splitter.x);
      }
    }
  }
}

TEST(Layout, TheSplitterKeepsBothSidesAndTheListGrows) {
  const Units units{6, 13};
  const Box client = FirstClient(units);
  const MainLayout first = LayOut(client.width, client.height, FirstSplitter(units), units);
  EXPECT_EQ(first[Part::kTree].right(), FirstSplitter(units));
  const MainLayout wide = LayOut(client.width + 300, client.height + 200, FirstSplitter(units), units);
  EXPECT_EQ(wide[Part::kResults].width, first[Part::kResults].width + 300);
  EXPECT_EQ(wide[Part::kResults].height, first[Part::kResults].height + 200);
  EXPECT_EQ(wide[Part::kCompress], first[Part::kCompress]);  // the buttons keep their place
  // Dragged too far either way, the splitter stops.
  EXPECT_EQ(ClampSplitter(-50, client.width, units), ClampSplitter(0, client.width, units));
  EXPECT_GE(LayOut(client.width, client.height, 0, units)[Part::kTree].width, units.x(60));
  const MainLayout right = LayOut(client.width, client.height, client.width, units);
  EXPECT_GE(right[Part::kIgnoreCase].x, right[Part::kAllowErrors].right());
}

TEST(Text, Utf8AndUtf16BothWays) {
  const std::string text = "Stra\xC3\x9F" "e \xE2\x80\x94 \xF0\x9F\x93\x96";  // ß, a dash, a book (two units)
  const std::wstring wide = Widen(text);
  ASSERT_EQ(wide.size(), 11u);
  EXPECT_EQ(static_cast<unsigned>(wide[4]), 0xDFu);
  EXPECT_EQ(static_cast<unsigned>(wide[9]), 0xD83Du);
  EXPECT_EQ(static_cast<unsigned>(wide[10]), 0xDCD6u);
  EXPECT_EQ(Narrow(wide), text);
  // Malformed bytes and a lone surrogate become U+FFFD.
  EXPECT_EQ(Widen("a\xFF" "b\xC3"), std::wstring(L"a\uFFFDb\uFFFD"));
  EXPECT_EQ(Widen("\xE0\x80\xAF"), std::wstring(L"\uFFFD"));  // overlong
  EXPECT_EQ(Narrow(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, TheReadersTextInPiecesIsTheWholeText) {
  const std::string text = "one\r\ntwo\nthree\rfour\r\n\r\nend\r";
  EXPECT_EQ(EditText(text), std::wstring(L"one\r\ntwo\r\nthree\r\nfour\r\n\r\nend"));
  // A piece that ends in "\r" leaves it to the next, which then begins
  // with it again (as the reader appends).
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    const size_t next = cut > 0 && text[cut - 1] == '\r' ? cut - 1 : cut;
    EXPECT_EQ(EditText(text.substr(0, cut)) + EditText(text.substr(next)), EditText(text)) << cut;
  }
}

TEST(Text, ACellIsCutOnItsLeft) {
  auto measure = [](const std::wstring& text) { return static_cast<int>(text.size()) * 5; };
  EXPECT_EQ(FitFromRight(L"short", 25, measure), L"short");
  EXPECT_EQ(FitFromRight(L"the far left context", 45, measure), L"\u2026 context");
  EXPECT_EQ(FitFromRight(L"abc", 2, measure), L"\u2026");
  std::wstring pair = L"ab";
  pair += static_cast<wchar_t>(0xD83D);
  pair += static_cast<wchar_t>(0xDCD6);
  EXPECT_EQ(FitFromRight(pair, 10, measure), L"\u2026");  // never half a pair
}

// A file's name keeps its start and its end, the end that tells chapters
// apart; never half a surrogate pair on either side.
TEST(Text, AFileNameIsCutInItsMiddle) {
  auto measure = [](const std::wstring& text) { return static_cast<int>(text.size()) * 5; };
  EXPECT_EQ(FitInMiddle(L"chapter 12.txt", 70, measure), L"chapter 12.txt");
  EXPECT_EQ(FitInMiddle(L"chapter 12.txt", 40, measure), L"chap\u2026txt");
  EXPECT_EQ(FitInMiddle(L"chapter 12.txt", 45, measure), L"chap\u2026.txt");
  EXPECT_EQ(FitInMiddle(L"abc", 2, measure), L"\u2026");
  std::wstring pairs;
  for (int i = 0; i < 3; ++i) pairs += {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDCD6)};
  for (int width = 0; width < 40; width += 5) {
    const std::wstring cut = FitInMiddle(pairs, width, measure);
    EXPECT_LE(static_cast<int>(cut.size()) * 5, std::max(width, 5));
    for (size_t i = 0; i < cut.size(); ++i) {
      const bool high = (cut[i] & 0xFC00) == 0xD800, low = (cut[i] & 0xFC00) == 0xDC00;
      EXPECT_EQ(high, i + 1 < cut.size() && (cut[i + 1] & 0xFC00) == 0xDC00) << width << " at " << i;
      EXPECT_EQ(low, i > 0 && (cut[i - 1] & 0xFC00) == 0xD800) << width << " at " << i;
    }
  }
}

TEST(Text, CommandLine) {
  WinArguments args = ParseWinArguments({"moravine-gui", "C:\\books", "--search", "whale", "--errors", "1"});
  EXPECT_EQ(args.error, "");
  EXPECT_EQ(args.path + "|" + args.search_word + "|" + args.allow_errors, "C:\\books|whale|1");
  EXPECT_TRUE(ParseWinArguments({"moravine-gui", "/?"}).help);
  for (std::vector<std::string> wrong : {std::vector<std::string>{"a", "b"}, {"--bogus"}, {"--search"},
                                         {"--errors", "2"}}) {
    wrong.insert(wrong.begin(), "moravine-gui");
    EXPECT_NE(ParseWinArguments(wrong).error, "");
  }
}

}  // namespace
}  // namespace moravine::winui
