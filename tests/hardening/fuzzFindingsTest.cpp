// Every fault the fuzz targets found, as the check that caught it. The inputs are the
// minimised findings, written out inline.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testSupport.h"
#include "textfiles/settings.h"

namespace {

// settingsFuzz: the rotation box's rule rewrites the number of line 4; a rest that continued
// the new digits made "0.0.5]" with rotation 2 into "2.5]", which reads back as 2.5.
TEST(FuzzFindings, RotationWrittenIntoLineFourReadsBackAsChosen) {
  struct Case {
    const char* line;
    int selection;
    const char* written;
  } cases[] = {
      {"0.0.5] Advantage Of Same Face Angle", 2, "2 .5] Advantage Of Same Face Angle"},
      {"5x1p1 ;2", 0, "0 x1p1 ;2"},  // "0x1p1" would read as hexadecimal 2
      {"7e ;2", 1, "1e ;2"},         // an exponent without digits is no continuation
      {"3e+x", 1, "1e+x"},
      {"1.5.e5", 3, "3 .e5"},
      {" 12 ;2;rotation", 1, " 1 ;2;rotation"},  // the ordinary case keeps its form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    LineListPtr lines = testLines({"3 ;sw", "0.25", "0.5", c.line, "0.01"});
    settingsLines = lines.get();
    textureRotation = 9;
    setTextureRotation(c.selection);
    settingsLines = nullptr;
    EXPECT_EQ(linesOf(lines.get())[3], c.written);
    matchSettings = MatchSettings{};
    parseSettings(lines.get());
    EXPECT_EQ(matchSettings.textureRotation, c.selection);
  }
  useDefaultSettings();
  textureRotation = 0;
  saveSettingsOnExit = false;
}

}  // namespace
