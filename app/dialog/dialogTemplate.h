#pragma once
// The main dialog's template: every control with its id, kind, text and place, in tab order.
// Positions and sizes are dialog units, converted to pixels with the dialog font's metrics.
#include <QFont>
#include <QRect>

#include "app/controlIds.h"

constexpr int kStaticId = -1;  // labels and the separator have no id of their own

enum class ControlKind {
  label,          // static text, left aligned
  pathBox,        // combo box with an edit field, not sorted
  button,         // push button
  defaultButton,  // the push button Enter starts
  icon,           // the program icon
  groupBox,       // frame with a title
  listCombo,      // drop-down list without edit field, sorted
  separator,      // grey line across the dialog
  progressList,   // list box of progress lines
  checkBox,       // check box with its text on the right
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units; a combo box's height is that of its open list
  bool hidden;
};

constexpr const char* kDialogCaption = "Morvane ver. 2.01";
constexpr int kDialogWidth = 299;   // dialog units
constexpr int kDialogHeight = 166;  // dialog units
// The dialog is taller than its template by this much, all of it given to the progress list,
// which reaches down to the dialog's foot: the run's lines, its tally and what was written
// show without scrolling.
constexpr int kDialogGrowth = 40;  // dialog units
// Height of the row under the preview pane: the run's stage, its progress bar and "Cancel".
constexpr int kProgressRowHeight = 12;  // dialog units

// The controls in tab order.
constexpr ControlTemplate kDialogControls[] = {
    {kStaticId, ControlKind::label, "Reference dxf file it was exported by Kelvoran", 12, 6, 253,
     13, false},
    {kReferenceBoxId, ControlKind::pathBox, "", 11, 23, 258, 180, false},
    {kBrowseReferenceId, ControlKind::button, ">>", 274, 23, 19, 12, false},
    {kStaticId, ControlKind::label, "Terget dxf file it was exported by Metasequoia", 12, 46, 253,
     13, false},
    {kTargetBoxId, ControlKind::pathBox, "", 11, 61, 258, 180, false},
    {kBrowseTargetId, ControlKind::button, ">>", 274, 61, 19, 12, false},
    {kAlignBoxId, ControlKind::checkBox, "Align turned parts", 157, 77, 136, 10, false},
    {kIconId, ControlKind::icon, "", 10, 90, 20, 20, false},
    {kRotationGroupId, ControlKind::groupBox, "Rotation", 41, 84, 56, 27, true},
    {kRotationBoxId, ControlKind::listCombo, "", 48, 94, 43, 59, true},
    {kSaveTargetButtonId, ControlKind::defaultButton, "Save Terget..", 157, 92, 76, 18, false},
    {kExitButtonId, ControlKind::button, "exit", 244, 92, 49, 18, false},
    {kKeepTargetBoxId, ControlKind::checkBox, "Keep the rest of the target file", 157, 113, 136, 10,
     false},
    {kStaticId, ControlKind::separator, "", 0, 127, 299, 1, false},
    {kProgressListId, ControlKind::progressList, "", 0, 129, 299, 37, false},
};

// The dialog font's base units: average character width and character height in pixels.
struct DialogUnits {
  int charWidth;
  int charHeight;
  // Dialog units to pixels: x * charWidth / 4 and y * charHeight / 8, rounded to nearest.
  int toPixelsX(int x) const;
  int toPixelsY(int y) const;
  QRect toPixels(int x, int y, int width, int height) const;
};

// Base units of `font`: the width of the 52 letters A-Z, a-z averaged and rounded up by half,
// and the font's line height.
DialogUnits dialogUnitsOf(const QFont& font);

// The template entry of control `id`; null for an id that is not in the table.
const ControlTemplate* findControlTemplate(int id);
