#include "app/settingsDialog.h"

#include "app/controlIds.h"
#include "app/dialogBoxes.h"
#include "app/notesPath.h"
#include "app/programPath.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

namespace {

constexpr int kRotationEntries = 4;

// Shows the notes file ("readme.txt" beside the program unless set elsewhere) in the progress
// list (emptied first, also when there are no notes).
void showNotes(DialogPort* dialog) {
  LineList* notes = loadLineList(notesPath());
  fillListBox(notes, dialog);
  freeLineList(notes);
}

// Fills and shows the rotation box with the rotation in force selected; a rotation without
// entry (4 or more) selects none.
void showRotationBox(DialogPort* dialog) {
  if (!dialog) return;
  if (dialog->resetCombo) dialog->resetCombo(dialog, kRotationBoxId);
  static const char* const kEntries[kRotationEntries] = {"0", "1", "2", "3"};
  if (dialog->addComboItem) {
    for (const char* entry : kEntries)
      dialog->addComboItem(dialog, kRotationBoxId, entry);
  }
  int selected = textureRotation < kRotationEntries ? textureRotation : -1;
  if (dialog->selectComboItem) dialog->selectComboItem(dialog, kRotationBoxId, selected);
  if (dialog->showControl) {
    dialog->showControl(dialog, kRotationBoxId);
    dialog->showControl(dialog, kRotationGroupId);
  }
}

}  // namespace

void loadSettings(DialogPort* dialog) noexcept {
  loadSettingsFiles(programPath("param.txt"), programPath("reflist.txt"),
                    programPath("tergetlist.txt"));
  if ((matchSettings.sw & kSwitchHideNotes) == 0) showNotes(dialog);
  if (matchSettings.sw & kSwitchShowRotationBox) showRotationBox(dialog);
  fillPathBoxes(dialog);
}

void fillPathBoxes(DialogPort* dialog) noexcept {
  fillComboBox(referenceList, dialog, kReferenceBoxId);
  fillComboBox(targetList, dialog, kTargetBoxId);
}
